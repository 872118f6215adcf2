// ProgressBar: a small terminal progress bar, "{wide bar} {pos}/{len}",
// redrawn in place on one line and left on screen when finished.
//
// Core code never writes to a stream itself: a `TextSink` says where text
// goes and whether that destination is a live terminal. On a terminal the
// bar is redrawn with a carriage return (at most about fifteen times a
// second, and once more at the end); anywhere else (logs, pipes, CI) the bar
// writes nothing at all, so no control characters end up in files.
//
// A bar is used by one thread, the one that owns the work it reports on.
#ifndef TREVALON_UTILS_PROGRESS_BAR_H_
#define TREVALON_UTILS_PROGRESS_BAR_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace trevalon {

struct TextSink {
  // Receives text as it should appear; nothing is written when empty.
  std::function<void(std::string_view)> write;
  // The destination is a terminal, so a live bar may be drawn.
  bool live = false;
  // Current terminal width in columns; 80 is assumed when empty or when it
  // answers something unusable.
  std::function<int()> columns;

  // Writes `text` when there is a destination.
  void emit(std::string_view text) const {
    if (write) write(text);
  }
};

class ProgressBar {
 public:
  // Draws the empty bar at once (live sinks only). `sink` must outlive the
  // bar.
  ProgressBar(const TextSink& sink, uint64_t len);
  // A bar cut short by an exception still ends its line.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void inc(uint64_t delta = 1);
  // Final draw and line break; later calls do nothing.
  void finish();

  uint64_t pos() const { return pos_; }

  // The bar line without control characters, `columns` wide at most (the
  // bar itself gets what the counter leaves, at least one cell).
  static std::string render(uint64_t pos, uint64_t len, int columns);

 private:
  void draw();

  const TextSink& sink_;
  uint64_t pos_ = 0;
  uint64_t len_;
  bool finished_ = false;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace trevalon

#endif  // TREVALON_UTILS_PROGRESS_BAR_H_
