#include "progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <fmt/format.h>

namespace lum::lumshow {

namespace {

constexpr int kBarWidth = 30;

std::string Clock(double seconds) {
  const auto s = int64_t(std::max(0.0, std::round(seconds)));
  return s >= 3600 ? fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60)
                   : fmt::format("{}:{:02}", s / 60, s % 60);
}

}  // namespace

TProgressBar::TProgressBar(int64_t total, double mediaMs, bool enabled)
    : total_(std::max<int64_t>(total, 1)),
      mediaMs_(mediaMs),
      enabled_(enabled),
      start_(std::chrono::steady_clock::now()) {}

bool TProgressBar::OnTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

std::string TProgressBar::Line(int64_t done, double elapsed) const {
  const double share = std::clamp(double(done) / double(total_), 0.0, 1.0);
  const int filled = int(share * kBarWidth);
  std::string bar = std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.');
  std::string line = fmt::format("[{}] {}/{} frames  {} elapsed", bar, done, total_, Clock(elapsed));
  if (done > 0 && elapsed > 0.2) {
    const double left = elapsed * (1 - share) / share;
    const double speed = share * mediaMs_ / 1000.0 / elapsed;
    line += fmt::format("  {} left  {:.1f}x real time", Clock(left), speed);
  }
  return line;
}

void TProgressBar::Draw(int64_t done) {
  lastDraw_ = std::chrono::steady_clock::now();
  lastDone_ = done;
  const double elapsed = std::chrono::duration<double>(lastDraw_ - start_).count();
  std::fprintf(stderr, "\r\033[K%s", Line(done, elapsed).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void TProgressBar::Update(int64_t done) {
  if (!enabled_) return;
  if (drawn_ && std::chrono::steady_clock::now() - lastDraw_ < std::chrono::milliseconds(200)) return;
  Draw(done);
}

void TProgressBar::Message(const std::string& text) {
  if (enabled_ && drawn_) std::fprintf(stderr, "\r\033[K");
  std::fprintf(stderr, "%s\n", text.c_str());
  if (enabled_ && drawn_) Draw(lastDone_);
}

void TProgressBar::Finish() {
  if (!enabled_) return;
  Draw(total_);
  std::fprintf(stderr, "\n");
}

}  // namespace lum::lumshow
