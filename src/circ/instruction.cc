#include "circ/instruction.h"

#include <cstdio>

#include "utils/fmt_join.h"

namespace trevalon {
namespace {

void append_arg(std::string& out, const Argument& a) { out += a.to_text(); }

void append_debug_list(std::string& out, const std::vector<Argument>& args) {
  fmt_join(out, args, {", ", "[", "]", "[]"},
           [](std::string& o, const Argument& a) { o += a.debug_text(); });
}

void hash_list(SipHasher13& h, const std::vector<Argument>& args) {
  h.write_u64(args.size());
  for (const Argument& a : args) a.hash_into(h);
}

}  // namespace

std::string debug_quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[12];
          std::snprintf(buf, sizeof buf, "\\u{%x}", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string Argument::to_text() const { return regid + "[" + std::to_string(index) + "]"; }

std::string Argument::debug_text() const {
  return "Argument { regid: " + debug_quoted(regid) + ", index: " + std::to_string(index) + " }";
}

void Argument::hash_into(SipHasher13& h) const {
  h.write(regid);
  h.write_u8(0xff);
  h.write_u64(index);
}

std::string Instruction::to_text() const {
  std::string out = gate.display_name();
  out += ' ';
  std::vector<const Argument*> all;
  for (const Argument& a : qargs) all.push_back(&a);
  for (const Argument& a : cargs) all.push_back(&a);
  fmt_join(out, all, {", ", {}, {}, {}}, [](std::string& o, const Argument* a) { append_arg(o, *a); });
  out += ';';
  return out;
}

std::string Instruction::debug_text() const {
  std::string out = "Instruction { gate: " + gate.debug_text() + ", qargs: ";
  append_debug_list(out, qargs);
  out += ", cargs: ";
  append_debug_list(out, cargs);
  out += " }";
  return out;
}

void Instruction::hash_into(SipHasher13& h) const {
  h.write_u16(gate.id());
  hash_list(h, qargs);
  hash_list(h, cargs);
}

}  // namespace trevalon
