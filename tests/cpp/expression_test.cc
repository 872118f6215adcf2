#include "circ/param/expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "circ/param/expr_parser.h"

namespace trevalon::param {
namespace {

constexpr double kPi = 3.141592653589793;
using Kind = NumericError::Kind;

// Lisp-style view of a tree: leaves as rule:text, inner nodes as
// rule(children...).
std::string show(const ParseTree& tree, NodeId id) {
  const NodeId first = tree.first_child(id);
  if (first == tree.children_end(id)) {
    return std::string(rule_name(tree.rule(id))) + ":" + std::string(tree.span(id));
  }
  std::string out = std::string(rule_name(tree.rule(id))) + "(";
  for (NodeId c = first; c < tree.children_end(id); c = tree.next_sibling(c)) {
    if (c != first) out += " ";
    out += show(tree, c);
  }
  return out + ")";
}

std::string show_parse(std::string_view text) {
  const auto parsed = ExprParser::parse(text);
  const auto* tree = std::get_if<ParseTree>(&parsed);
  return tree == nullptr ? "<fail>" : show(*tree, ParseTree::kRoot);
}

struct ValueCase {
  const char* text;
  double expected;
};

class ExpressionValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(ExpressionValueTest, EvaluatesWithPi) {
  const ValueCase& c = GetParam();
  const EvalResult result = evaluate_with_pi(c.text);
  ASSERT_TRUE(std::holds_alternative<double>(result))
      << c.text << " -> " << std::get<NumericError>(result).text();
  EXPECT_EQ(std::get<double>(result), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExpressionValueTest,
    testing::Values(
        ValueCase{"pi/3", 1.0471975511965976}, ValueCase{"-pi/16", -0.19634954084936207},
        ValueCase{"pi", 3.141592653589793}, ValueCase{"2*pi/3", (2 * kPi) / 3},
        ValueCase{"pi*2/3", (kPi * 2) / 3}, ValueCase{"sin(pi/2)", 1.0},
        ValueCase{"sqrt(2)", 1.4142135623730951}, ValueCase{"ln(1)", 0.0},
        ValueCase{"exp(1)", 2.718281828459045}, ValueCase{"cos(0)", 1.0},
        ValueCase{"tan(pi/4)", std::tan(kPi / 4)}, ValueCase{"  pi / 2 ", 1.5707963267948966},
        ValueCase{"sin (pi/2)", 1.0}, ValueCase{"sqrt( 4 )", 2.0}, ValueCase{"1 +\n\t2\r\n", 3.0},
        ValueCase{"2^3^2", 64.0}, ValueCase{"-2^2", 4.0}, ValueCase{"2^-1", 0.5},
        ValueCase{"--2", 2.0}, ValueCase{"- 3", -3.0}, ValueCase{"-(1+2)", -3.0},
        ValueCase{"1-2-3", -4.0}, ValueCase{"8/4/2", 1.0}, ValueCase{"2+3*4", 14.0},
        ValueCase{"(2+3)*4", 20.0}, ValueCase{"2*3^2", 18.0}, ValueCase{"2 ^ 10", 1024.0},
        ValueCase{"3.", 3.0}, ValueCase{"0.25", 0.25}, ValueCase{"12.5e3", 12.5},
        ValueCase{"007", 0.0}, ValueCase{"2pi", 2.0}, ValueCase{"pi)", kPi},
        ValueCase{"1-", 1.0}, ValueCase{"4*", 4.0}, ValueCase{"2^", 2.0},
        ValueCase{"1/-2", -0.5}, ValueCase{"0.1+0.2", 0.1 + 0.2},
        ValueCase{"2^1024", std::numeric_limits<double>::infinity()},
        ValueCase{"179769313486231570000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000",
                  std::numeric_limits<double>::infinity()},
        ValueCase{"0.00000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000001",
                  0.0}));

TEST(ExpressionTest, DomainErrorsAreValues) {
  const EvalResult sqrt_neg = evaluate_with_pi("sqrt(-1)");
  ASSERT_TRUE(std::holds_alternative<double>(sqrt_neg));
  EXPECT_TRUE(std::isnan(std::get<double>(sqrt_neg)));
  const EvalResult ln_neg = evaluate_with_pi("ln(-1)");
  ASSERT_TRUE(std::holds_alternative<double>(ln_neg));
  EXPECT_TRUE(std::isnan(std::get<double>(ln_neg)));
  EXPECT_EQ(std::get<double>(evaluate_with_pi("ln(0)")), -std::numeric_limits<double>::infinity());
}

struct ErrorCase {
  const char* text;
  Kind kind;
  const char* shown;  // NumericError::text(); for parse errors its first line
};

class ExpressionErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(ExpressionErrorTest, FailsWithPi) {
  const ErrorCase& c = GetParam();
  const EvalResult result = evaluate_with_pi(c.text);
  ASSERT_TRUE(std::holds_alternative<NumericError>(result))
      << c.text << " -> " << std::get<double>(result);
  const NumericError& error = std::get<NumericError>(result);
  EXPECT_EQ(error.kind, c.kind) << c.text;
  const std::string shown = error.text();
  EXPECT_EQ(c.kind == Kind::kParseError ? shown.substr(0, shown.find('\n')) : shown, c.shown)
      << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExpressionErrorTest,
    testing::Values(ErrorCase{"1/0", Kind::kDivisionByZero, "DivisionByZero"},
                    ErrorCase{"0/0", Kind::kDivisionByZero, "DivisionByZero"},
                    ErrorCase{"1/(1-1)", Kind::kDivisionByZero, "DivisionByZero"},
                    ErrorCase{"1/-0", Kind::kDivisionByZero, "DivisionByZero"},
                    ErrorCase{"1/0 + theta", Kind::kDivisionByZero, "DivisionByZero"},
                    ErrorCase{"theta/0", Kind::kUndefinedVariable, "theta"},
                    ErrorCase{"theta", Kind::kUndefinedVariable, "theta"},
                    ErrorCase{"1 + x_1Az", Kind::kUndefinedVariable, "x_1Az"},
                    ErrorCase{"sin pi", Kind::kUndefinedVariable, "sin"},
                    ErrorCase{"sin", Kind::kUndefinedVariable, "sin"},
                    ErrorCase{"sin(", Kind::kUndefinedVariable, "sin"},
                    ErrorCase{"sinx(1)", Kind::kUndefinedVariable, "sinx"},
                    ErrorCase{"sqrt(theta)", Kind::kUndefinedVariable, "theta"},
                    ErrorCase{"-theta", Kind::kUndefinedVariable, "theta"},
                    ErrorCase{"2^theta", Kind::kUndefinedVariable, "theta"},
                    ErrorCase{"Pi", Kind::kParseError, " --> 1:1"},
                    ErrorCase{"", Kind::kParseError, " --> 1:1"},
                    ErrorCase{"+1", Kind::kParseError, " --> 1:1"},
                    ErrorCase{".5", Kind::kParseError, " --> 1:1"},
                    ErrorCase{"*2", Kind::kParseError, " --> 1:1"},
                    ErrorCase{"   _", Kind::kParseError, " --> 1:4"},
                    ErrorCase{"(1", Kind::kParseError, " --> 1:3"},
                    ErrorCase{"cos(", Kind::kUndefinedVariable, "cos"},
                    ErrorCase{"(-", Kind::kParseError, " --> 1:3"}));

TEST(ExpressionTest, CustomBindings) {
  const Bindings bindings{{"a", 2.0}, {"b", 3.0}, {"c_2", 0.5}};
  EXPECT_EQ(evaluate("a*b + c_2", bindings), EvalResult(6.5));
  EXPECT_EQ(evaluate("pi", bindings),
            EvalResult(NumericError{Kind::kUndefinedVariable, "pi"}));
  EXPECT_EQ(evaluate("-a^b", bindings), EvalResult(-8.0));  // (-2)^3
}

TEST(ExpressionTest, Caculate) {
  EXPECT_EQ(caculate("-", 5, 3), EvalResult(2.0));
  EXPECT_EQ(caculate("^", 2, 0.5), EvalResult(std::sqrt(2.0)));
  EXPECT_EQ(caculate("cos", 0, 7), EvalResult(1.0));
  EXPECT_EQ(caculate("/", 1, -0.0), EvalResult(NumericError{Kind::kDivisionByZero, ""}));
  EXPECT_EQ(caculate("%", 1, 2), EvalResult(NumericError{Kind::kInvalidArgument, "%"}));
  EXPECT_EQ(caculate("log", 1, 2), EvalResult(NumericError{Kind::kInvalidArgument, "log"}));
}

TEST(ExpressionTest, ErrorTexts) {
  EXPECT_EQ((NumericError{Kind::kDivisionByZero, ""}.text()), "DivisionByZero");
  EXPECT_EQ((NumericError{Kind::kInvalidArgument, "%"}.text()), "%");
  EXPECT_EQ((NumericError{Kind::kUndefinedVariable, "theta"}.text()), "theta");
  EXPECT_EQ((NumericError{Kind::kParseError, "report"}.text()), "report");
}

TEST(ExprParserTest, TreeShape) {
  EXPECT_EQ(show_parse("1 - 2*x"),
            "exp(term(factor(power(nninteger:1))) plus:- "
            "term(factor(power(nninteger:2)) mul:* factor(power(id:x))))");
  EXPECT_EQ(show_parse("-sin(y)^2.5"),
            "exp(term(factor(power(power(unary_op:sin exp(term(factor(power(id:y)))))) "
            "power(real:2.5))))");
  EXPECT_EQ(show_parse("(0)"), "exp(term(factor(power(exp(term(factor(power(nninteger:0))))))))");
  // The trailing incomplete pair and the rest of the text are not part of the tree.
  EXPECT_EQ(show_parse(" 7 + "), "exp(term(factor(power(nninteger:7))))");
}

struct ReportCase {
  const char* text;
  const char* report;
};

class ParseReportTest : public testing::TestWithParam<ReportCase> {};

TEST_P(ParseReportTest, FullReport) {
  const EvalResult result = evaluate_with_pi(GetParam().text);
  ASSERT_TRUE(std::holds_alternative<NumericError>(result));
  EXPECT_EQ(std::get<NumericError>(result).text(), GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseReportTest,
    testing::Values(
        ReportCase{"+1", " --> 1:1\n  |\n1 | +1\n  | ^---\n  |\n  = expected power"},
        ReportCase{"", " --> 1:1\n  |\n1 | \n  | ^---\n  |\n  = expected power"},
        ReportCase{"(1", " --> 1:3\n  |\n1 | (1\n  |   ^---\n  |\n  = expected plus or mul"},
        ReportCase{"\t\t-", " --> 1:4\n  |\n1 | \t\t-\n  | \t\t ^---\n  |\n  = expected power"},
        ReportCase{"(\r\n  *\r\nnext",
                   " --> 2:3\n  |\n2 |   *\n  |   ^---\n  |\n  = expected power"},
        ReportCase{"\n\n\n\n\n\n\n\n\n  #",
                   "  --> 10:3\n   |\n10 |   #\n   |   ^---\n   |\n   = expected power"}));

TEST(ExprParserTest, ReportCountsCharactersNotBytes) {
  const std::string text = "\xC3\xA9\xC3\xA9*1";  // "éé*1"
  const ParseFailure failure{4, {Rule::kPower}, {}};
  EXPECT_EQ(parse_report(text, failure),
            " --> 1:3\n  |\n1 | \xC3\xA9\xC3\xA9*1\n  |   ^---\n  |\n  = expected power");
}

TEST(ExprParserTest, MessageForms) {
  EXPECT_EQ(parse_message({Rule::kExp}, {}), "expected exp");
  EXPECT_EQ(parse_message({Rule::kReal, Rule::kId, Rule::kExp}, {}),
            "expected real, id, or exp");
  EXPECT_EQ(parse_message({}, {Rule::kPlus, Rule::kMul}), "unexpected plus or mul");
  EXPECT_EQ(parse_message({Rule::kPower}, {Rule::kUnaryOp}),
            "unexpected unary_op; expected power");
  EXPECT_EQ(parse_message({}, {}), "unknown parsing error");
}

TEST(ExprParserTest, RuleNames) {
  EXPECT_EQ(rule_name(Rule::kReal), "real");
  EXPECT_EQ(rule_name(Rule::kNninteger), "nninteger");
  EXPECT_EQ(rule_name(Rule::kUnaryOp), "unary_op");
  EXPECT_EQ(rule_name(Rule::kWhitespace), "WHITESPACE");
}

TEST(ExprParserTest, DeepNestingIsAParseError) {
  const int cap = ExprParser::kMaxNesting;
  const std::string column = " --> 1:" + std::to_string(cap + 1) + "\n";
  for (const std::string unit : {"(", "-", "sin("}) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += unit;
    const EvalResult result = evaluate_with_pi(text);
    ASSERT_TRUE(std::holds_alternative<NumericError>(result)) << unit;
    const NumericError& error = std::get<NumericError>(result);
    EXPECT_EQ(error.kind, Kind::kParseError);
    EXPECT_TRUE(error.payload.ends_with("= unknown parsing error")) << unit;
    if (unit.size() == 1) {
      EXPECT_TRUE(error.payload.starts_with(column)) << error.payload.substr(0, 20);
    }
  }
  // The cap counts nested powers: `cap` of them still parse.
  EXPECT_EQ(evaluate_with_pi(std::string(cap - 1, '-') + "2"), EvalResult(cap % 2 == 0 ? -2.0 : 2.0));
  EXPECT_TRUE(std::holds_alternative<NumericError>(evaluate_with_pi(std::string(cap, '-') + "2")));
  EXPECT_EQ(evaluate_with_pi(std::string(cap - 1, '(') + "5" + std::string(cap - 1, ')')),
            EvalResult(5.0));
}

TEST(ExpressionTest, LongFlatExpressionsNeedNoDepth) {
  std::string text = "1";
  for (int i = 0; i < 100000; ++i) text += "+1";
  EXPECT_EQ(evaluate_with_pi(text), EvalResult(100001.0));
}

}  // namespace
}  // namespace trevalon::param
