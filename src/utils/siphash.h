// SipHash-1-3 with both key words zero: the hash of every value whose hash is
// stored or shown (Python `__hash__`, identity hashes, state hashes, gate
// content hashes). It is the same in every process, unlike `std::hash`.
//
// `SipHasher13` is a streaming hasher over a byte sequence; the typed writers
// append little-endian bytes. A hasher is a plain value, not shared.
#ifndef TREVALON_UTILS_SIPHASH_H_
#define TREVALON_UTILS_SIPHASH_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace trevalon {

class SipHasher13 {
 public:
  SipHasher13() = default;

  void write(const void* data, std::size_t len);
  void write(std::string_view bytes) { write(bytes.data(), bytes.size()); }
  void write_u8(uint8_t v) { write(&v, 1); }
  void write_u16(uint16_t v);
  void write_u32(uint32_t v);
  void write_u64(uint64_t v);
  void write_i64(int64_t v) { write_u64(static_cast<uint64_t>(v)); }

  // The digest of everything written so far; the hasher stays usable.
  uint64_t finish() const;

 private:
  void compress(uint64_t m);

  uint64_t v0_ = 0x736f6d6570736575ULL;
  uint64_t v1_ = 0x646f72616e646f6dULL;
  uint64_t v2_ = 0x6c7967656e657261ULL;
  uint64_t v3_ = 0x7465646279746573ULL;
  uint64_t tail_ = 0;      // pending bytes, little-endian
  std::size_t ntail_ = 0;  // number of pending bytes, 0..7
  uint64_t length_ = 0;    // total bytes written
};

// SipHash-1-3 of one byte string.
uint64_t siphash13(std::span<const uint8_t> bytes);

}  // namespace trevalon

#endif  // TREVALON_UTILS_SIPHASH_H_
