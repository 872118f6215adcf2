#include "utils/record_writer.h"

#include <algorithm>
#include <cstring>

#include "utils/file_replace.h"
#include "utils/record_error.h"

namespace trevalon {
namespace {

RecordError encode_error() {
  return RecordError(RecordError::Kind::kEncode, "Failed to write postcard data: The serialize buffer is full");
}

}  // namespace

RecordWriter::RecordWriter(int fd) : fd_(fd), buf_(new uint8_t[kBufferSize]) {}

RecordWriter::RecordWriter(std::string* out) : out_(out), buf_(new uint8_t[kBufferSize]) {}

void RecordWriter::varint(uint64_t v) {
  while (v >= 0x80) {
    u8(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  u8(static_cast<uint8_t>(v));
}

void RecordWriter::text(std::string_view s) {
  // The reader refuses longer texts; writing one would make a file that
  // cannot be loaded again.
  if (s.size() > kMaxText) {
    throw RecordError(RecordError::Kind::kEncode,
                      "Failed to write postcard data: a text of " + std::to_string(s.size()) +
                          " bytes is longer than the 8192 bytes a reader accepts");
  }
  varint(s.size());
  write_bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

void RecordWriter::write_bytes(const uint8_t* p, std::size_t n) {
  while (n > 0) {
    if (len_ == kBufferSize) flush();
    const std::size_t k = std::min(n, kBufferSize - len_);
    std::memcpy(buf_.get() + len_, p, k);
    len_ += k;
    p += k;
    n -= k;
  }
}

void RecordWriter::flush() {
  if (len_ == 0) return;
  if (out_ != nullptr) {
    out_->append(reinterpret_cast<const char*>(buf_.get()), len_);
  } else if (write_fully(fd_, buf_.get(), len_) != 0) {
    throw encode_error();
  }
  len_ = 0;
}

void save_record_file(const std::string& path, const std::function<void(RecordWriter&)>& encode) {
  replace_file(path, FileReplaceBody{
                         .write =
                             [&](int fd) {
                               RecordWriter w(fd);
                               encode(w);
                               w.flush();
                             },
                         .sync_error = [](int) { return encode_error(); },
                     });
}

}  // namespace trevalon
