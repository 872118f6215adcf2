#include "circ/param/expression.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "utils/abort.h"

namespace trevalon::param {
namespace {

// The digits of a real or nninteger node as a double, correctly rounded.
// from_chars leaves the value unset when it is out of range: with a nonzero
// integer part that is overflow, otherwise the value underflowed to zero.
double read_decimal(std::string_view digits) {
  double value = 0;
  const auto [rest, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec == std::errc::result_out_of_range) {
    const bool overflow = digits.find_first_of("123456789") < digits.find('.');
    return overflow ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return value;
}

// Folds `operand operator operand ...` left to right through `caculate`,
// stopping at the first error.
template <class Operand>
EvalResult fold_binary(const ParseTree& tree, NodeId node, Operand operand) {
  NodeId child = tree.first_child(node);
  EvalResult acc = operand(child);
  for (child = tree.next_sibling(child); child < tree.children_end(node);) {
    if (std::holds_alternative<NumericError>(acc)) return acc;
    const NodeId op = child;
    const NodeId rhs = tree.next_sibling(op);
    const EvalResult value = operand(rhs);
    if (std::holds_alternative<NumericError>(value)) return value;
    acc = caculate(tree.span(op), std::get<double>(acc), std::get<double>(value));
    child = tree.next_sibling(rhs);
  }
  return acc;
}

}  // namespace

std::string NumericError::text() const {
  return kind == Kind::kDivisionByZero ? std::string("DivisionByZero") : payload;
}

EvalResult caculate(std::string_view op, double a, double b) {
  if (op == "+") return a + b;
  if (op == "-") return a - b;
  if (op == "*") return a * b;
  if (op == "/") {
    if (b == 0.0) return NumericError{NumericError::Kind::kDivisionByZero, {}};
    return a / b;
  }
  if (op == "^") return std::pow(a, b);
  if (op == "ln") return std::log(a);
  if (op == "sin") return std::sin(a);
  if (op == "cos") return std::cos(a);
  if (op == "tan") return std::tan(a);
  if (op == "exp") return std::exp(a);
  if (op == "sqrt") return std::sqrt(a);
  return NumericError{NumericError::Kind::kInvalidArgument, std::string(op)};
}

EvalResult eval_expr(const ParseTree& tree, NodeId exp, const Bindings& bindings) {
  return fold_binary(tree, exp,
                     [&](NodeId term) { return eval_term(tree, term, bindings); });
}

EvalResult eval_term(const ParseTree& tree, NodeId term, const Bindings& bindings) {
  return fold_binary(tree, term,
                     [&](NodeId factor) { return eval_factor(tree, factor, bindings); });
}

EvalResult eval_factor(const ParseTree& tree, NodeId factor, const Bindings& bindings) {
  NodeId child = tree.first_child(factor);
  EvalResult acc = eval_power(tree, child, bindings);
  for (child = tree.next_sibling(child); child < tree.children_end(factor);
       child = tree.next_sibling(child)) {
    if (std::holds_alternative<NumericError>(acc)) return acc;
    const EvalResult exponent = eval_power(tree, child, bindings);
    if (std::holds_alternative<NumericError>(exponent)) return exponent;
    acc = std::pow(std::get<double>(acc), std::get<double>(exponent));
  }
  return acc;
}

EvalResult eval_power(const ParseTree& tree, NodeId power, const Bindings& bindings) {
  const NodeId child = tree.first_child(power);
  switch (tree.rule(child)) {
    case Rule::kReal:
    case Rule::kNninteger:
      return read_decimal(tree.span(child));
    case Rule::kId: {
      const auto it = bindings.find(tree.span(child));
      if (it == bindings.end()) {
        return NumericError{NumericError::Kind::kUndefinedVariable, std::string(tree.span(child))};
      }
      return it->second;
    }
    case Rule::kExp:
      return eval_expr(tree, child, bindings);
    case Rule::kUnaryOp: {
      const EvalResult arg = eval_expr(tree, tree.next_sibling(child), bindings);
      if (std::holds_alternative<NumericError>(arg)) return arg;
      return caculate(tree.span(child), std::get<double>(arg), 0.0);
    }
    case Rule::kPower: {
      const EvalResult inner = eval_power(tree, child, bindings);
      if (std::holds_alternative<NumericError>(inner)) return inner;
      return -std::get<double>(inner);
    }
    default:
      // The parser builds power nodes only from the alternatives above.
      abort_with("power node with an unexpected first child: " + std::string(rule_name(tree.rule(child))));
  }
}

EvalResult evaluate(std::string_view text, const Bindings& bindings) {
  auto parsed = ExprParser::parse(text);
  if (const auto* failure = std::get_if<ParseFailure>(&parsed)) {
    return NumericError{NumericError::Kind::kParseError, parse_report(text, *failure)};
  }
  return eval_expr(std::get<ParseTree>(parsed), ParseTree::kRoot, bindings);
}

EvalResult evaluate_with_pi(std::string_view text) {
  static const Bindings kPi{{"pi", 3.141592653589793}};
  return evaluate(text, kPi);
}

}  // namespace trevalon::param
