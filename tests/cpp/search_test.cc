#include "search/search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oneapi/tbb/global_control.h"
#include "search/ecc.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

Evaluator make_evaluator(uint32_t n, uint64_t seed) {
  Rng64 rng = Rng64::from_seed(seed);
  return Evaluator::from_random(n, rng);
}

struct SearchRun {
  SearchCounters counters;
  ECCs classes;
  std::vector<std::string> progress;
  std::vector<std::string> buckets;  // key and debug text, in map order
};

SearchRun run(const Evaluator& ev, const std::vector<Gate16>& gates, std::size_t max_size,
        SearchOptions::Execution execution, bool naive = false) {
  SearchRun out;
  SearchOptions options;
  options.execution = execution;
  options.progress = [&](std::string_view line) { out.progress.emplace_back(line); };
  SearchResult r = naive ? generate_naive(ev, gates, max_size, options) : generate(ev, gates, max_size, options);
  out.counters = r.counters;
  out.classes = r.map.simplify();
  for (const auto& b : r.map.buckets()) {
    out.buckets.push_back(std::to_string(b.key) + " " + b.ecc.debug_text(r.map.arena()));
  }
  return out;
}

TEST(Search, ParallelMatchesSequential) {
  const Evaluator ev = make_evaluator(3, 11);
  const std::vector<Gate16> gates = {gates::H(), gates::T(), gates::CX()};
  for (bool naive : {false, true}) {
    const SearchRun seq = run(ev, gates, 4, SearchOptions::Execution::kSequential, naive);
    for (int threads : {1, 2}) {
      tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
      const SearchRun par = run(ev, gates, 4, SearchOptions::Execution::kParallel, naive);
      EXPECT_EQ(par.counters, seq.counters);
      EXPECT_EQ(par.progress, seq.progress);
      EXPECT_EQ(par.buckets, seq.buckets);
      EXPECT_TRUE(par.classes == seq.classes);
    }
    if (naive) EXPECT_EQ(seq.counters.evaluated, seq.counters.offered);
    EXPECT_EQ(seq.progress.size(), (seq.counters.explored + 399) / 400);
    if (naive) EXPECT_GT(seq.progress.size(), 1u);
  }
}

TEST(Search, EmptyInstructionSet) {
  const Evaluator ev = make_evaluator(2, 3);
  for (auto* fn : {&search, &search_naive}) {
    std::vector<std::string> lines;
    SearchOptions options;
    options.progress = [&](std::string_view line) { lines.emplace_back(line); };
    SearchResult r = fn(ev, {}, 3, options);
    EXPECT_EQ(r.counters, (SearchCounters{1, 0, 0}));
    EXPECT_EQ(r.map.size(), 1u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "#0 Exploring  (0 queued, 1 ECCs, 0 circs, 0 circs perm)\n");
  }
}

TEST(Search, MaxSizeZeroAndOneExtendOnlyTheRoot) {
  const Evaluator ev = make_evaluator(2, 5);
  const auto instrs = generate_instructions(2, std::vector<Gate16>{gates::H(), gates::CX()});
  for (std::size_t max_size : {0u, 1u}) {
    SearchResult r = search(ev, instrs, max_size);
    EXPECT_EQ(r.counters.explored, 1u);
    EXPECT_EQ(r.counters.evaluated, instrs.size());
  }
}

TEST(Search, GenerateInstructionOrder) {
  const auto instrs = generate_instructions(3, std::vector<Gate16>{gates::H(), gates::CX()});
  std::vector<std::string> text;
  for (const Instr32& i : instrs) text.push_back(i.to_text());
  EXPECT_EQ(text, (std::vector<std::string>{"h(0)", "h(1)", "cx(0, 1)", "cx(1, 0)", "h(2)", "cx(0, 2)",
                                            "cx(1, 2)", "cx(2, 0)", "cx(2, 1)"}));
  // t's adjoint joins; gates sort by (qubit count, id).
  const auto with_t = generate_instructions(1, std::vector<Gate16>{gates::T(), gates::H()});
  ASSERT_EQ(with_t.size(), 3u);
  EXPECT_EQ(with_t[0].gate(), gates::H());
  EXPECT_EQ(with_t[1].gate(), gates::T());
  EXPECT_EQ(with_t[2].gate(), gates::TDG());
  EXPECT_TRUE(generate_instructions(0, std::vector<Gate16>{gates::H(), gates::CX()}).empty());
  const Gate16 ccz = Gate16::create("ccz", {}, ComplexMatrix(8, 8, [] {
                                     std::vector<Complex> m(64);
                                     for (int i = 0; i < 8; ++i) m[i * 9] = i == 7 ? -1.0 : 1.0;
                                     return m;
                                   }()));
  EXPECT_THROW(generate_instructions(2, std::vector<Gate16>{gates::H(), ccz}), Abort);
}

TEST(Search, SurfaceGates) {
  const std::vector<Instr32> c = {Instr32(gates::H(), QArgs16(0, 255)), Instr32(gates::CX(), QArgs16(0, 1)),
                                  Instr32(gates::H(), QArgs16(1, 255))};
  std::vector<Instr32> front, back;
  circuit_get_surface_gates(c.begin(), c.end(), front);
  circuit_get_surface_gates(c.rbegin(), c.rend(), back);
  ASSERT_EQ(front.size(), 1u);
  EXPECT_EQ(front[0], c[0]);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], c[2]);
}

TEST(Search, OneQubitNaiveAndCanonicalAgree) {
  const Evaluator ev = make_evaluator(1, 9);
  const std::vector<Gate16> gates = {gates::H(), gates::T()};
  SearchResult a = generate(ev, gates, 5);
  SearchResult b = generate_naive(ev, gates, 5);
  ASSERT_EQ(a.map.size(), b.map.size());
  for (std::size_t i = 0; i < a.map.size(); ++i) {
    EXPECT_EQ(a.map.buckets()[i].ecc.to_text(a.map.arena()), b.map.buckets()[i].ecc.to_text(b.map.arena()));
  }
}

TEST(Search, SimplifiedClassesAreSound) {
  const Evaluator ev = make_evaluator(3, 21);
  SearchResult r = generate(ev, std::vector<Gate16>{gates::H(), gates::T(), gates::CX()}, 4);
  const ECCs eccs = r.map.simplify();
  EXPECT_EQ(eccs.size(), r.map.size());
  EXPECT_TRUE(eccs.check().empty());
  EXPECT_TRUE(std::is_sorted(eccs.eccs().begin(), eccs.eccs().end()));
}

}  // namespace
}  // namespace trevalon
