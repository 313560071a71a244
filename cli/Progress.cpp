#include "cli/Progress.h"

#include <algorithm>
#include <cstdio>

namespace qbcli {

namespace {
constexpr int kBarWidth = 40;
}

void ProgressBar::SetLabel(std::string text) {
  label = std::move(text);
  lastPermille = -1;
}

void ProgressBar::Update(long current, long total) {
  if (!enabled || total <= 0) return;
  const int permille =
      static_cast<int>(std::clamp(current * 1000.0 / static_cast<double>(total), 0.0, 1000.0));
  // The effect reports once per line; redraw only when the text changes.
  if (permille / 10 == lastPermille / 10 && lastPermille >= 0) return;
  lastPermille = permille;
  const int filled = permille * kBarWidth / 1000;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::fprintf(stderr, "\r%s[%s] %3d%%", label.c_str(), bar.c_str(), permille / 10);
  std::fflush(stderr);
  shown = true;
}

void ProgressBar::Finish() {
  if (!shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown = false;
  lastPermille = -1;
}

}  // namespace qbcli
