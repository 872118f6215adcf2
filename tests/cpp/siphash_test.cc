#include "utils/siphash.h"

#include <gtest/gtest.h>

#include <vector>

namespace trevalon {
namespace {

// Streaming in pieces must give the digest of the whole byte string.
TEST(SipHasher13, StreamingMatchesOneShot) {
  std::vector<uint8_t> bytes(37);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  for (std::size_t len = 0; len <= bytes.size(); ++len) {
    const uint64_t whole = siphash13(std::span(bytes.data(), len));
    for (std::size_t cut = 0; cut <= len; ++cut) {
      SipHasher13 h;
      h.write(bytes.data(), cut);
      h.write(bytes.data() + cut, len - cut);
      ASSERT_EQ(h.finish(), whole) << len << " " << cut;
    }
  }
}

TEST(SipHasher13, TypedWritersAreLittleEndian) {
  SipHasher13 a, b;
  a.write_u32(0x04030201u);
  a.write_u16(0x0605);
  const uint8_t raw[] = {1, 2, 3, 4, 5, 6};
  b.write(raw, sizeof raw);
  EXPECT_EQ(a.finish(), b.finish());
}

}  // namespace
}  // namespace trevalon
