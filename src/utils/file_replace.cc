#include "utils/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>


namespace trevalon {
namespace {

[[noreturn]] void fail_create(int err) {
  throw RecordError(RecordError::Kind::kCreateFile, "Failed to create file: " + os_error_text(err));
}

// Closes on scope exit unless released; removes the temporary if asked.
class TempFile {
 public:
  TempFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  int fd() const { return fd_; }
  // Closes the descriptor; returns 0 or the error number.
  int close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }
  // The file is no longer ours to remove (it was renamed or is the target).
  void keep() { path_.clear(); }

 private:
  int fd_;
  std::string path_;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes the target itself: for devices and pipes, and for paths whose
// directory cannot be told (a trailing slash, a dangling link), where the
// open reports the error the target deserves.
void write_in_place(const std::string& target, const FileReplaceBody& body) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail_create(errno);
  TempFile file(fd, std::string());
  body.write(fd);
  if (const int err = file.close()) throw body.sync_error(err);
}

int open_temp(const std::string& target, std::string& temp_path) {
  static std::atomic<uint64_t> counter{0};
  // Keep the name within NAME_MAX even for long target names.
  const std::string base = base_of(target).substr(0, 180);
  for (int attempt = 0;; ++attempt) {
    temp_path = directory_of(target) + "/." + base + "." + std::to_string(::getpid()) + "." +
                std::to_string(counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST || attempt == 100) return fd;
  }
}

}  // namespace

int write_fully(int fd, const void* data, std::size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    const ssize_t n = ::write(fd, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return 0;
}

void replace_file(const std::string& path, const FileReplaceBody& body) {
  if (path.find('\0') != std::string::npos) fail_create(EINVAL);
  std::string target = path;
  struct stat st {};
  bool dangling_link = false;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (real) {
      target = real.get();
    } else {
      dangling_link = true;
    }
  }
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if ((exists && !S_ISREG(st.st_mode)) || dangling_link || base_of(target).empty()) {
    write_in_place(target, body);
    return;
  }
  // Truncating a file needs write permission on it; renaming over it would
  // not, so ask for it explicitly.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) fail_create(errno);

  std::string temp_path;
  const int fd = open_temp(target, temp_path);
  if (fd < 0) fail_create(errno);
  TempFile temp(fd, temp_path);
  if (exists) {
    // Best effort: a file system without ownership or modes still gets the
    // contents right.
    (void)::fchmod(fd, st.st_mode & 0777);
    (void)::fchown(fd, st.st_uid, st.st_gid);
  }
  body.write(fd);
  if (::fsync(fd) != 0) throw body.sync_error(errno);
  if (const int err = temp.close()) throw body.sync_error(err);
  if (::rename(temp_path.c_str(), target.c_str()) != 0) fail_create(errno);
  temp.keep();
}

}  // namespace trevalon
