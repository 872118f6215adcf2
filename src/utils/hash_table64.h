// HashTable64<K, V>: values stored under the stable 64-bit hash of their
// key, so that queues and links elsewhere can name entries by a bare
// uint64_t. The key is kept beside the value to detect two different keys
// with one hash instead of merging them.
//
// K provides `uint64_t hash_value() const` (stable across processes) and
// `==`. The stored hash is already uniform, so the map uses it as its own
// bucket hash and never rehashes a key.
//
// Invariant: every entry (h, (k, v)) made by `insert` has h == k.hash_value();
// `address_or` trusts its caller for that.
//
// Entries are never removed, and their addresses stay fixed while the table
// grows (node-based map): references handed out stay valid until the table
// is destroyed. Not synchronised: one thread at a time.
#ifndef TREVALON_UTILS_HASH_TABLE64_H_
#define TREVALON_UTILS_HASH_TABLE64_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "absl/container/node_hash_map.h"
#include "utils/abort.h"

namespace trevalon {

template <class K, class V>
class HashTable64 {
 public:
  // A stored key (read-only) and its value.
  struct Ref {
    const K& key;
    V& value;
  };
  struct ConstRef {
    const K& key;
    const V& value;
  };

  HashTable64() = default;

  // Stores (key, value) under key.hash_value() = h, with one probe.
  // Vacant: returns (h, nothing). Held by an equal key: replaces the pair
  // and returns (h, the previous pair). Held by a different key: aborts
  // with "Hash collision detected in HashTable64", leaving the table as it
  // was.
  std::pair<uint64_t, std::optional<std::pair<K, V>>> insert(K key, V value) {
    const uint64_t h = key.hash_value();
    // try_emplace leaves its arguments untouched when the slot is taken.
    auto [it, inserted] = map_.try_emplace(h, std::move(key), std::move(value));
    if (inserted) return {h, std::nullopt};
    std::pair<K, V>& stored = it->second;
    if (!(stored.first == key)) abort_with("Hash collision detected in HashTable64");
    std::pair<K, V> previous(std::move(key), std::move(value));
    std::swap(previous, stored);
    return {h, std::move(previous)};
  }

  // The entry stored under `hash`, or nothing.
  std::optional<ConstRef> address(uint64_t hash) const {
    const auto it = map_.find(hash);
    if (it == map_.end()) return std::nullopt;
    return ConstRef{it->second.first, it->second.second};
  }

  // The entry under `hash` with its value writable, or nothing.
  std::optional<Ref> address_mut(uint64_t hash) {
    const auto it = map_.find(hash);
    if (it == map_.end()) return std::nullopt;
    return Ref{it->second.first, it->second.second};
  }

  // The entry under `hash`; when there is none, `default_entry` is stored
  // there first (and dropped otherwise). Neither hashes nor compares keys:
  // the caller passes the hash of default_entry's key.
  Ref address_or(uint64_t hash, std::pair<K, V> default_entry) {
    const auto it = map_.try_emplace(hash, std::move(default_entry)).first;
    return Ref{it->second.first, it->second.second};
  }

  std::size_t size() const { return map_.size(); }
  bool empty() const { return map_.empty(); }

 private:
  // The stored hash is the bucket hash.
  struct SelfHash {
    std::size_t operator()(uint64_t h) const { return static_cast<std::size_t>(h); }
  };

  absl::node_hash_map<uint64_t, std::pair<K, V>, SelfHash> map_;
};

}  // namespace trevalon

#endif  // TREVALON_UTILS_HASH_TABLE64_H_
