#include "identity/eccprove.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <string>

#include "identity/subcircuit.h"
#include "search/ecc_records.h"
#include "utils/abort.h"
#include "utils/parallel_for.h"

namespace trevalon {
namespace {

bool parallel(const ProverOptions& o) { return o.execution == ProverOptions::Execution::kParallel; }

void poll(const ProverOptions& o) {
  if (o.poll) o.poll();
}

SplitOptions split_options(const ProverOptions& o) {
  SplitOptions s;
  s.execution = parallel(o) ? SplitOptions::Execution::kParallel : SplitOptions::Execution::kSequential;
  return s;
}

// Runs body(i) for i in [0, n), on the pool or in order.
template <class Body>
void for_each_index(const ProverOptions& o, std::size_t n, const Body& body) {
  if (parallel(o) && n > 1) {
    parallel_for_ranges(n, [&](std::size_t first, std::size_t last) {
      for (std::size_t i = first; i != last; ++i) body(i);
    });
  } else {
    for (std::size_t i = 0; i < n; ++i) body(i);
  }
}

// Identities are at most 19 instructions long, so any allowance past this
// is unlimited; clamping keeps the signed arithmetic below exact.
constexpr int64_t kUnlimitedAllowance = int64_t{1} << 40;

int64_t allowance_of(uint64_t additional_size) {
  return additional_size > static_cast<uint64_t>(kUnlimitedAllowance) ? kUnlimitedAllowance
                                                                      : static_cast<int64_t>(additional_size);
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

// The queues of a best-first search: queue k holds identities k
// instructions longer than the start, oldest first. Only queues up to the
// longest identity met exist, whatever the size bound.
class SizeQueues {
 public:
  void push(std::size_t k, IdentityCirc id) {
    if (k >= queues_.size()) queues_.resize(k + 1);
    queues_[k].push_back(std::move(id));
  }
  // The oldest identity of the shortest non-empty queue.
  std::optional<IdentityCirc> pop() {
    for (std::deque<IdentityCirc>& q : queues_) {
      if (q.empty()) continue;
      IdentityCirc id = std::move(q.front());
      q.pop_front();
      return id;
    }
    return std::nullopt;
  }

 private:
  std::vector<std::deque<IdentityCirc>> queues_;
};

// What one class contributes: rule entries in member order, identities.
struct ClassRules {
  std::vector<std::pair<Circ, std::vector<Circ>>> rules;
  std::vector<IdentityCirc> identities;
};

ClassRules class_rules(const ECC& ecc) {
  if (ecc.size() == 0) check_index(0, 0);
  const ECC e = ECC(ecc).simplify_permute();
  const std::vector<CircPair>& pairs = e.pairs();
  ClassRules out;
  out.rules.reserve(pairs.size());
  for (const auto& [c, p] : pairs) {
    auto [c_rep, perm] = Circ::new_no_perm(c).representative_with_perm();
    const Permut32 p_inv = p.inv();
    std::vector<Circ> alternatives;
    alternatives.reserve(pairs.size() - 1);
    for (const auto& [c0, p0] : pairs) {
      if (c0 == c) continue;
      alternatives.push_back(Circ::create(c0, p_inv * p0).permut(perm));
    }
    out.rules.emplace_back(std::move(c_rep), std::move(alternatives));
  }
  const Circ initial = Circ::create(pairs[0].first, pairs[0].second).inverse();
  out.identities.reserve(pairs.size() - 1);
  for (std::size_t k = 1; k < pairs.size(); ++k) {
    out.identities.push_back((initial + Circ::create(pairs[k].first, pairs[k].second)).rotate_representative());
  }
  return out;
}

// Classes handled per parallel batch while building; between batches the
// bar advances and `poll` runs.
constexpr std::size_t kBuildBatch = 64;

}  // namespace

IdentityProver IdentityProver::build(const ECCs& eccs, const ProverOptions& options) {
  IdentityProver prover;
  const TextSink& out = options.diagnostics;
  out.emit("Building identity prover from " + std::to_string(eccs.size()) + " ECCs\n");
  std::vector<IdentityCirc> identities;
  {
    ProgressBar bar(out, eccs.size());
    std::vector<ClassRules> batch;
    for (std::size_t start = 0; start < eccs.size(); start += kBuildBatch) {
      const std::size_t n = std::min(kBuildBatch, eccs.size() - start);
      batch.assign(n, ClassRules{});
      for_each_index(options, n, [&](std::size_t i) { batch[i] = class_rules(eccs.eccs()[start + i]); });
      // Merged in class order: a later member with the same representative
      // replaces an earlier one's alternatives.
      for (ClassRules& c : batch) {
        for (auto& [key, alternatives] : c.rules) {
          prover.circ_map_.insert_or_assign(std::move(key), std::move(alternatives));
        }
        std::move(c.identities.begin(), c.identities.end(), std::back_inserter(identities));
      }
      bar.inc(n);
      poll(options);
    }
    bar.finish();
  }
  std::sort(identities.begin(), identities.end());
  identities.erase(std::unique(identities.begin(), identities.end()), identities.end());

  out.emit("Proving Identities\n");
  ProgressBar bar(out, identities.size());
  for (const IdentityCirc& id : identities) {
    prover.add_identity(id, kBuildAdditionalSize, kBuildCountLimit, options);
    bar.inc();
    poll(options);
  }
  bar.finish();
  return prover;
}

template <class T, class PerRule>
std::vector<T> IdentityProver::rule_round(const IdentityCirc& identity, int64_t allowance,
                                          const ProverOptions& options, const PerRule& per_rule) const {
  const std::vector<std::pair<Circ, Circ>> splits = par_subcircuit_splits(identity, split_options(options));
  std::vector<std::vector<T>> found(splits.size());
  for_each_index(options, splits.size(), [&](std::size_t i) {
    const auto& [s, r] = splits[i];
    const auto [s_rep, perm] = s.representative_with_perm();
    const auto it = circ_map_.find(s_rep);
    if (it == circ_map_.end()) return;
    const int64_t longest = static_cast<int64_t>(s_rep.len()) + allowance;
    std::optional<Circ> s_inv, r_relabelled;  // only once an alternative qualifies
    for (const Circ& a : it->second) {
      if (static_cast<int64_t>(a.len()) > longest) continue;
      if (!s_inv) {
        s_inv = s_rep.inverse();
        r_relabelled = r.permut(perm);
      }
      per_rule(a, *s_inv, *r_relabelled, found[i]);
    }
  });
  std::size_t total = 0;
  for (const auto& f : found) total += f.size();
  std::vector<T> out;
  out.reserve(total);
  for (auto& f : found) std::move(f.begin(), f.end(), std::back_inserter(out));
  return out;
}

std::vector<IdentityCirc> IdentityProver::par_apply_rules(const IdentityCirc& identity, uint64_t additional_size,
                                                          const ProverOptions& options) const {
  return rule_round<IdentityCirc>(
      identity, allowance_of(additional_size), options,
      [&](const Circ& a, const Circ& s_inv, const Circ& r, std::vector<IdentityCirc>& out) {
        if (!proved_.contains((a + s_inv).rotate_representative())) return;
        out.push_back((a + r).rotate_representative());
      });
}

std::vector<TransitionPair> IdentityProver::par_transition_pairs(const IdentityCirc& identity, int64_t allowance,
                                                                 const ProverOptions& options) const {
  allowance = std::clamp(allowance, -kUnlimitedAllowance, kUnlimitedAllowance);
  return rule_round<TransitionPair>(
      identity, allowance, options,
      [](const Circ& a, const Circ& s_inv, const Circ& r, std::vector<TransitionPair>& out) {
        out.emplace_back((a + s_inv).rotate_representative(), (a + r).rotate_representative());
      });
}

bool IdentityProver::add_identity(const IdentityCirc& identity, uint64_t additional_size, uint64_t count_limit,
                                  const ProverOptions& options) {
  if (identity.len() == 0 || proved_.contains(identity)) return false;
  auto [visited, assumed] = add_identity_search(identity, additional_size, count_limit, options);
  proved_.merge(visited);
  return assumed;
}

std::pair<IdentitySet, bool> IdentityProver::add_identity_search(const IdentityCirc& identity,
                                                                 uint64_t additional_size, uint64_t count_limit,
                                                                 const ProverOptions& options) {
  const std::size_t min_size = identity.len();
  const uint64_t max_size = saturating_add(min_size, additional_size);
  IdentitySet visited = {identity};
  SizeQueues queues;
  queues.push(0, identity);
  uint64_t counter = 0;
  while (std::optional<IdentityCirc> current = queues.pop()) {
    for (IdentityCirc& found : par_apply_rules(*current, max_size - current->len(), options)) {
      check_that(found.len() <= max_size, "new_id.len() <= max_size");
      if (!visited.insert(found).second) continue;
      if (found.len() < min_size) {
        const bool assumed = add_identity(found, additional_size, count_limit, options);
        return {std::move(visited), assumed};
      }
      if (proved_.contains(found)) return {std::move(visited), false};
      const std::size_t k = found.len() - min_size;
      queues.push(k, std::move(found));
      if (++counter > count_limit) {
        assume_.push_back(identity);
        return {std::move(visited), true};
      }
    }
    poll(options);
  }
  assume_.push_back(identity);
  return {std::move(visited), true};
}

std::optional<IdentityCirc> IdentityProver::prove_identity(const IdentityCirc& identity, uint64_t additional_size,
                                                           uint64_t count_limit,
                                                           const ProverOptions& options) const {
  return prove_identity_with_visited(identity, additional_size, count_limit, options).first;
}

std::pair<std::optional<IdentityCirc>, IdentitySet> IdentityProver::prove_identity_with_visited(
    const IdentityCirc& identity, uint64_t additional_size, uint64_t count_limit,
    const ProverOptions& options) const {
  const std::size_t min_size = identity.len();
  const uint64_t max_size = saturating_add(min_size, additional_size);
  IdentitySet visited = {identity};
  SizeQueues queues;
  queues.push(0, identity);
  while (std::optional<IdentityCirc> current = queues.pop()) {
    for (IdentityCirc& found : par_apply_rules(*current, max_size - current->len(), options)) {
      check_that(found.len() <= max_size, "new_id.len() <= max_size");
      if (!visited.insert(found).second) continue;
      if (found.len() < min_size) {
        auto [result, inner] = prove_identity_with_visited(found, additional_size, count_limit, options);
        visited.merge(inner);
        return {std::move(result), std::move(visited)};
      }
      if (proved_.contains(found)) return {std::nullopt, std::move(visited)};
      const std::size_t k = found.len() - min_size;
      queues.push(k, std::move(found));
      if (visited.size() > count_limit) return {identity, std::move(visited)};
    }
    poll(options);
  }
  return {identity, std::move(visited)};
}

namespace {

void write_prover(RecordWriter& w, const IdentityProver& p) {
  write_list(w, p.assume(), write_identity_circ);
  write_list(w, p.proved(), write_identity_circ);
  write_list(w, p.circ_map(), [](RecordWriter& w, const auto& entry) {
    write_circ(w, entry.first);
    write_list(w, entry.second, write_circ);
  });
}

IdentityProver read_prover(RecordReader& r) {
  GateNameCache gates;
  std::vector<IdentityCirc> assume = read_list(r, [&] { return read_identity_circ(r, gates); });
  IdentitySet proved;
  read_map_entries(r, [&] { proved.insert(read_identity_circ(r, gates)); });
  RuleMap circ_map;
  read_map_entries(r, [&] {
    Circ key = read_circ(r, gates);
    std::vector<Circ> alternatives = read_list(r, [&] { return read_circ(r, gates); });
    circ_map.insert_or_assign(std::move(key), std::move(alternatives));
  });
  return IdentityProver(std::move(assume), std::move(proved), std::move(circ_map));
}

}  // namespace

std::string prover_to_bytes(const IdentityProver& prover) {
  std::string out;
  RecordWriter w(&out);
  write_prover(w, prover);
  w.flush();
  return out;
}

IdentityProver prover_from_bytes(std::span<const uint8_t> bytes) {
  RecordReader r(bytes);
  return read_prover(r);
}

void save_prover(const IdentityProver& prover, const std::string& path) {
  save_record_file(path, [&](RecordWriter& w) { write_prover(w, prover); });
}

IdentityProver load_prover(const std::string& path) {
  IdentityProver out;
  load_record_file(path, [&](RecordReader& r) { out = read_prover(r); });
  return out;
}

}  // namespace trevalon
