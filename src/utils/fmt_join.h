// FmtJoin: the joining display adaptor behind the text forms of gates,
// instructions, circuits and buckets.
//
// `fjoin(items, sep)` and `fjoin_opt_braces(items, sep, start, end)` append
// to a string: `start`, the items separated by `sep`, then `end`; nothing
// but `orelse` when there are no items. Items are rendered by `append_text`
// overloads found by argument-dependent lookup (or the std ones below).
#ifndef TREVALON_UTILS_FMT_JOIN_H_
#define TREVALON_UTILS_FMT_JOIN_H_

#include <string>
#include <string_view>
#include <type_traits>

namespace trevalon {

inline void append_text(std::string& out, std::string_view s) { out += s; }
inline void append_text(std::string& out, const std::string& s) { out += s; }
template <class T>
  requires std::is_integral_v<T>
void append_text(std::string& out, T v) {
  out += std::to_string(v);
}

struct FmtJoinParts {
  std::string_view sep;
  std::string_view start;
  std::string_view end;
  std::string_view orelse;
};

template <class Range, class Render>
void fmt_join(std::string& out, const Range& items, const FmtJoinParts& parts,
              Render&& render) {
  bool first = true;
  for (const auto& item : items) {
    out += first ? parts.start : parts.sep;
    first = false;
    render(out, item);
  }
  if (first) {
    out += parts.orelse;
  } else {
    out += parts.end;
  }
}

template <class Range>
void fjoin(std::string& out, const Range& items, std::string_view sep) {
  fmt_join(out, items, {sep, {}, {}, {}},
           [](std::string& o, const auto& item) { append_text(o, item); });
}

template <class Range>
void fjoin_opt_braces(std::string& out, const Range& items, std::string_view sep,
                      std::string_view start, std::string_view end) {
  fmt_join(out, items, {sep, start, end, {}},
           [](std::string& o, const auto& item) { append_text(o, item); });
}

}  // namespace trevalon

#endif  // TREVALON_UTILS_FMT_JOIN_H_
