// RecordReader: the decoder of binary record files (see record_writer.h for
// the encoding).
//
// Bytes come through an 8192-byte buffer from a file descriptor, or from a
// caller's memory (tests, fuzzing). Nothing read is trusted: a count is only
// a promise, so callers grow containers as elements actually arrive instead
// of reserving what a count asks for, and a count near 2^32 followed by
// nothing fails at the first missing element.
//
// Limits and failures (each throws RecordError kDecode with the message
// "Failed to read postcard data: " followed by the text given here):
// - data ends early, or a read fails: "Hit the end of buffer, expected more
//   data";
// - a 32-bit varint longer than 5 bytes or with a 5th byte above 0x0F, a
//   64-bit varint longer than 10 bytes or with a 10th byte above 1:
//   "Found a varint that didn't terminate";
// - a text longer than the 8192-byte scratch buffer: the end-of-data text;
// - a text that is not UTF-8: "Tried to parse invalid utf-8".
//
// Not thread safe; one reader per file.
#ifndef TREVALON_UTILS_RECORD_READER_H_
#define TREVALON_UTILS_RECORD_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace trevalon {

class RecordReader {
 public:
  static constexpr std::size_t kBufferSize = 8192;
  static constexpr std::size_t kScratchSize = 8192;

  // Reads from `fd`, which stays owned by the caller.
  explicit RecordReader(int fd);
  // Reads `bytes`, which must outlive the reader.
  explicit RecordReader(std::span<const uint8_t> bytes);
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  uint8_t u8() {
    if (pos_ == end_ && !refill()) fail_end_of_data();
    return *pos_++;
  }
  uint32_t varint32();
  uint64_t varint64();
  // A list or map count (a 32-bit varint). Only a promise: see above.
  uint32_t count() { return varint32(); }
  // The text's bytes, valid UTF-8, in the scratch buffer: valid until the
  // next call on this reader.
  std::string_view text();

  [[noreturn]] static void fail_end_of_data();

 private:
  bool refill();

  int fd_ = -1;
  std::unique_ptr<uint8_t[]> buf_;
  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
  std::unique_ptr<char[]> scratch_;
};

// Throws RecordError kDecode "Failed to read postcard data: {message}".
[[noreturn]] void fail_decode(std::string_view message);

// True when `bytes` are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool is_valid_utf8(std::span<const uint8_t> bytes);

// Opens `path` and runs `decode` on a reader over it; bytes after the
// record are ignored. Throws RecordError kOpenFile ("Failed to open file:
// {os text}") when the file cannot be opened (a path with a NUL byte
// included), kDecode for malformed data, or what `decode` throws.
void load_record_file(const std::string& path, const std::function<void(RecordReader&)>& decode);

}  // namespace trevalon

#endif  // TREVALON_UTILS_RECORD_READER_H_
