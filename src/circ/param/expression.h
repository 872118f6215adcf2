// Evaluation of gate-parameter expressions ("pi/3", "-pi/16") to doubles.
//
// `evaluate` parses the text with ExprParser and folds the tree: "+"/"-" and
// "*"/"/" left to right, "^" left to right ("2^3^2" is 64), unary minus
// binding tighter than "^" ("-2^2" is 4). Only the longest prefix that forms
// an expression counts ("2pi" is 2). The first error met left to right wins.
// Domain errors are not errors: sqrt(-1) is NaN, ln(0) is -inf.
//
// Results are `EvalResult = std::variant<double, NumericError>`: test with
// `std::get_if<NumericError>(&result)` and show failures with `text()`.
//
// Thread safety: everything here is a pure function of its arguments.
#ifndef TREVALON_CIRC_PARAM_EXPRESSION_H_
#define TREVALON_CIRC_PARAM_EXPRESSION_H_

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <variant>

#include "circ/param/expr_parser.h"

namespace trevalon::param {

struct NumericError {
  enum class Kind { kParseError, kDivisionByZero, kInvalidArgument, kUndefinedVariable };
  Kind kind;
  // The parse report, the operator name or the variable name; empty for
  // kDivisionByZero.
  std::string payload;

  // "DivisionByZero" for kDivisionByZero, the payload otherwise.
  std::string text() const;

  bool operator==(const NumericError&) const = default;
};

using EvalResult = std::variant<double, NumericError>;

// Variable values by name; the transparent order lets lookups use the
// parsed text's string_view without a copy.
using Bindings = std::map<std::string, double, std::less<>>;

// Applies "+", "-", "*", "/", "^" to (a, b), or "sin", "cos", "tan", "exp",
// "ln", "sqrt" to a (ignoring b). "/" by zero of either sign is
// kDivisionByZero; any other `op` is kInvalidArgument naming it.
EvalResult caculate(std::string_view op, double a, double b);

// Evaluators of one node of `tree`, which must have the named rule. The tree
// comes from ExprParser::parse, so its shape is trusted.
EvalResult eval_expr(const ParseTree& tree, NodeId exp, const Bindings& bindings);
EvalResult eval_term(const ParseTree& tree, NodeId term, const Bindings& bindings);
EvalResult eval_factor(const ParseTree& tree, NodeId factor, const Bindings& bindings);
EvalResult eval_power(const ParseTree& tree, NodeId power, const Bindings& bindings);

// Parses `text` and evaluates it with `bindings`; a parse failure is
// kParseError carrying the parser's six-line report.
EvalResult evaluate(std::string_view text, const Bindings& bindings);

// `evaluate` with the single binding pi = 3.141592653589793.
EvalResult evaluate_with_pi(std::string_view text);

}  // namespace trevalon::param

#endif  // TREVALON_CIRC_PARAM_EXPRESSION_H_
