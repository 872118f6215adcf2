#include "identity/proof.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "oneapi/tbb/global_control.h"
#include "search/search.h"
#include "state/rng.h"
#include "utils/abort.h"

#include "test_support.h"

namespace trevalon {

static void PrintTo(const IdentityCirc& c, std::ostream* os) { *os << c.to_text(); }

namespace {

using testing::abort_message;
using testing::I1;

ProverOptions sequential() {
  ProverOptions o;
  o.execution = ProverOptions::Execution::kSequential;
  return o;
}

IdentityCirc canonical(std::vector<Instr32> instrs) {
  return Circ::new_no_perm(std::move(instrs)).rotate_representative();
}

std::string hex(uint64_t v) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), digits[v % 16]);
    v /= 16;
  } while (v != 0);
  return out;
}

// Checks everything an exported proof promises: entry 0 is the query, the
// dependencies point into the list and form a DAG reaching every entry
// from entry 0, the leaves are exactly the entries that are assumptions of
// the prover, and each derived entry follows from its two premises by one
// rule application (the premises are a (rule, result) pair of that entry).
void expect_well_formed(const Proof& proof, const IdentityCirc& query, const IdentityProver& prover) {
  const auto& e = proof.entries();
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e[0].first, query);
  const auto assumed = [&](const IdentityCirc& id) {
    return std::find(prover.assume().begin(), prover.assume().end(), id) != prover.assume().end();
  };
  for (std::size_t i = 0; i < e.size(); ++i) {
    const auto& [id, dep] = e[i];
    EXPECT_EQ(!dep, assumed(id)) << i << " " << id.to_text();
    if (!dep) continue;
    ASSERT_LT(dep->first, e.size());
    ASSERT_LT(dep->second, e.size());
    EXPECT_NE(dep->first, i);
    EXPECT_NE(dep->second, i);
    const IdentityCirc& a = e[dep->first].first;
    const IdentityCirc& b = e[dep->second].first;
    const std::vector<TransitionPair> pairs = prover.par_transition_pairs(id, 19, sequential());
    EXPECT_TRUE(std::find(pairs.begin(), pairs.end(), TransitionPair(a, b)) != pairs.end() ||
                std::find(pairs.begin(), pairs.end(), TransitionPair(b, a)) != pairs.end())
        << i << " " << id.to_text();
  }
  // Acyclic and all reachable: a depth-first colouring from entry 0.
  std::vector<int> colour(e.size(), 0);
  std::vector<std::pair<std::size_t, int>> stack = {{0, 0}};
  colour[0] = 1;
  while (!stack.empty()) {
    auto& [i, k] = stack.back();
    const auto& dep = e[i].second;
    if (!dep || k == 2) {
      colour[i] = 2;
      stack.pop_back();
      continue;
    }
    const std::size_t next = k++ == 0 ? dep->first : dep->second;
    ASSERT_NE(colour[next], 1) << "cycle through " << next;
    if (colour[next] == 0) {
      colour[next] = 1;
      stack.emplace_back(next, 0);
    }
  }
  EXPECT_TRUE(std::all_of(colour.begin(), colour.end(), [](int c) { return c == 2; }));
}

// One-qubit classes {[], hh}, {x, hzh}: hh and xhzh are assumed. Inserting
// xzxz (whose only rewrite within three more gates, to hzh.z.x.z, leads
// back) assumes it as well. Then hzh.z.x.z follows in one step: hzh -> x by
// the rule xhzh gives xzxz.
struct OneQubit {
  Instr32 h = I1(gates::H(), 0), x = I1(gates::X(), 0), z = I1(gates::Z(), 0);
  IdentityCirc hh = canonical({h, h});
  IdentityCirc xhzh = canonical({x, h, z, h});
  IdentityCirc xzxz = canonical({x, z, x, z});
  IdentityCirc hzhzxz = canonical({h, z, h, z, x, z});
  IdentityProver prover;

  OneQubit() {
    const Permut32 id = Permut32::identity(1);
    prover = IdentityProver::build(ECCs({ECC({{{}, id}, {{h, h}, id}}), ECC({{{x}, id}, {{h, z, h}, id}})}, 1),
                                   sequential());
    prover.add_identity(xzxz, 3, 1000, sequential());
  }
};

TEST(Proof, TextAndComparisons) {
  const OneQubit q;
  const Proof p({{q.hzhzxz, std::pair<std::size_t, std::size_t>(1, 2)}, {q.xhzh, std::nullopt}, {q.xzxz, std::nullopt}});
  EXPECT_EQ(p.to_text(), "0: " + q.hzhzxz.to_text() + " <- 1, 2\n1: " + q.xhzh.to_text() + " <- ASSUME\n2: " +
                             q.xzxz.to_text() + " <- ASSUME\n");
  EXPECT_EQ(Proof().to_text(), "");
  // Out-of-range indices are kept and printed as they are.
  const Proof odd({{q.hh, std::pair<std::size_t, std::size_t>(7, 0)}});
  EXPECT_EQ(odd.to_text(), "0: " + q.hh.to_text() + " <- 7, 0\n");

  EXPECT_EQ(p, Proof(p.entries()));
  EXPECT_NE(p, odd);
  // Prefix first; absent dependency before present; then by indices.
  const Proof prefix({p.entries()[0]});
  EXPECT_LT(prefix, p);
  EXPECT_LT(Proof(), prefix);
  const Proof assumed({{q.hzhzxz, std::nullopt}});
  EXPECT_LT(assumed, prefix);
  EXPECT_LT(prefix, Proof({{q.hzhzxz, std::pair<std::size_t, std::size_t>(1, 3)}}));
  EXPECT_LT(Proof({{q.hh, std::pair<std::size_t, std::size_t>(9, 9)}}), prefix);  // identity order first
}

TEST(Proof, WorkedExample) {
  const OneQubit q;
  ASSERT_EQ(q.prover.assume(), (std::vector<IdentityCirc>{q.hh, q.xhzh, q.xzxz}));
  std::vector<std::string> report;
  ProverOptions o = sequential();
  o.report = [&](std::string_view s) { report.emplace_back(s); };
  const std::optional<Proof> proof = export_proof(q.prover, q.hzhzxz, 3, 1000, o);
  ASSERT_TRUE(proof.has_value());
  const Proof expected({{q.hzhzxz, std::pair<std::size_t, std::size_t>(1, 2)}, {q.xhzh, std::nullopt},
                        {q.xzxz, std::nullopt}});
  EXPECT_EQ(*proof, expected);
  // The first expansion always reports.
  EXPECT_EQ(report, (std::vector<std::string>{"Exploring " + hex(q.hzhzxz.hash_value()) + " 6 " +
                                              q.hzhzxz.to_text() + " (0 queued)\n"}));
  expect_well_formed(*proof, q.hzhzxz, q.prover);
}

TEST(Proof, AssumedIdentityIsOneLine) {
  const OneQubit q;
  std::string report;
  ProverOptions o = sequential();
  o.report = [&](std::string_view s) { report += s; };
  // The assumption xzxz rewrites to hzh.z.x.z, proved while inserting it.
  const std::optional<Proof> proof = export_proof(q.prover, q.xzxz, 3, 1000, o);
  ASSERT_TRUE(proof.has_value());
  EXPECT_EQ(proof->to_text(), "0: " + q.xzxz.to_text() + " <- ASSUME\n");
  EXPECT_EQ(report, "");
}

TEST(Proof, UnprovableGivesNothingAndWritesNothing) {
  const OneQubit q;
  std::string report;
  ProverOptions o = sequential();
  o.report = [&](std::string_view s) { report += s; };
  const IdentityCirc t8 = canonical(std::vector<Instr32>(8, I1(gates::T(), 0)));
  EXPECT_EQ(export_proof(q.prover, t8, 3, 1000, o), std::nullopt);
  // The query's limit: hzhzxz needs three visited identities.
  EXPECT_EQ(export_proof(q.prover, q.hzhzxz, 3, 1, o), std::nullopt);
  EXPECT_EQ(report, "");
}

// ---- Generated classes ----------------------------------------------------

IdentityProver generated_prover(std::size_t max_size, const ProverOptions& options = {}) {
  Rng64 rng = Rng64::from_seed(2026);
  const Evaluator ev = Evaluator::from_random(2, rng);
  const std::vector<Gate16> g = {gates::H(), gates::T(), gates::CX()};
  return IdentityProver::build(generate(ev, g, max_size).map.simplify(), options);
}

// Queries: every proved identity of at most `longest` instructions, in a
// fixed order.
std::vector<IdentityCirc> queries(const IdentityProver& p, std::size_t longest) {
  std::vector<IdentityCirc> out;
  for (const IdentityCirc& id : p.proved()) {
    if (id.len() <= longest) out.push_back(id);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Proof, GeneratedProofsAreWellFormedAndThreadIndependent) {
  const IdentityProver p = generated_prover(4);
  const std::vector<IdentityCirc> qs = queries(p, 6);
  ASSERT_GT(qs.size(), 20u);
  std::vector<std::optional<Proof>> seq;
  std::size_t exported = 0, derived = 0;
  for (const IdentityCirc& q : qs) {
    seq.push_back(export_proof(p, q, 2, 20000, sequential()));
    if (!seq.back()) continue;
    ++exported;
    if (seq.back()->size() > 1) ++derived;
    expect_well_formed(*seq.back(), q, p);
  }
  EXPECT_GT(derived, 10u);
  EXPECT_GT(exported, qs.size() / 2);
  for (int threads : {1, 2}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    for (std::size_t i = 0; i < qs.size(); ++i) EXPECT_EQ(export_proof(p, qs[i], 2, 20000), seq[i]);
  }
}

TEST(Proof, TrackerLimitAbortsAfterSuccessfulQuery) {
  const IdentityProver p = generated_prover(4);
  // A query that succeeds within its own limit of V visited identities
  // while the tracker needs more than V states: the limit message, then
  // the export abort.
  std::size_t seen = 0;
  for (const IdentityCirc& q : queries(p, 6)) {
    auto [result, visited] = p.prove_identity_with_visited(q, 2, 20000);
    if (result) continue;
    const uint64_t limit = visited.size();
    ASSERT_TRUE(export_proof(p, q, 2, 20000).has_value());
    std::string report;
    ProverOptions o;
    o.report = [&](std::string_view s) { report += s; };
    const std::string message = abort_message([&] { export_proof(p, q, 2, limit, o); });
    const std::string limit_line = "Proof search exceeded limit of " + std::to_string(limit) + " states.\n";
    if (message == "<no abort>") {
      EXPECT_EQ(report.find("Proof search exceeded"), std::string::npos);
      continue;
    }
    EXPECT_EQ(message, "Failed to export proof for proved identity");
    ASSERT_GE(report.size(), limit_line.size());
    EXPECT_EQ(report.substr(report.size() - limit_line.size()), limit_line);
    ++seen;
  }
  EXPECT_GT(seen, 0u);
}

TEST(Proof, PollCancelsExport) {
  struct Cancelled {};
  const IdentityProver p = generated_prover(4);
  ProverOptions o;
  o.poll = [] { throw Cancelled{}; };
  for (const IdentityCirc& q : queries(p, 6)) {
    if (std::find(p.assume().begin(), p.assume().end(), q) != p.assume().end()) continue;
    EXPECT_THROW(export_proof(p, q, 2, 20000, o), Cancelled);
    break;
  }
}

}  // namespace
}  // namespace trevalon
