// RecordWriter: the encoder of binary record files.
//
// A record file is one top-level record written field after field, with no
// header: u8 as one raw byte, every wider integer (and every list, text and
// map count) as an unsigned LEB128 varint, text as its byte length then the
// UTF-8 bytes. Records are written in declaration order with nothing in
// between; `ecc_records.h` says which fields each record has.
//
// Bytes go through an 8192-byte buffer to a file descriptor (or, for tests
// and fuzzing, to a string). A failed write throws RecordError kEncode
// "Failed to write postcard data: The serialize buffer is full"; the writer
// is then unusable. Not thread safe; one writer per file.
#ifndef TREVALON_UTILS_RECORD_WRITER_H_
#define TREVALON_UTILS_RECORD_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace trevalon {

class RecordWriter {
 public:
  static constexpr std::size_t kBufferSize = 8192;
  // The longest text a reader accepts.
  static constexpr std::size_t kMaxText = 8192;

  // Writes to `fd`, which stays owned by the caller.
  explicit RecordWriter(int fd);
  // Appends to `*out`, which must outlive the writer.
  explicit RecordWriter(std::string* out);
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void u8(uint8_t v) {
    if (len_ == kBufferSize) flush();
    buf_[len_++] = v;
  }
  // Unsigned LEB128: 7 bits per byte, low group first.
  void varint(uint64_t v);
  // Length varint, then the bytes; throws RecordError kEncode for a text
  // longer than kMaxText.
  void text(std::string_view s);
  // Writes out the buffer.
  void flush();

 private:
  void write_bytes(const uint8_t* p, std::size_t n);

  int fd_ = -1;
  std::string* out_ = nullptr;
  std::unique_ptr<uint8_t[]> buf_;
  std::size_t len_ = 0;
};

// Saves one record to `path` through `replace_file`: the old file survives
// any failure. `encode` writes the record; the writer is flushed and the
// file synced afterwards. Throws RecordError kCreateFile or kEncode, or what
// `encode` throws.
void save_record_file(const std::string& path, const std::function<void(RecordWriter&)>& encode);

}  // namespace trevalon

#endif  // TREVALON_UTILS_RECORD_WRITER_H_
