#include "utils/siphash.h"

#include <bit>

namespace trevalon {
namespace {

inline void sip_round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
  v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
  v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
  v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
  v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
}

}  // namespace

void SipHasher13::compress(uint64_t m) {
  v3_ ^= m;
  sip_round(v0_, v1_, v2_, v3_);
  v0_ ^= m;
}

void SipHasher13::write(const void* data, std::size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  length_ += len;
  for (std::size_t i = 0; i < len; ++i) {
    tail_ |= static_cast<uint64_t>(p[i]) << (8 * ntail_);
    if (++ntail_ == 8) {
      compress(tail_);
      tail_ = 0;
      ntail_ = 0;
    }
  }
}

void SipHasher13::write_u16(uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  write(b, 2);
}

void SipHasher13::write_u32(uint32_t v) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  write(b, 4);
}

void SipHasher13::write_u64(uint64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  write(b, 8);
}

uint64_t SipHasher13::finish() const {
  uint64_t v0 = v0_, v1 = v1_, v2 = v2_, v3 = v3_;
  const uint64_t b = ((length_ & 0xff) << 56) | tail_;
  v3 ^= b;
  sip_round(v0, v1, v2, v3);
  v0 ^= b;
  v2 ^= 0xff;
  sip_round(v0, v1, v2, v3);
  sip_round(v0, v1, v2, v3);
  sip_round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

uint64_t siphash13(std::span<const uint8_t> bytes) {
  SipHasher13 h;
  h.write(bytes.data(), bytes.size());
  return h.finish();
}

}  // namespace trevalon
