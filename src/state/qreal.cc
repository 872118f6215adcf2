#include "state/qreal.h"

#include <charconv>
#include <vector>

namespace trevalon::qreal {

std::string to_text(double x, std::optional<int> precision) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  // Fixed notation of a double needs at most ~330 digits before the point
  // plus the requested fraction digits.
  std::vector<char> buf(400 + static_cast<std::size_t>(precision.value_or(0)));
  const auto res = precision
      ? std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::fixed, *precision)
      : std::to_chars(buf.data(), buf.data() + buf.size(), x, std::chars_format::fixed);
  return std::string(buf.data(), res.ptr);
}

}  // namespace trevalon::qreal
