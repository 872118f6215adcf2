// libFuzzer harness for the gate parameter expression parser and evaluator.
// Any text must end in a value or an error result (or an Abort): never a
// crash, a sanitizer report, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "circ/param/expression.h"
#include "utils/abort.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    (void)trevalon::param::evaluate_with_pi(text);
  } catch (const trevalon::Abort&) {
  }
  return 0;
}
