// Record encoders and decoders of the circuit types: the layouts that record
// files (see utils/record_writer.h for the primitives) give each type.
//
//   Instr32      the gate's display form as text, then the two slot bytes
//                (255 for an unused slot);
//   Permut32     its raw 32-bit word as a varint;
//   CircPair     a list of Instr32, then a Permut32;
//   ECC          its list of CircPair (a transparent wrapper);
//   ECCs         a list of ECC, then nqubits as a 64-bit varint;
//   Circ         a list of Instr32 (`instrs`), then a Permut32 (`perm`);
//   IdentityCirc exactly its Circ;
//   list of T    a count, then the elements;
//   map K -> V   a count, then key and value for each entry (a set is a map
//                to nothing: a count, then the keys).
//
// Decoding resolves gate texts against the running registry and aborts with
// "Failed to deserialize Gate16 from {}" for an unknown one. Classes (ECC,
// ECCs) are taken as they are, unchecked: their operations validate them.
// Circ and IdentityCirc are built through `from_record`, which aborts on
// content that breaks their invariants. Malformed bytes throw RecordError
// kDecode (record_reader.h).
//
// Thread safety: encoders only read their values; a GateNameCache belongs
// to one load.
#ifndef TREVALON_SEARCH_ECC_RECORDS_H_
#define TREVALON_SEARCH_ECC_RECORDS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "circ/instr.h"
#include "groups/permutation.h"
#include "identity/circuit.h"
#include "identity/idcircuit.h"
#include "search/ecc.h"
#include "utils/record_reader.h"
#include "utils/record_writer.h"

namespace trevalon {

// Gate texts seen during one load, so that each distinct text scans the
// registry once. The registry only grows and the lowest id wins a display
// form, so a cached answer stays right for the whole load.
class GateNameCache {
 public:
  // Aborts with "Failed to deserialize Gate16 from {text}" when no gate
  // answers to `text`.
  Gate16 resolve(std::string_view text);

 private:
  absl::flat_hash_map<std::string, Gate16> known_;
};

void write_instr(RecordWriter& w, const Instr32& instr);
void write_perm(RecordWriter& w, Permut32 perm);
void write_circ_pair(RecordWriter& w, const CircPair& pair);
void write_ecc(RecordWriter& w, const ECC& ecc);
void write_eccs(RecordWriter& w, const ECCs& eccs);
void write_circ(RecordWriter& w, const Circ& circ);
void write_identity_circ(RecordWriter& w, const IdentityCirc& identity);

// A list (or, with `write_item` writing key then value, a map): the count,
// then each item.
template <class Range, class F>
void write_list(RecordWriter& w, const Range& items, F&& write_item) {
  w.varint(static_cast<uint64_t>(std::size(items)));
  for (const auto& item : items) write_item(w, item);
}

Instr32 read_instr(RecordReader& r, GateNameCache& gates);
Permut32 read_perm(RecordReader& r);
CircPair read_circ_pair(RecordReader& r, GateNameCache& gates);
ECC read_ecc(RecordReader& r, GateNameCache& gates);
ECCs read_eccs(RecordReader& r, GateNameCache& gates);
Circ read_circ(RecordReader& r, GateNameCache& gates);
IdentityCirc read_identity_circ(RecordReader& r, GateNameCache& gates);

// A list of whatever `read_item()` returns. The vector grows as items
// arrive, never by the count read, so a lying count costs nothing.
template <class F>
auto read_list(RecordReader& r, F&& read_item) -> std::vector<decltype(read_item())> {
  const uint32_t n = r.count();
  std::vector<decltype(read_item())> out;
  for (uint32_t i = 0; i < n; ++i) out.push_back(read_item());
  return out;
}

// The entries of a map: calls `read_entry()` once per entry, in file order
// (a later duplicate key should win).
template <class F>
void read_map_entries(RecordReader& r, F&& read_entry) {
  const uint32_t n = r.count();
  for (uint32_t i = 0; i < n; ++i) read_entry();
}

// The record of `eccs` as bytes, and back (trailing bytes ignored).
std::string eccs_to_bytes(const ECCs& eccs);
ECCs eccs_from_bytes(std::span<const uint8_t> bytes);

// File forms (record_writer.h / record_reader.h say what they throw).
void save_eccs(const ECCs& eccs, const std::string& path);
ECCs load_eccs(const std::string& path);

}  // namespace trevalon

#endif  // TREVALON_SEARCH_ECC_RECORDS_H_
