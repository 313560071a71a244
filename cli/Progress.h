// A one-line progress bar on stderr, fed by the host's progress callback.
// Disabled bars cost nothing; callers decide (a terminal, no --quiet).
#pragma once

#include <string>

namespace qbcli {

class ProgressBar {
 public:
  explicit ProgressBar(bool show) : enabled(show) {}
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  ~ProgressBar() { Finish(); }

  // Text shown before the bar, e.g. the frame being rendered.
  void SetLabel(std::string text);
  void Update(long current, long total);
  // Clears the line so that whatever follows starts on a clean one.
  void Finish();

 private:
  bool enabled;
  bool shown = false;
  int lastPermille = -1;
  std::string label;
};

}  // namespace qbcli
