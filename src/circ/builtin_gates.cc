#include "circ/builtin_gates.h"

namespace trevalon {
namespace {

constexpr double kC = 0.7071067811865476;   // cos(pi/4)
constexpr double kS4 = 0.7071067811865475;  // sin(pi/4)

GateData diag1(const char* name, std::vector<std::string> params, Complex phase) {
  return {name, std::move(params), ComplexMatrix(2, 2, {1, 0, 0, phase}), std::nullopt};
}

GateData dense(const char* name, uint32_t dim, std::vector<Complex> row_major) {
  return {name, {}, ComplexMatrix(dim, dim, std::move(row_major)), std::nullopt};
}

GateData diag2(const char* name, Complex last) {
  return dense(name, 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, last});
}

}  // namespace

std::vector<GateData> builtin_gate_records() {
  const Complex i(0, 1);
  std::vector<GateData> g;
  g.reserve(23);
  g.push_back(dense("i", 2, {1, 0, 0, 1}));
  g.push_back(dense("h", 2, {kC, kC, kC, -kC}));
  g.push_back(dense("x", 2, {0, 1, 1, 0}));
  g.push_back(dense("z", 2, {1, 0, 0, -1}));
  g.push_back(dense("y", 2, {0, -i, i, 0}));
  g.push_back(diag1("s", {}, i));
  g.push_back(diag1("sdg", {}, -i));
  g.push_back(diag1("t", {}, {kC, kS4}));
  g.push_back(diag1("tdg", {}, {kC, -kS4}));
  g.push_back(dense("cx", 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0}));
  g.push_back(diag2("cz", -1));
  g.push_back(dense("cy", 4, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, -i, 0, 0, i, 0}));
  g.push_back(diag2("cs", i));
  g.push_back(diag2("csdg", -i));
  g.push_back(dense("swap", 4, {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}));
  g.push_back(diag1("t1/2", {}, {0.9238795325112867, 0.3826834323650898}));
  g.push_back(diag1("tdg1/2", {}, {0.9238795325112867, -0.3826834323650898}));
  g.push_back(diag1("rz", {"pi/3"}, {0.5000000000000001, 0.8660254037844386}));
  g.push_back(diag1("rz", {"-pi/3"}, {0.5000000000000001, -0.8660254037844386}));
  g.push_back(diag1("rz", {"pi/5"}, {0.8090169943749475, 0.5877852522924731}));
  g.push_back(diag1("rz", {"-pi/5"}, {0.8090169943749475, -0.5877852522924731}));
  g.push_back(diag1("rz", {"pi/16"}, {0.9807852804032304, 0.19509032201612825}));
  g.push_back(diag1("rz", {"-pi/16"}, {0.9807852804032304, -0.19509032201612825}));
  return g;
}

}  // namespace trevalon
