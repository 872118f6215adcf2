// libFuzzer harness for the record decoder and everything that interprets
// decoded content. Any input must end in a decoded value, a RecordError or
// an Abort: never a crash, a sanitizer report, a hang or unbounded memory.
// A decoded collection must also save and load back equal.
#include <cstddef>
#include <cstdint>
#include <span>

#include "search/ecc_records.h"
#include "search/quartz.h"
#include "utils/abort.h"
#include "utils/record_error.h"

namespace trevalon {
namespace {

template <class F>
void tolerate_abort(F&& f) {
  try {
    f();
  } catch (const Abort&) {
  }
}

void exercise(const ECCs& e) {
  tolerate_abort([&] { (void)e.to_text(); });
  tolerate_abort([&] { (void)e.check(); });
  tolerate_abort([&] { (void)as_quartz(e); });
  for (const ECC& ecc : e.eccs()) tolerate_abort([&] { (void)ecc.to_text(); });
  // Canonical forms cost up to 8! candidates per circuit: keep runs fast.
  if (e.nqubits() <= 3) tolerate_abort([&] { (void)e.to_identity_circuits(); });
  const std::string bytes = eccs_to_bytes(e);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (!(eccs_from_bytes({p, bytes.size()}) == e)) __builtin_trap();
}

}  // namespace
}  // namespace trevalon

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace trevalon;
  const std::span<const uint8_t> bytes(data, size);
  try {
    exercise(eccs_from_bytes(bytes));
  } catch (const RecordError&) {
  } catch (const Abort&) {
  }
  // The same bytes as the prover's list of identities.
  try {
    RecordReader r(bytes);
    GateNameCache gates;
    for (const IdentityCirc& c : read_list(r, [&] { return read_identity_circ(r, gates); })) {
      tolerate_abort([&] { (void)c.check(); });
    }
  } catch (const RecordError&) {
  } catch (const Abort&) {
  }
  return 0;
}
