// RecordError: the recoverable failures of saving and loading files.
//
// These are not aborts: a file that cannot be created or opened, a write that
// fails, or bytes that do not decode are ordinary outcomes of file work, and
// callers (the binding layer) report them as exceptions of their own kind.
// `what()` is the complete message the caller shows, for example
// "Failed to read postcard data: Hit the end of buffer, expected more data".
#ifndef TREVALON_UTILS_RECORD_ERROR_H_
#define TREVALON_UTILS_RECORD_ERROR_H_

#include <stdexcept>
#include <string>

namespace trevalon {

class RecordError : public std::runtime_error {
 public:
  enum class Kind {
    kCreateFile,  // "Failed to create file: {os text}"
    kOpenFile,    // "Failed to open file: {os text}"
    kEncode,      // "Failed to write postcard data: {encoder text}"
    kDecode,      // "Failed to read postcard data: {decoder text}"
    kWriteJson,   // "Failed to write JSON: {os text}"
  };

  RecordError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

  Kind kind() const { return kind_; }
  // True for the kinds that concern reaching the file itself (an OSError in
  // Python); the others concern its contents (a ValueError).
  bool is_file_access() const { return kind_ == Kind::kCreateFile || kind_ == Kind::kOpenFile; }

 private:
  Kind kind_;
};

// The operating system's description of `err` in the form
// "No such file or directory (os error 2)".
std::string os_error_text(int err);

}  // namespace trevalon

#endif  // TREVALON_UTILS_RECORD_ERROR_H_
