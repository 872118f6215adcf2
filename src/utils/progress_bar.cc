#include "utils/progress_bar.h"

#include <algorithm>

namespace trevalon {
namespace {

constexpr int kDefaultColumns = 80;
constexpr auto kRedrawInterval = std::chrono::milliseconds(66);

}  // namespace

ProgressBar::ProgressBar(const TextSink& sink, uint64_t len)
    : sink_(sink), len_(len), last_draw_(std::chrono::steady_clock::now()) {
  draw();
}

ProgressBar::~ProgressBar() {
  // Unwinding must not be stopped by a failing sink.
  try {
    finish();
  } catch (...) {
  }
}

void ProgressBar::inc(uint64_t delta) {
  pos_ += delta;
  if (!sink_.live || finished_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  draw();
}

void ProgressBar::finish() {
  if (finished_) return;
  finished_ = true;
  if (!sink_.live) return;
  draw();
  sink_.emit("\n");
}

std::string ProgressBar::render(uint64_t pos, uint64_t len, int columns) {
  const std::string counter = " " + std::to_string(pos) + "/" + std::to_string(len);
  const int cells = std::max(1, columns - static_cast<int>(counter.size()));
  const uint64_t shown = std::min(pos, len);
  // len 0 means nothing to do: shown full.
  const auto filled = len == 0 ? cells
                               : static_cast<int>(static_cast<double>(shown) / static_cast<double>(len) *
                                                  static_cast<double>(cells));
  std::string line(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(cells - filled), '-');
  line += counter;
  return line;
}

void ProgressBar::draw() {
  if (!sink_.live) return;
  int columns = sink_.columns ? sink_.columns() : kDefaultColumns;
  if (columns < 8 || columns > 1000) columns = kDefaultColumns;
  // One column short of the width, so the cursor never wraps the line.
  sink_.emit("\r" + render(pos_, len_, columns - 1));
}

}  // namespace trevalon
