// ExprParser: the recursive-descent PEG parser of gate-parameter expressions.
//
// Grammar (ordered choice, greedy repetition; whitespace " \t\n\r" is skipped
// between the elements of exp, term, factor and power only):
//   exp       = WHITESPACE* term (plus term)*
//   term      = factor (mul factor)*
//   factor    = power ("^" power)*
//   power     = real | nninteger | "(" exp ")" | unary_op "(" exp ")"
//             | "-" power | id
//   real      = [0-9]+ "." [0-9]*
//   nninteger = [1-9][0-9]* | "0"
//   id        = [a-z] [A-Za-z0-9_]*
//   unary_op  = "sin" | "cos" | "tan" | "exp" | "ln" | "sqrt"
//   plus      = "+" | "-"        mul = "*" | "/"
// Parsing starts with exp and matches the longest prefix it can; the rest of
// the text is ignored.
//
// The tree is a flat pre-order array of rule nodes. Literal tokens ("(", "^",
// "-") and whitespace leave no nodes, so the children of a power node are
// exactly the rule nodes the evaluator dispatches on.
//
// Failures follow the usual PEG reporting: the parser remembers the furthest
// position at which a rule started and failed, and the outermost rules that
// failed there (a rule whose only failing descendant started at the same
// position is reported as that descendant). Nesting deeper than
// kMaxNesting powers stops the parse with a failure at that position and no
// rule names, so hostile input cannot exhaust the stack.
//
// Thread safety: everything here is a pure function of its arguments.
#ifndef TREVALON_CIRC_PARAM_EXPR_PARSER_H_
#define TREVALON_CIRC_PARAM_EXPR_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace trevalon::param {

// The grammar's rule kinds; the order numbers identify them in the tree.
enum class Rule : uint8_t {
  kReal,
  kId,
  kNninteger,
  kExp,
  kTerm,
  kFactor,
  kPlus,
  kMul,
  kPower,
  kUnaryOp,
  kWhitespace,
};

// The rule's grammar name ("real", "unary_op", "WHITESPACE", ...).
std::string_view rule_name(Rule rule);

using NodeId = std::size_t;

struct ParseNode {
  Rule rule;
  std::size_t begin;  // byte offsets of the matched text
  std::size_t end;
  NodeId subtree_end;  // index one past this node's last descendant
};

// A successful parse. `text` is borrowed: the tree is valid only while the
// parsed text lives. Node 0 is the root exp.
struct ParseTree {
  std::string_view text;
  std::vector<ParseNode> nodes;

  static constexpr NodeId kRoot = 0;

  Rule rule(NodeId id) const { return nodes[id].rule; }
  std::string_view span(NodeId id) const {
    return text.substr(nodes[id].begin, nodes[id].end - nodes[id].begin);
  }
  // Child iteration: `first_child(id)` is valid while it is below
  // `children_end(id)`; `next_sibling` steps over a whole subtree.
  NodeId first_child(NodeId id) const { return id + 1; }
  NodeId children_end(NodeId id) const { return nodes[id].subtree_end; }
  NodeId next_sibling(NodeId id) const { return nodes[id].subtree_end; }
};

// Where and why a parse failed. `expected` lists rules that failed to match
// at `position`, `unexpected` rules whose match there was forbidden; both are
// sorted by rule order without repeats. This grammar has no forbidden
// matches, so the parser itself only fills `expected`.
struct ParseFailure {
  std::size_t position;  // byte offset into the text
  std::vector<Rule> expected;
  std::vector<Rule> unexpected;
};

class ExprParser {
 public:
  // Powers nested deeper than this ("((((...", "-----...") fail to parse.
  static constexpr int kMaxNesting = 256;

  // Parses the longest prefix of `text` that forms an exp.
  static std::variant<ParseTree, ParseFailure> parse(std::string_view text);
};

// The six-line report for `failure` in `text`:
//    --> L:C
//     |
//   L | <the line holding the failure>
//     | <indent>^---
//     |
//     = <message>
// where the left margin is as wide as the digits of L and the column counts
// UTF-8 characters; "\n" and "\r\n" end lines.
std::string parse_report(std::string_view text, const ParseFailure& failure);

// "expected a, b, or c", "unexpected a", "unexpected a; expected b or c", or
// "unknown parsing error" when both lists are empty.
std::string parse_message(const std::vector<Rule>& expected, const std::vector<Rule>& unexpected);

}  // namespace trevalon::param

#endif  // TREVALON_CIRC_PARAM_EXPR_PARSER_H_
