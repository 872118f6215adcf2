#include "utils/record_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "utils/record_error.h"

namespace trevalon {
namespace {

[[noreturn]] void fail_varint() { fail_decode("Found a varint that didn't terminate"); }

// Closes the descriptor on every way out of a load.
class ReadFd {
 public:
  explicit ReadFd(int fd) : fd_(fd) {}
  ReadFd(const ReadFd&) = delete;
  ReadFd& operator=(const ReadFd&) = delete;
  ~ReadFd() { ::close(fd_); }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

void fail_decode(std::string_view message) {
  throw RecordError(RecordError::Kind::kDecode, "Failed to read postcard data: " + std::string(message));
}

void RecordReader::fail_end_of_data() { fail_decode("Hit the end of buffer, expected more data"); }

RecordReader::RecordReader(int fd)
    : fd_(fd), buf_(new uint8_t[kBufferSize]), scratch_(new char[kScratchSize]) {}

RecordReader::RecordReader(std::span<const uint8_t> bytes)
    : pos_(bytes.data()), end_(bytes.data() + bytes.size()), scratch_(new char[kScratchSize]) {}

bool RecordReader::refill() {
  if (fd_ < 0) return false;
  for (;;) {
    const ssize_t n = ::read(fd_, buf_.get(), kBufferSize);
    if (n < 0 && errno == EINTR) continue;
    // A failed read is reported like the end of the data.
    if (n <= 0) return false;
    pos_ = buf_.get();
    end_ = pos_ + n;
    return true;
  }
}

uint32_t RecordReader::varint32() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const uint8_t b = u8();
    v |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) return v;
  }
  const uint8_t last = u8();
  if (last > 0x0F) fail_varint();
  return v | (static_cast<uint32_t>(last) << 28);
}

uint64_t RecordReader::varint64() {
  uint64_t v = 0;
  for (int i = 0; i < 9; ++i) {
    const uint8_t b = u8();
    v |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) return v;
  }
  const uint8_t last = u8();
  if (last > 1) fail_varint();
  return v | (static_cast<uint64_t>(last) << 63);
}

std::string_view RecordReader::text() {
  const uint32_t len = varint32();
  if (len > kScratchSize) fail_end_of_data();
  std::size_t have = 0;
  while (have < len) {
    if (pos_ == end_ && !refill()) fail_end_of_data();
    const std::size_t k = std::min<std::size_t>(len - have, static_cast<std::size_t>(end_ - pos_));
    std::memcpy(scratch_.get() + have, pos_, k);
    pos_ += k;
    have += k;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(scratch_.get());
  if (!is_valid_utf8({bytes, len})) fail_decode("Tried to parse invalid utf-8");
  return {scratch_.get(), len};
}

bool is_valid_utf8(std::span<const uint8_t> s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const uint8_t c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

void load_record_file(const std::string& path, const std::function<void(RecordReader&)>& decode) {
  auto fail_open = [](int err) {
    throw RecordError(RecordError::Kind::kOpenFile, "Failed to open file: " + os_error_text(err));
  };
  if (path.find('\0') != std::string::npos) fail_open(EINVAL);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail_open(errno);
  ReadFd file(fd);
  RecordReader reader(file.get());
  decode(reader);
}

}  // namespace trevalon
