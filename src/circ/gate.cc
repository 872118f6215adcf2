#include "circ/gate.h"

#include <bit>
#include <deque>
#include <mutex>

#include "circ/builtin_gates.h"
#include "state/qreal.h"
#include "utils/abort.h"
#include "utils/fmt_join.h"
#include "utils/siphash.h"
#include "utils/spin_rw_lock.h"

namespace trevalon {
namespace {

// A deque keeps records in place as the registry grows; every access still
// goes through the lock, which also orders the size read.
struct Registry {
  SpinRwLock lock;
  std::deque<GateData> records;
};

Registry& instruction_set() {
  static Registry* reg = [] {
    auto* r = new Registry;  // lives until the process ends
    for (GateData& g : builtin_gate_records()) r->records.push_back(std::move(g));
    return r;
  }();
  return *reg;
}

class SharedGuard {
 public:
  explicit SharedGuard(SpinRwLock& l) : l_(l) { l_.lock_shared(); }
  ~SharedGuard() { l_.unlock_shared(); }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;

 private:
  SpinRwLock& l_;
};

const GateData& record_locked(const Registry& reg, uint16_t id) {
  check_index(id, reg.records.size());
  return reg.records[id];
}

}  // namespace

uint64_t GateData::hash_value() const {
  SipHasher13 h;
  h.write_u32(matrix.nrows());
  h.write_u32(matrix.ncols());
  for (uint32_t c = 0; c < matrix.ncols(); ++c) {
    for (uint32_t r = 0; r < matrix.nrows(); ++r) {
      qreal::hash_into(h, matrix(r, c).real());
      qreal::hash_into(h, matrix(r, c).imag());
    }
  }
  return h.finish();
}

std::string GateData::display_name() const {
  std::string out = name;
  fjoin_opt_braces(out, params, ", ", "(", ")");
  return out;
}

void check_gate_matrix_shape(uint64_t rows, uint64_t cols) {
  if (rows == 0 || !std::has_single_bit(rows)) {
    abort_with("Matrix must have a number of rows that is a power of two");
  }
  if (cols != rows) abort_with("Matrix must be squared");
  if (rows > 256) abort_with("Matrix must act on at most 8 qubits");
}

Gate16 Gate16::create(std::string name, std::vector<std::string> params, ComplexMatrix matrix) {
  check_gate_matrix_shape(matrix.nrows(), matrix.ncols());
  GateData record{std::move(name), std::move(params), std::move(matrix), std::nullopt};
  const uint64_t hash = record.hash_value();

  Registry& reg = instruction_set();
  std::lock_guard guard(reg.lock);
  for (std::size_t i = 0; i < reg.records.size(); ++i) {
    // The hash finds the candidate; the entry comparison rules out the
    // (astronomically unlikely) collision of two different matrices.
    const GateData& g = reg.records[i];
    if (g.hash_value() == hash && g.matrix.quantised_eq(record.matrix)) {
      return Gate16(static_cast<uint16_t>(i));
    }
  }
  if (reg.records.size() > UINT16_MAX) abort_with("Gate registry is full: at most 65536 gates");
  reg.records.push_back(std::move(record));
  return Gate16(static_cast<uint16_t>(reg.records.size() - 1));
}

std::optional<Gate16> Gate16::from_name(std::string_view text) {
  Registry& reg = instruction_set();
  SharedGuard guard(reg.lock);
  for (std::size_t i = 0; i < reg.records.size(); ++i) {
    if (reg.records[i].display_name() == text) return Gate16(static_cast<uint16_t>(i));
  }
  return std::nullopt;
}

Gate16 Gate16::from_serialized(std::string_view text) {
  if (auto g = from_name(text)) return *g;
  abort_with("Failed to deserialize Gate16 from " + std::string(text));
}

std::size_t Gate16::registry_size() {
  Registry& reg = instruction_set();
  SharedGuard guard(reg.lock);
  return reg.records.size();
}

void Gate16::with_record(uint16_t id, void* ctx, RecordFn fn) {
  Registry& reg = instruction_set();
  SharedGuard guard(reg.lock);
  fn(ctx, record_locked(reg, id));
}

std::string Gate16::name() const {
  std::string out;
  with_record(id_, &out, [](void* c, const GateData& g) { *static_cast<std::string*>(c) = g.name; });
  return out;
}

std::vector<std::string> Gate16::params() const {
  std::vector<std::string> out;
  with_record(id_, &out, [](void* c, const GateData& g) {
    *static_cast<std::vector<std::string>*>(c) = g.params;
  });
  return out;
}

std::string Gate16::display_name() const {
  std::string out;
  with_record(id_, &out, [](void* c, const GateData& g) { *static_cast<std::string*>(c) = g.display_name(); });
  return out;
}

std::string Gate16::debug_text() const {
  return "Gate(" + std::to_string(id_) + " -> " + display_name() + ")";
}

ComplexMatrix Gate16::matrix_copy() const {
  ComplexMatrix out;
  matrix([&](const ComplexMatrix& m) { out = m; });
  return out;
}

uint8_t Gate16::nqargs() const {
  uint8_t n = 0;
  matrix([&](const ComplexMatrix& m) { n = static_cast<uint8_t>(std::countr_zero(m.nrows())); });
  return n;
}

Gate16 Gate16::adjoint() const {
  std::optional<uint16_t> cached;
  with_record(id_, &cached, [](void* c, const GateData& g) {
    *static_cast<std::optional<uint16_t>*>(c) = g.adjoint;
  });
  if (cached) return Gate16(*cached);

  struct Parts {
    std::string name;
    std::vector<std::string> params;
    ComplexMatrix matrix;
  } parts;
  with_record(id_, &parts, [](void* c, const GateData& g) {
    auto* p = static_cast<Parts*>(c);
    p->name = g.name + "\xE2\x80\xA0";  // U+2020 DAGGER
    p->params = g.params;
    p->matrix = g.matrix.adjoint();
  });
  const Gate16 adj = create(std::move(parts.name), std::move(parts.params), std::move(parts.matrix));

  Registry& reg = instruction_set();
  std::lock_guard guard(reg.lock);
  reg.records[id_].adjoint = adj.id();
  return adj;
}

void append_text(std::string& out, Gate16 g) { out += g.display_name(); }

namespace gates {
namespace {
Gate16 builtin(std::string_view name) {
  auto g = Gate16::from_name(name);
  if (!g) abort_with("built-in gate missing: " + std::string(name));
  return *g;
}
}  // namespace

#define TREVALON_BUILTIN(fn, text)      \
  Gate16 fn() {                         \
    static const Gate16 g = builtin(text); \
    return g;                           \
  }
TREVALON_BUILTIN(H, "h")
TREVALON_BUILTIN(S, "s")
TREVALON_BUILTIN(T, "t")
TREVALON_BUILTIN(X, "x")
TREVALON_BUILTIN(Z, "z")
TREVALON_BUILTIN(CX, "cx")
TREVALON_BUILTIN(SDG, "sdg")
TREVALON_BUILTIN(TDG, "tdg")
TREVALON_BUILTIN(SWAP, "swap")
#undef TREVALON_BUILTIN

}  // namespace gates
}  // namespace trevalon
