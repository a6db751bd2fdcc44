// The terminal progress bar.
#include "tools/common/progress.h"

#include <cstdio>

#include "platform/console.h"

namespace vandrel::tools {

namespace {
constexpr int kWidth = 30;
}

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled && win::IsConsoleStream(win::STD_ERROR_HANDLE)) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::SetLabel(std::string label) {
  label_ = std::move(label);
  shown_ = -1;
}

void ProgressBar::Update(std::size_t done, std::size_t total) {
  if (!enabled_) return;
  int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  if (percent > 100) percent = 100;
  if (percent == shown_) return;
  shown_ = percent;
  int filled = percent * kWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%-12s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void ProgressBar::Clear() {
  if (!enabled_ || shown_ < 0) return;
  std::fprintf(stderr, "\r%*s\r", 12 + kWidth + 8, "");
  std::fflush(stderr);
  shown_ = -1;
}

}  // namespace vandrel::tools
