// A progress bar on standard error, drawn only when standard error is a
// terminal; elsewhere it prints nothing.
#pragma once

#include <cstddef>
#include <string>

namespace vandrel::tools {

class ProgressBar {
 public:
  // enabled: draw at all (the caller passes false for --quiet).
  ProgressBar(std::string label, bool enabled = true);
  // Clears the bar's line.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws when the shown percentage changes.
  void Update(std::size_t done, std::size_t total);
  void SetLabel(std::string label);
  void Clear();

 private:
  std::string label_;
  bool enabled_;
  int shown_ = -1;
};

}  // namespace vandrel::tools
