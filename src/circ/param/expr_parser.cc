#include "circ/param/expr_parser.h"

#include <algorithm>
#include <array>

namespace trevalon::param {
namespace {

constexpr std::array<std::string_view, 11> kRuleNames = {
    "real", "id",  "nninteger", "exp",      "term",      "factor",
    "plus", "mul", "power",     "unary_op", "WHITESPACE",
};

constexpr std::array<std::string_view, 6> kUnaryOps = {"sin", "cos", "tan",
                                                       "exp", "ln",  "sqrt"};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_id_tail(char c) {
  return is_digit(c) || is_lower(c) || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Thrown through the recursion when nesting exceeds the cap; caught in parse.
struct NestingTooDeep {
  std::size_t position;
};

// One parse of one text. Every rule method either matches and advances
// `pos_` (appending its nodes) or fails and leaves `pos_` and `nodes_` as it
// found them.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::variant<ParseTree, ParseFailure> run() {
    try {
      if (exp()) return ParseTree{text_, std::move(nodes_)};
    } catch (const NestingTooDeep& too_deep) {
      return ParseFailure{too_deep.position, {}, {}};
    }
    std::sort(attempts_.begin(), attempts_.end());
    attempts_.erase(std::unique(attempts_.begin(), attempts_.end()), attempts_.end());
    return ParseFailure{attempt_pos_, std::move(attempts_), {}};
  }

 private:
  struct Mark {
    std::size_t pos;
    std::size_t nodes;
  };
  Mark mark() const { return {pos_, nodes_.size()}; }
  void reset(Mark m) {
    pos_ = m.pos;
    nodes_.resize(m.nodes);
  }

  // Runs `body` as rule `r`: records its node on success, its failure for
  // the report otherwise.
  template <class Body>
  bool rule(Rule r, Body body) {
    const Mark start = mark();
    const std::size_t prev_attempts = attempt_pos_ == start.pos ? attempts_.size() : 0;
    nodes_.push_back({r, start.pos, start.pos, 0});
    if (body()) {
      nodes_[start.nodes].end = pos_;
      nodes_[start.nodes].subtree_end = nodes_.size();
      return true;
    }
    reset(start);
    track(r, start.pos, prev_attempts);
    return false;
  }

  // Keeps, for the furthest failure position, the outermost rules that
  // failed there. A single failing descendant at the same position is more
  // precise than its ancestor, so it stays in the ancestor's place.
  void track(Rule r, std::size_t start, std::size_t prev_attempts) {
    if (start < attempt_pos_) return;
    if (start == attempt_pos_) {
      if (attempts_.size() == prev_attempts + 1) return;
      attempts_.resize(prev_attempts);
    } else {
      attempts_.clear();
      attempt_pos_ = start;
    }
    attempts_.push_back(r);
  }

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  bool literal(std::string_view s) {
    if (text_.substr(pos_).starts_with(s)) {
      pos_ += s.size();
      return true;
    }
    return false;
  }
  void skip_whitespace() {
    while (!at_end() && is_whitespace(peek())) ++pos_;
  }
  void skip_digits() {
    while (!at_end() && is_digit(peek())) ++pos_;
  }

  // Greedy (first second)*, whitespace allowed before each element; a pair
  // that does not complete is undone.
  template <class First, class Second>
  void repeat_pairs(First first, Second second) {
    for (;;) {
      const Mark before = mark();
      skip_whitespace();
      if (first()) {
        skip_whitespace();
        if (second()) continue;
      }
      reset(before);
      return;
    }
  }

  bool exp() {
    return rule(Rule::kExp, [&] {
      skip_whitespace();
      if (!term()) return false;
      repeat_pairs([&] { return plus(); }, [&] { return term(); });
      return true;
    });
  }

  bool term() {
    return rule(Rule::kTerm, [&] {
      if (!factor()) return false;
      repeat_pairs([&] { return mul(); }, [&] { return factor(); });
      return true;
    });
  }

  bool factor() {
    return rule(Rule::kFactor, [&] {
      if (!power()) return false;
      repeat_pairs([&] { return literal("^"); }, [&] { return power(); });
      return true;
    });
  }

  // "(" exp ")" with whitespace allowed inside the parentheses.
  bool parenthesised() {
    if (!literal("(")) return false;
    skip_whitespace();
    if (!exp()) return false;
    skip_whitespace();
    return literal(")");
  }

  bool power() {
    if (depth_ == ExprParser::kMaxNesting) throw NestingTooDeep{pos_};
    ++depth_;
    const bool matched = rule(Rule::kPower, [&] {
      if (real() || nninteger()) return true;
      const Mark start = mark();
      if (parenthesised()) return true;
      reset(start);
      if (unary_op()) {
        skip_whitespace();
        if (parenthesised()) return true;
      }
      reset(start);
      if (literal("-")) {
        skip_whitespace();
        if (power()) return true;
      }
      reset(start);
      return id();
    });
    --depth_;
    return matched;
  }

  bool real() {
    return rule(Rule::kReal, [&] {
      const std::size_t first = pos_;
      skip_digits();
      if (pos_ == first || !literal(".")) return false;
      skip_digits();
      return true;
    });
  }

  bool nninteger() {
    return rule(Rule::kNninteger, [&] {
      if (literal("0")) return true;
      if (at_end() || !is_digit(peek())) return false;
      skip_digits();
      return true;
    });
  }

  bool id() {
    return rule(Rule::kId, [&] {
      if (at_end() || !is_lower(peek())) return false;
      ++pos_;
      while (!at_end() && is_id_tail(peek())) ++pos_;
      return true;
    });
  }

  bool unary_op() {
    return rule(Rule::kUnaryOp, [&] {
      return std::any_of(kUnaryOps.begin(), kUnaryOps.end(),
                         [&](std::string_view op) { return literal(op); });
    });
  }

  bool plus() {
    return rule(Rule::kPlus, [&] { return literal("+") || literal("-"); });
  }
  bool mul() {
    return rule(Rule::kMul, [&] { return literal("*") || literal("/"); });
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::vector<ParseNode> nodes_;
  std::size_t attempt_pos_ = 0;
  std::vector<Rule> attempts_;
};

void append_rule_list(std::string& out, const std::vector<Rule>& rules) {
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (i > 0) {
      if (rules.size() == 2) {
        out += " or ";
      } else {
        out += i + 1 == rules.size() ? ", or " : ", ";
      }
    }
    out += rule_name(rules[i]);
  }
}

bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string_view rule_name(Rule rule) { return kRuleNames[static_cast<std::size_t>(rule)]; }

std::variant<ParseTree, ParseFailure> ExprParser::parse(std::string_view text) {
  return Parser(text).run();
}

std::string parse_message(const std::vector<Rule>& expected,
                          const std::vector<Rule>& unexpected) {
  std::string out;
  if (!unexpected.empty()) {
    out += "unexpected ";
    append_rule_list(out, unexpected);
    if (!expected.empty()) out += "; ";
  }
  if (!expected.empty()) {
    out += "expected ";
    append_rule_list(out, expected);
  }
  if (out.empty()) out = "unknown parsing error";
  return out;
}

std::string parse_report(std::string_view text, const ParseFailure& failure) {
  const std::size_t pos = std::min(failure.position, text.size());
  const std::size_t line_start = [&] {
    const std::size_t nl = text.substr(0, pos).rfind('\n');
    return nl == std::string_view::npos ? 0 : nl + 1;
  }();
  const std::size_t line_number =
      1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + line_start, '\n'));
  std::string_view line = text.substr(line_start);
  line = line.substr(0, line.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);

  std::string indent;
  std::size_t column = 1;
  for (std::size_t i = line_start; i < pos; ++i) {
    if (is_utf8_continuation(text[i])) continue;
    indent += text[i] == '\t' ? '\t' : ' ';
    ++column;
  }

  const std::string number = std::to_string(line_number);
  const std::string margin(number.size(), ' ');
  std::string out;
  out += margin + "--> " + number + ":" + std::to_string(column) + "\n";
  out += margin + " |\n";
  out += number + " | " + std::string(line) + "\n";
  out += margin + " | " + indent + "^---\n";
  out += margin + " |\n";
  out += margin + " = " + parse_message(failure.expected, failure.unexpected);
  return out;
}

}  // namespace trevalon::param
