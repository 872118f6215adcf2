#include "identity/eccprove.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "oneapi/tbb/global_control.h"
#include "search/search.h"
#include "state/rng.h"
#include "utils/abort.h"
#include "utils/record_error.h"

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

// One-qubit classes {[], hh}, {x, hzh} and the single {t}.
//
// By hand: hh has no rule for its pieces but its own, whose rule identity
// is hh itself, so it is assumed. xhzh (x = hzh) only has the rules x ->
// hzh and hzh -> x, whose rule identity is xhzh itself, not yet proved:
// assumed too. Later, hzh.z.x.z rewrites by hzh -> x (rule identity xhzh,
// proved) to xzxz: once xzxz is known, hzhzxz is derived.
ECCs one_qubit_eccs() {
  const Permut32 id = Permut32::identity(1);
  const Instr32 h = I1(gates::H(), 0), x = I1(gates::X(), 0), z = I1(gates::Z(), 0), t = I1(gates::T(), 0);
  return ECCs({ECC({{{}, id}, {{h, h}, id}}), ECC({{{x}, id}, {{h, z, h}, id}}), ECC({{{t}, id}})}, 1);
}

IdentityCirc canonical(std::vector<Instr32> instrs) {
  return Circ::new_no_perm(std::move(instrs)).rotate_representative();
}

struct OneQubit {
  Instr32 h = I1(gates::H(), 0), x = I1(gates::X(), 0), z = I1(gates::Z(), 0), t = I1(gates::T(), 0);
  IdentityCirc hh = canonical({h, h});
  IdentityCirc xhzh = canonical({x, h, z, h});
  IdentityCirc xzxz = canonical({x, z, x, z});
  IdentityCirc hzhzxz = canonical({h, z, h, z, x, z});
};

TEST(IdentityProver, WorkedExampleOnOneQubit) {
  const OneQubit q;
  IdentityProver p = IdentityProver::build(one_qubit_eccs(), sequential());
  ASSERT_EQ(p.assume(), (std::vector<IdentityCirc>{q.hh, q.xhzh}));
  EXPECT_EQ(p.proved(), (IdentitySet{q.hh, q.xhzh}));
  EXPECT_EQ(p.circ_map().size(), 5u);  // [], hh, x, hzh, t
  // The single-circuit class gives a rule key with no alternatives.
  const auto it = p.circ_map().find(Circ::new_no_perm({q.t}));
  ASSERT_NE(it, p.circ_map().end());
  EXPECT_TRUE(it->second.empty());

  p.add_identity(q.xzxz, 3, 1000, sequential());
  ASSERT_TRUE(p.proved().contains(q.xzxz));
  const std::vector<IdentityCirc> assumed = p.assume();
  EXPECT_FALSE(p.add_identity(q.hzhzxz, 3, 1000, sequential()));
  EXPECT_EQ(p.assume(), assumed);
  EXPECT_TRUE(p.proved().contains(q.hzhzxz));
  EXPECT_EQ(p.prove_identity(q.hzhzxz, 3, 1000, sequential()), std::nullopt);
  for (const IdentityCirc& id : p.assume()) EXPECT_TRUE(p.proved().contains(id));
}

TEST(IdentityProver, AdditionalSizeBoundsAlternatives) {
  const OneQubit q;
  const IdentityProver p = IdentityProver::build(one_qubit_eccs(), sequential());
  const std::vector<IdentityCirc> wide = p.par_apply_rules(q.hzhzxz, 3, sequential());
  const std::vector<IdentityCirc> tight = p.par_apply_rules(q.hzhzxz, 0, sequential());
  // x -> hzh gives hzh.z.hzh.z; hzh -> x gives xzxz.
  EXPECT_EQ(wide, (std::vector<IdentityCirc>{canonical({q.h, q.z, q.h, q.z, q.h, q.z, q.h, q.z}), q.xzxz}));
  EXPECT_EQ(tight, (std::vector<IdentityCirc>{q.xzxz}));
  // A huge bound behaves as unlimited.
  EXPECT_EQ(p.par_apply_rules(q.hzhzxz, UINT64_MAX, sequential()), wide);
  // Without the proved-rule filter, as (rule identity, result) pairs.
  const std::vector<TransitionPair> pairs = p.par_transition_pairs(q.hzhzxz, 3, sequential());
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].first, q.xhzh);
  EXPECT_EQ(pairs[1], TransitionPair(q.xhzh, q.xzxz));
  // A negative allowance admits only alternatives shorter by that much.
  EXPECT_EQ(p.par_transition_pairs(q.hzhzxz, -2, sequential()), (std::vector<TransitionPair>{pairs[1]}));
  EXPECT_TRUE(p.par_transition_pairs(q.hzhzxz, -3, sequential()).empty());
}

TEST(IdentityProver, AddIdentityEdgeCases) {
  IdentityProver p = IdentityProver::build(one_qubit_eccs(), sequential());
  const IdentityProver before = p;
  EXPECT_FALSE(p.add_identity(IdentityCirc::unchecked(Circ::create({}, Permut32::identity(1))), 3, 100));
  EXPECT_EQ(p, before);
  // Already proved: no search, no change.
  EXPECT_FALSE(p.add_identity(p.assume()[0], 3, 100));
  EXPECT_EQ(p, before);
  // tt...t (eight t) has no rules at all: assumed, and proved.
  const IdentityCirc t8 = canonical(std::vector<Instr32>(8, I1(gates::T(), 0)));
  EXPECT_TRUE(p.add_identity(t8, 3, 100));
  EXPECT_EQ(p.assume().back(), t8);
  EXPECT_TRUE(p.proved().contains(t8));
  EXPECT_EQ(p.assumed_identities(), p.assume());
}

TEST(IdentityProver, QueryLimits) {
  const IdentityProver p = IdentityProver::build(one_qubit_eccs(), sequential());
  const Instr32 h = I1(gates::H(), 0), x = I1(gates::X(), 0), z = I1(gates::Z(), 0);
  // xx rewrites by x -> hzh to hzhx, which is xhzh: proved.
  const IdentityCirc xx = canonical({x, x});
  EXPECT_EQ(p.prove_identity(xx, 3, 1000, sequential()), std::nullopt);
  auto [result, visited] = p.prove_identity_with_visited(xx, 3, 1000, sequential());
  EXPECT_EQ(result, std::nullopt);
  EXPECT_EQ(visited, (IdentitySet{xx, canonical({x, h, z, h})}));
  // With no room to grow, x -> hzh is out of reach: not derivable.
  EXPECT_EQ(p.prove_identity(xx, 1, 1000, sequential()), xx);
  // hh (proved, but the start is never looked up) rewrites by its own rule
  // to the empty identity, shorter; the recursive query on that has no
  // splits and gives the empty identity back as unproved.
  const IdentityCirc hh = canonical({h, h});
  EXPECT_EQ(p.prove_identity(hh, 3, 1000, sequential()), IdentityCirc::create({}, Permut32::identity(1)));
  // t^8 has no rule: the queues run dry.
  const IdentityCirc t8 = canonical(std::vector<Instr32>(8, I1(gates::T(), 0)));
  auto [r8, v8] = p.prove_identity_with_visited(t8, 3, 1000, sequential());
  EXPECT_EQ(r8, t8);
  EXPECT_EQ(v8.size(), 1u);
}

TEST(IdentityProver, EmptyAndMalformedClassesAbort) {
  EXPECT_EQ(abort_message([] { IdentityProver::build(ECCs({ECC()}, 1)); }),
            "index out of bounds: the len is 0 but the index is 0");
  // A permutation word that is not a permutation.
  const ECC bad({{{}, Permut32::from_raw(0x02000000)}, {{I1(gates::X(), 0)}, Permut32::identity(1)}});
  EXPECT_NE(abort_message([&] { IdentityProver::build(ECCs({bad}, 2)); }), "<no abort>");
}

TEST(IdentityProver, LongIdentitiesAbort) {
  const IdentityProver p = IdentityProver::build(one_qubit_eccs(), sequential());
  const IdentityCirc h20 = canonical(std::vector<Instr32>(20, I1(gates::H(), 0)));
  EXPECT_NE(abort_message([&] { p.par_apply_rules(h20, 3); }), "<no abort>");
  EXPECT_NE(abort_message([&] { p.prove_identity(h20, 3, 10); }), "<no abort>");
}

TEST(IdentityProver, BuildMessagesAndBars) {
  std::string text;
  ProverOptions o = sequential();
  o.diagnostics.write = [&](std::string_view s) { text += s; };
  IdentityProver::build(one_qubit_eccs(), o);
  EXPECT_EQ(text, "Building identity prover from 3 ECCs\nProving Identities\n");
  text.clear();
  o.diagnostics.live = true;
  o.diagnostics.columns = [] { return 40; };
  IdentityProver::build(one_qubit_eccs(), o);
  EXPECT_NE(text.find("Building identity prover from 3 ECCs\n\r"), std::string::npos);
  EXPECT_NE(text.find(" 3/3\n"), std::string::npos);
  EXPECT_NE(text.find("Proving Identities\n\r"), std::string::npos);
  EXPECT_NE(text.find(" 2/2\n"), std::string::npos);
}

TEST(IdentityProver, PollCancelsAndLeavesProverConsistent) {
  struct Cancelled {};
  const ECCs eccs = one_qubit_eccs();
  int polls = 0;
  ProverOptions o = sequential();
  o.poll = [&] {
    if (++polls == 3) throw Cancelled{};
  };
  EXPECT_THROW(IdentityProver::build(eccs, o), Cancelled);

  IdentityProver p = IdentityProver::build(eccs, sequential());
  const IdentityCirc t8 = canonical(std::vector<Instr32>(8, I1(gates::T(), 0)));
  polls = 0;
  o.poll = [&] { throw Cancelled{}; };
  const IdentityProver before = p;
  EXPECT_THROW(p.add_identity(t8, 3, 100, o), Cancelled);
  EXPECT_EQ(p, before);
}

// ---- Generated classes ----------------------------------------------------

ECCs generated_eccs(std::size_t max_size) {
  Rng64 rng = Rng64::from_seed(2026);
  const Evaluator ev = Evaluator::from_random(2, rng);
  const std::vector<Gate16> g = {gates::H(), gates::T(), gates::CX()};
  return generate(ev, g, max_size).map.simplify();
}

TEST(IdentityProver, GeneratedClassesDeriveMostIdentities) {
  const ECCs eccs = generated_eccs(4);
  const IdentityProver p = IdentityProver::build(eccs);
  std::vector<IdentityCirc> ids;
  for (const auto& w : eccs.to_identity_circuits()) ids.push_back(std::get<0>(w));
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  for (const IdentityCirc& id : ids) EXPECT_TRUE(p.proved().contains(id));
  EXPECT_LT(p.assume().size() * 2, ids.size());
  // Assumptions made while building come in ascending size.
  EXPECT_TRUE(std::is_sorted(p.assume().begin(), p.assume().end(),
                             [](const IdentityCirc& a, const IdentityCirc& b) { return a.len() < b.len(); }));
  // Every class identity is derivable by a query.
  for (const IdentityCirc& id : ids) {
    if (std::find(p.assume().begin(), p.assume().end(), id) != p.assume().end()) continue;
    EXPECT_EQ(p.prove_identity(id, 3, 100000), std::nullopt) << id.to_text();
  }
}

TEST(IdentityProver, SameResultsForAnyThreadCount) {
  const ECCs eccs = generated_eccs(4);
  const IdentityProver seq = IdentityProver::build(eccs, sequential());
  std::vector<IdentityCirc> ids;
  for (const auto& w : eccs.to_identity_circuits()) ids.push_back(std::get<0>(w));
  for (int threads : {1, 2}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    const IdentityProver par = IdentityProver::build(eccs);
    EXPECT_EQ(par.assume(), seq.assume());
    EXPECT_EQ(par, seq);
    for (const IdentityCirc& id : ids) {
      EXPECT_EQ(par.par_apply_rules(id, 3), seq.par_apply_rules(id, 3, sequential()));
      EXPECT_EQ(par.par_transition_pairs(id, 1), seq.par_transition_pairs(id, 1, sequential()));
    }
  }
}

TEST(IdentityProver, RecordRoundTrip) {
  const IdentityProver p = IdentityProver::build(generated_eccs(4));
  const std::string bytes = prover_to_bytes(p);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_EQ(prover_from_bytes({data, bytes.size()}), p);
  // The empty prover is three zero counts.
  EXPECT_EQ(prover_to_bytes(IdentityProver()), std::string(3, '\0'));

  const std::string path = ::testing::TempDir() + "/prover_round_trip.bin";
  save_prover(p, path);
  EXPECT_EQ(load_prover(path), p);
  EXPECT_THROW(load_prover(path + ".missing"), RecordError);
}

TEST(IdentityProver, HostileRecordsFailCleanly) {
  const IdentityProver p = IdentityProver::build(one_qubit_eccs(), sequential());
  const std::string bytes = prover_to_bytes(p);
  // Every truncation fails to decode.
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_THROW(prover_from_bytes({reinterpret_cast<const uint8_t*>(bytes.data()), n}), RecordError) << n;
  }
  // Flipped bytes either decode or fail with a record error or an abort.
  Rng64 rng = Rng64::from_seed(5);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string mutated = bytes;
    mutated[rng.next_u64() % mutated.size()] = static_cast<char>(rng.next_u64());
    try {
      const IdentityProver q = prover_from_bytes({reinterpret_cast<const uint8_t*>(mutated.data()), mutated.size()});
      (void)q.assume().size();
    } catch (const RecordError&) {
    } catch (const Abort&) {
    }
  }
}

}  // namespace
}  // namespace trevalon
