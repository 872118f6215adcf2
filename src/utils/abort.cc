#include "utils/abort.h"

namespace trevalon {

void abort_with(std::string message) { throw Abort(std::move(message)); }

}  // namespace trevalon
