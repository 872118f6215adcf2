#include "search/ecc_records.h"

#include <limits>

namespace trevalon {

Gate16 GateNameCache::resolve(std::string_view text) {
  // absl may not alias std::string_view, so look up through its own view type.
  if (auto it = known_.find(absl::string_view(text.data(), text.size())); it != known_.end()) return it->second;
  const Gate16 g = Gate16::from_serialized(text);
  known_.emplace(std::string(text), g);
  return g;
}

void write_instr(RecordWriter& w, const Instr32& instr) {
  w.text(instr.gate().display_name());
  w.u8(instr.qargs().slot(0));
  w.u8(instr.qargs().slot(1));
}

void write_perm(RecordWriter& w, Permut32 perm) { w.varint(perm.raw()); }

void write_circ_pair(RecordWriter& w, const CircPair& pair) {
  write_list(w, pair.first, write_instr);
  write_perm(w, pair.second);
}

void write_ecc(RecordWriter& w, const ECC& ecc) { write_list(w, ecc.pairs(), write_circ_pair); }

void write_eccs(RecordWriter& w, const ECCs& eccs) {
  write_list(w, eccs.eccs(), write_ecc);
  w.varint(eccs.nqubits());
}

void write_circ(RecordWriter& w, const Circ& circ) {
  write_list(w, circ.instrs(), write_instr);
  write_perm(w, circ.perm());
}

void write_identity_circ(RecordWriter& w, const IdentityCirc& identity) { write_circ(w, identity.circ()); }

Instr32 read_instr(RecordReader& r, GateNameCache& gates) {
  const Gate16 gate = gates.resolve(r.text());
  const uint8_t s0 = r.u8();
  const uint8_t s1 = r.u8();
  return Instr32(gate, QArgs16(s0, s1));
}

Permut32 read_perm(RecordReader& r) { return Permut32::from_raw(r.varint32()); }

CircPair read_circ_pair(RecordReader& r, GateNameCache& gates) {
  std::vector<Instr32> instrs = read_list(r, [&] { return read_instr(r, gates); });
  return {std::move(instrs), read_perm(r)};
}

ECC read_ecc(RecordReader& r, GateNameCache& gates) {
  return ECC(read_list(r, [&] { return read_circ_pair(r, gates); }));
}

ECCs read_eccs(RecordReader& r, GateNameCache& gates) {
  std::vector<ECC> eccs = read_list(r, [&] { return read_ecc(r, gates); });
  const uint64_t nqubits = r.varint64();
  if (nqubits > std::numeric_limits<uint32_t>::max()) {
    fail_decode("nqubits " + std::to_string(nqubits) + " does not fit the machine word");
  }
  return ECCs(std::move(eccs), static_cast<uint32_t>(nqubits));
}

Circ read_circ(RecordReader& r, GateNameCache& gates) {
  std::vector<Instr32> instrs = read_list(r, [&] { return read_instr(r, gates); });
  return Circ::from_record(std::move(instrs), read_perm(r));
}

IdentityCirc read_identity_circ(RecordReader& r, GateNameCache& gates) {
  std::vector<Instr32> instrs = read_list(r, [&] { return read_instr(r, gates); });
  return IdentityCirc::from_record(std::move(instrs), read_perm(r));
}

std::string eccs_to_bytes(const ECCs& eccs) {
  std::string out;
  RecordWriter w(&out);
  write_eccs(w, eccs);
  w.flush();
  return out;
}

ECCs eccs_from_bytes(std::span<const uint8_t> bytes) {
  RecordReader r(bytes);
  GateNameCache gates;
  return read_eccs(r, gates);
}

void save_eccs(const ECCs& eccs, const std::string& path) {
  save_record_file(path, [&](RecordWriter& w) { write_eccs(w, eccs); });
}

ECCs load_eccs(const std::string& path) {
  ECCs out;
  load_record_file(path, [&](RecordReader& r) {
    GateNameCache gates;
    out = read_eccs(r, gates);
  });
  return out;
}

}  // namespace trevalon
