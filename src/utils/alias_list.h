// AliasList: persistent singly linked instruction lists sharing their tails,
// stored as 8-byte cells in one arena per search.
//
// A recorded circuit is one cell {head: its last instruction, tail: the cell
// of the circuit it extends}, so a search that records millions of circuits
// stores one instruction per circuit. Handles are 32-bit cell indices (Nil is
// the empty list); cells never change once made and live as long as their
// arena. Every map that refers to cells shares ownership of the arena, so a
// cell is freed exactly once, when the last such map goes away.
//
// Thread safety: `cons` is called by one thread; any number of threads may
// walk lists while no cell is being added.
#ifndef TREVALON_UTILS_ALIAS_LIST_H_
#define TREVALON_UTILS_ALIAS_LIST_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "circ/instr.h"

namespace trevalon {

class AliasList {
 public:
  static constexpr uint32_t kNilIndex = 0xFFFFFFFFu;
  constexpr AliasList() = default;
  constexpr explicit AliasList(uint32_t index) : index_(index) {}
  constexpr bool is_nil() const { return index_ == kNilIndex; }
  constexpr uint32_t index() const { return index_; }
  friend constexpr bool operator==(AliasList, AliasList) = default;

 private:
  uint32_t index_ = kNilIndex;
};

struct AliasCons {
  Instr32 head;
  AliasList tail;
};
static_assert(sizeof(AliasCons) == 8);

class CellArena {
 public:
  CellArena() = default;
  CellArena(const CellArena&) = delete;
  CellArena& operator=(const CellArena&) = delete;

  // A new cell {head, tail}; aborts when the arena holds 2^32 - 1 cells.
  AliasList cons(Instr32 head, AliasList tail);
  const AliasCons& cell(AliasList list) const {
    return chunks_[list.index() >> kChunkBits][list.index() & (kChunkSize - 1)];
  }
  std::size_t size() const { return size_; }

  // The instructions of `list` in circuit order (first instruction first),
  // replacing the contents of `out`.
  void collect(AliasList list, std::vector<Instr32>& out) const;
  std::vector<Instr32> collect(AliasList list) const {
    std::vector<Instr32> out;
    collect(list, out);
    return out;
  }

 private:
  // Chunks keep cells in place as the arena grows; 64K cells are 512 KiB.
  static constexpr uint32_t kChunkBits = 16;
  static constexpr uint32_t kChunkSize = 1u << kChunkBits;
  std::vector<std::unique_ptr<AliasCons[]>> chunks_;
  std::size_t size_ = 0;
};

}  // namespace trevalon

#endif  // TREVALON_UTILS_ALIAS_LIST_H_
