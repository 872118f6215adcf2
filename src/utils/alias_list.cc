#include "utils/alias_list.h"

#include <algorithm>

#include "utils/abort.h"

namespace trevalon {

AliasList CellArena::cons(Instr32 head, AliasList tail) {
  if (size_ >= AliasList::kNilIndex) abort_with("Too many recorded circuits for one search");
  if ((size_ & (kChunkSize - 1)) == 0) {
    chunks_.push_back(std::make_unique_for_overwrite<AliasCons[]>(kChunkSize));
  }
  const auto index = static_cast<uint32_t>(size_++);
  chunks_[index >> kChunkBits][index & (kChunkSize - 1)] = {head, tail};
  return AliasList(index);
}

void CellArena::collect(AliasList list, std::vector<Instr32>& out) const {
  out.clear();
  for (AliasList at = list; !at.is_nil(); at = cell(at).tail) out.push_back(cell(at).head);
  std::reverse(out.begin(), out.end());
}

}  // namespace trevalon
