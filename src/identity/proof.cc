#include "identity/proof.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <queue>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "utils/abort.h"

namespace trevalon {
namespace {

std::string hex(uint64_t v) {
  char buf[16];
  const auto end = std::to_chars(buf, buf + sizeof buf, v, 16).ptr;
  return std::string(buf, end);
}

[[noreturn]] void abort_missing(uint64_t key) { abort_with("Proof tracker has no entry for " + hex(key)); }

std::string debug_text(const IdentityCirc& id, const ProofFuture& state) {
  std::string out = "(" + id.debug_text() + ", ";
  if (const auto* w = std::get_if<ProofWaiting>(&state)) {
    out += std::string("Waiting { expanded: ") + (w->expanded ? "true" : "false") + ", notify: [";
    for (std::size_t i = 0; i < w->notify.size(); ++i) {
      if (i > 0) out += ", ";
      out += "(" + std::to_string(w->notify[i].first) + ", " + std::to_string(w->notify[i].second) + ")";
    }
    out += "] }";
  } else {
    const auto& p = std::get<ProofResult>(state).premises;
    out += p ? "Result(Some((" + std::to_string(p->first) + ", " + std::to_string(p->second) + ")))"
             : std::string("Result(None)");
  }
  return out + ")";
}

// Identities are at most 19 instructions long; larger bounds are unlimited.
constexpr uint64_t kUnlimitedSize = uint64_t{1} << 40;

}  // namespace

std::string Proof::to_text() const {
  std::string out;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const auto& [id, dep] = entries_[i];
    out += std::to_string(i) + ": " + id.to_text() + " <- ";
    out += dep ? std::to_string(dep->first) + ", " + std::to_string(dep->second) : std::string("ASSUME");
    out += '\n';
  }
  return out;
}

// The state of one `prove` call.
struct ProofTracker::Search {
  using Item = std::pair<std::size_t, uint64_t>;  // (instruction count, hash)

  const IdentityProver& prover;
  const IdentitySet& filter_set;
  const ProverOptions& options;
  // The prover's assumptions, for exact membership tests.
  IdentitySet assumed;
  uint64_t max_size;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;

  bool usable(const IdentityCirc& id) const { return prover.proved().contains(id) || filter_set.contains(id); }
  void report(const std::string& line) const {
    if (options.report) options.report(line);
  }
};

bool ProofTracker::resolved(uint64_t key) const {
  const auto e = table_.address(key);
  return e && std::holds_alternative<ProofResult>(e->value);
}

bool ProofTracker::prove(const IdentityCirc& identity, const IdentityProver& prover, uint64_t additional_size,
                         uint64_t count_limit, const IdentitySet& filter_set, const ProverOptions& options) {
  Search search{prover, filter_set, options, IdentitySet(prover.assume().begin(), prover.assume().end()), 0, {}};
  if (search.assumed.contains(identity)) {
    table_.insert(identity, ProofResult{});
    return true;
  }
  search.max_size = std::min<uint64_t>(identity.len() + std::min(additional_size, kUnlimitedSize), kUnlimitedSize);
  const uint64_t initial = identity.hash_value();
  search.queue.emplace(identity.len(), initial);
  table_.insert(identity, ProofWaiting{});
  uint64_t counter = 0;
  while (!search.queue.empty()) {
    const auto [len, key] = search.queue.top();
    search.queue.pop();
    if (table_.size() > count_limit) {
      search.report("Proof search exceeded limit of " + std::to_string(count_limit) + " states.\n");
      return false;
    }
    if (prune(key, initial)) {
      if (counter % 50 == 0) {
        const auto e = table_.address(key);
        if (!e) abort_missing(key);
        search.report("Exploring " + hex(key) + " " + std::to_string(len) + " " + e->key.to_text() + " (" +
                      std::to_string(search.queue.size()) + " queued)\n");
      }
      expand(key, search);
      ++counter;
      if (options.poll) options.poll();
    }
    if (resolved(initial)) return true;
  }
  return false;
}

void ProofTracker::expand(uint64_t key, Search& search) {
  const auto entry = table_.address_mut(key);
  if (!entry) abort_missing(key);
  auto* waiting = std::get_if<ProofWaiting>(&entry->value);
  if (waiting == nullptr || waiting->expanded) return;
  waiting->expanded = true;
  // Entries keep their addresses as the table grows.
  const IdentityCirc& identity = entry->key;
  const int64_t allowance = static_cast<int64_t>(search.max_size) - static_cast<int64_t>(identity.len());
  for (const auto& [id1, id2] : search.prover.par_transition_pairs(identity, allowance, search.options)) {
    if (!search.usable(id1) || !search.usable(id2)) continue;
    const uint64_t h1 = id1.hash_value(), h2 = id2.hash_value();
    if (search.assumed.contains(id1)) {
      table_.insert(id1, ProofResult{});
    } else if (wait(id1, h2, key)) {
      check_that(h1 != key, "id1hash != key");
      search.queue.emplace(id1.len(), h1);
    }
    if (search.assumed.contains(id2)) {
      table_.insert(id2, ProofResult{});
    } else if (wait(id2, h1, key)) {
      check_that(h2 != key, "id2hash != key");
      search.queue.emplace(id2.len(), h2);
    }
    if (notify(h1, h2, key)) break;
  }
}

bool ProofTracker::wait(const IdentityCirc& identity, uint64_t partner, uint64_t waiter) {
  const auto entry = table_.address_or(identity.hash_value(), {identity, ProofWaiting{}});
  auto* waiting = std::get_if<ProofWaiting>(&entry.value);
  if (waiting == nullptr) return false;
  waiting->notify.emplace_back(partner, waiter);
  return !waiting->expanded;
}

bool ProofTracker::notify(uint64_t a, uint64_t b, uint64_t w) {
  using Notify = std::vector<std::pair<uint64_t, uint64_t>>;
  // Resolves w from (a, b) if possible, handing out w's waiters.
  auto resolve = [&](uint64_t a, uint64_t b, uint64_t w, Notify& waiters) {
    if (!resolved(a) || !resolved(b)) return false;
    const auto entry = table_.address_mut(w);
    if (!entry) return false;
    auto* waiting = std::get_if<ProofWaiting>(&entry->value);
    if (waiting == nullptr) return false;
    waiters = std::move(waiting->notify);
    entry->value = ProofResult{std::pair(a, b)};
    return true;
  };
  struct Frame {
    uint64_t resolved;
    Notify waiters;
    std::size_t next = 0;
  };
  std::vector<Frame> stack(1, Frame{w, {}});
  if (!resolve(a, b, w, stack.back().waiters)) return false;
  // Depth-first: each waiter's whole cascade finishes before the next one.
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.waiters.size()) {
      stack.pop_back();
      continue;
    }
    const auto [partner, waiter] = top.waiters[top.next++];
    Frame frame{waiter, {}};
    const uint64_t from = top.resolved;
    if (resolve(from, partner, waiter, frame.waiters)) stack.push_back(std::move(frame));
  }
  check_that(resolved(w), "resolved(w)");
  return true;
}

bool ProofTracker::prune(uint64_t key, uint64_t initial) const {
  // Reachability of `initial` from `key` through waiting identities' waiters.
  absl::flat_hash_set<uint64_t> seen = {key};
  std::vector<uint64_t> stack = {key};
  while (!stack.empty()) {
    const uint64_t k = stack.back();
    stack.pop_back();
    if (k == initial) return true;
    const auto e = table_.address(k);
    if (!e) continue;
    const auto* waiting = std::get_if<ProofWaiting>(&e->value);
    if (waiting == nullptr) continue;
    for (const auto& [partner, waiter] : waiting->notify) {
      if (seen.insert(waiter).second) stack.push_back(waiter);
    }
  }
  return false;
}

Proof ProofTracker::export_from(uint64_t root) const {
  absl::flat_hash_map<uint64_t, std::size_t> index;
  std::vector<uint64_t> order;  // hashes by index
  auto number = [&](uint64_t key) {
    index.emplace(key, order.size());
    order.push_back(key);
  };
  auto premises_of = [&](uint64_t key) -> std::optional<std::pair<uint64_t, uint64_t>> {
    const auto e = table_.address(key);
    if (!e) abort_missing(key);
    const auto* r = std::get_if<ProofResult>(&e->value);
    return r ? r->premises : std::nullopt;
  };
  // Pre-order: an identity is numbered before its premises, the first
  // premise's subtree before the second premise.
  struct Frame {
    uint64_t key;
    int stage = 0;
  };
  number(root);
  std::vector<Frame> stack = {{root}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    const auto premises = premises_of(top.key);
    if (!premises || top.stage == 2) {
      stack.pop_back();
      continue;
    }
    const uint64_t next = top.stage++ == 0 ? premises->first : premises->second;
    if (!index.contains(next)) {
      number(next);
      stack.push_back({next});
    }
  }
  std::vector<ProofEntry> entries;
  entries.reserve(order.size());
  for (const uint64_t key : order) {
    const auto e = table_.address(key);
    if (!e) abort_missing(key);
    const auto* r = std::get_if<ProofResult>(&e->value);
    if (r == nullptr) abort_with(debug_text(e->key, e->value));
    ProofDependency dep;
    if (r->premises) dep = std::pair(index.at(r->premises->first), index.at(r->premises->second));
    entries.emplace_back(e->key, dep);
  }
  return Proof(std::move(entries));
}

std::optional<Proof> export_proof(const IdentityProver& prover, const IdentityCirc& identity,
                                  uint64_t additional_size, uint64_t count_limit, const ProverOptions& options) {
  auto [result, visited] = prover.prove_identity_with_visited(identity, additional_size, count_limit, options);
  if (result) return std::nullopt;
  ProofTracker tracker;
  if (!tracker.prove(identity, prover, additional_size, count_limit, visited, options)) {
    abort_with("Failed to export proof for proved identity");
  }
  return tracker.export_from(identity.hash_value());
}

}  // namespace trevalon
