#include "search/quartz.h"

#include <charconv>
#include <map>

#include "utils/file_replace.h"
#include "utils/record_error.h"

namespace trevalon {
namespace {

void append_json_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

void append_qubits(std::string& out, const Instr32& instr) {
  out += '[';
  bool first = true;
  for (uint8_t q : instr.qargs().used()) {
    if (!first) out += ',';
    first = false;
    out += "\"Q";
    out += std::to_string(q);
    out += '"';
  }
  out += ']';
}

std::string member_key(std::size_t k, std::size_t v) {
  char hex[2 * sizeof(std::size_t)];
  const auto res = std::to_chars(hex, hex + sizeof(hex), k, 16);
  return std::string(hex, res.ptr) + "_" + std::to_string(v);
}

RecordError json_error(int err) {
  return RecordError(RecordError::Kind::kWriteJson, "Failed to write JSON: " + os_error_text(err));
}

}  // namespace

std::vector<QuartzVariant> generate_ecc_with_swap(const ECC& ecc) {
  const auto& pairs = ecc.pairs();
  std::vector<bool> skipped(pairs.size(), false);
  std::vector<QuartzVariant> variants;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (skipped[i]) continue;
    const Permut32 u = pairs[i].second.inv();
    QuartzVariant variant;
    variant.reserve(pairs.size());
    for (std::size_t j = 0; j < pairs.size(); ++j) {
      const Permut32 q = u * pairs[j].second;
      if (q.is_identity()) skipped[j] = true;
      std::vector<Instr32> c = pairs[j].first;
      for (auto [a, b] : q.generate_swaps()) c.emplace_back(gates::SWAP(), QArgs16(a, b));
      variant.push_back(std::move(c));
    }
    variants.push_back(std::move(variant));
  }
  return variants;
}

void ecc_to_json(const QuartzVariant& variant, std::string& out) {
  out += '[';
  for (std::size_t j = 0; j < variant.size(); ++j) {
    if (j > 0) out += ',';
    std::string gates_json = "[";
    unsigned width = 1;
    for (std::size_t g = 0; g < variant[j].size(); ++g) {
      const Instr32& instr = variant[j][g];
      width = std::max<unsigned>(width, instr.largest_qubit() + 1u);
      if (g > 0) gates_json += ',';
      gates_json += '[';
      append_json_string(gates_json, instr.gate().display_name());
      gates_json += ',';
      append_qubits(gates_json, instr);
      gates_json += ',';
      append_qubits(gates_json, instr);
      gates_json += ']';
    }
    gates_json += ']';
    out += "[[" + std::to_string(width) + "," + std::to_string(variant[j].size()) + "],";
    out += gates_json;
    out += ']';
  }
  out += ']';
}

std::string as_quartz(const ECCs& eccs) {
  for (const ECC& ecc : eccs.eccs()) ecc.validate(eccs.nqubits());
  // Keys in byte order, as std::string compares them.
  std::map<std::string, std::string> members;
  for (std::size_t k = 0; k < eccs.eccs().size(); ++k) {
    const ECC& ecc = eccs.eccs()[k];
    if (ecc.size() < 2) continue;
    const std::vector<QuartzVariant> variants = generate_ecc_with_swap(ecc);
    for (std::size_t v = 0; v < variants.size(); ++v) {
      std::string value;
      ecc_to_json(variants[v], value);
      members.emplace(member_key(k, v), std::move(value));
    }
  }
  std::string out = "[[[0],[0]],{";
  bool first = true;
  for (const auto& [key, value] : members) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, key);
    out += ':';
    out += value;
  }
  out += "}]";
  return out;
}

void dump_quartz(const ECCs& eccs, const std::string& path) {
  const std::string doc = as_quartz(eccs);
  replace_file(path, FileReplaceBody{
                         .write =
                             [&](int fd) {
                               if (const int err = write_fully(fd, doc.data(), doc.size())) throw json_error(err);
                             },
                         .sync_error = json_error,
                     });
}

}  // namespace trevalon
