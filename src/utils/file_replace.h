// Saving a file without ever destroying what was there.
//
// `replace_file` writes the new contents to a fresh temporary file in the
// target's directory, syncs it, and renames it over the target: an
// interrupted or failed save leaves the old file byte-identical (the
// temporary is removed on failure), a successful one leaves the complete
// new contents. A target that exists but is not a regular file (a device,
// a pipe) has no contents to keep and is written in place. Symbolic links
// are followed, so the file they name is replaced, not the link. The new
// file takes over the old file's permission bits; a new target gets 0o666
// less the process umask.
//
// Thread safety: safe to call from any thread; concurrent saves to one path
// each leave a complete file (the last rename wins).
#ifndef TREVALON_UTILS_FILE_REPLACE_H_
#define TREVALON_UTILS_FILE_REPLACE_H_

#include <cstddef>
#include <functional>
#include <string>

#include "utils/record_error.h"

namespace trevalon {

struct FileReplaceBody {
  // Writes all contents to `fd` (not owned; do not close it). May throw to
  // abandon the save.
  std::function<void(int fd)> write;
  // The caller's write error for an error number of a failed sync or close
  // (the written contents could not be made durable).
  std::function<RecordError(int err)> sync_error;
};

// Replaces the file at `path` by what `body.write` produces. Throws
// RecordError kCreateFile ("Failed to create file: {os text}") when the file
// cannot be created or replaced (including a path with a NUL byte), and
// whatever `body` throws otherwise.
void replace_file(const std::string& path, const FileReplaceBody& body);

// Writes all `len` bytes, retrying short and interrupted writes. Returns 0,
// or the error number of the failed write.
int write_fully(int fd, const void* data, std::size_t len);

}  // namespace trevalon

#endif  // TREVALON_UTILS_FILE_REPLACE_H_
