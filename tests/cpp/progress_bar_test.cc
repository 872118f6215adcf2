#include "utils/progress_bar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace trevalon {
namespace {

TEST(ProgressBar, RenderFillsTheWidth) {
  EXPECT_EQ(ProgressBar::render(0, 4, 20), std::string(16, '-') + " 0/4");
  EXPECT_EQ(ProgressBar::render(2, 4, 20), std::string(8, '#') + std::string(8, '-') + " 2/4");
  EXPECT_EQ(ProgressBar::render(4, 4, 20), std::string(16, '#') + " 4/4");
  // Past the end and nothing to do both show a full bar.
  EXPECT_EQ(ProgressBar::render(9, 4, 20), std::string(16, '#') + " 9/4");
  EXPECT_EQ(ProgressBar::render(0, 0, 12), std::string(8, '#') + " 0/0");
  // A counter wider than the terminal still leaves one cell.
  EXPECT_EQ(ProgressBar::render(123, 456, 3), "- 123/456");
}

TEST(ProgressBar, WritesNothingOffATerminal) {
  std::string text;
  TextSink sink;
  sink.write = [&](std::string_view s) { text += s; };
  {
    ProgressBar bar(sink, 3);
    bar.inc();
    bar.inc(2);
    bar.finish();
    EXPECT_EQ(bar.pos(), 3u);
  }
  EXPECT_EQ(text, "");
}

TEST(ProgressBar, LiveBarRedrawsInPlaceAndEndsItsLine) {
  std::string text;
  TextSink sink;
  sink.write = [&](std::string_view s) { text += s; };
  sink.live = true;
  sink.columns = [] { return 21; };  // one column is kept free
  {
    ProgressBar bar(sink, 4);
    EXPECT_EQ(text, "\r" + std::string(16, '-') + " 0/4");
    bar.inc(4);
    bar.finish();
    bar.finish();  // once only
  }
  EXPECT_EQ(text.substr(text.size() - 22), "\r" + std::string(16, '#') + " 4/4\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);

  // Cut short (an exception unwinding): the destructor ends the line.
  text.clear();
  { ProgressBar bar(sink, 2); }
  EXPECT_EQ(text.back(), '\n');
  // Unusable widths fall back to 80 columns.
  text.clear();
  sink.columns = [] { return 0; };
  { ProgressBar bar(sink, 1); }
  const std::string line = "\r" + ProgressBar::render(0, 1, 79);
  EXPECT_EQ(text, line + line + "\n");
}

}  // namespace
}  // namespace trevalon
