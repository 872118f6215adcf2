#include "utils/record_error.h"

#include <system_error>

namespace trevalon {

std::string os_error_text(int err) {
  // The system category's message is the thread-safe strerror text.
  return std::system_category().message(err) + " (os error " + std::to_string(err) + ")";
}

}  // namespace trevalon
