#pragma once
// A one-line progress bar on a terminal: frames done, time spent and left,
// and speed as a multiple of real time. Silent when stderr is not a terminal.
#include <chrono>
#include <cstdint>
#include <string>

namespace lum::lumshow {

class TProgressBar {
 public:
  // total frames covering mediaMs of the show; enabled false keeps it quiet.
  TProgressBar(int64_t total, double mediaMs, bool enabled);
  // Whether stderr is a terminal (where a bar belongs).
  static bool OnTerminal();
  // Redraws at most a few times a second.
  void Update(int64_t done);
  // A line of text above the bar.
  void Message(const std::string& text);
  // The bar at its end, then a new line.
  void Finish();
  // The bar's text for done frames after elapsed seconds (no terminal codes).
  std::string Line(int64_t done, double elapsed) const;

 private:
  void Draw(int64_t done);
  int64_t total_;
  double mediaMs_;
  bool enabled_;
  std::chrono::steady_clock::time_point start_, lastDraw_;
  int64_t lastDone_ = 0;
  bool drawn_ = false;
};

}  // namespace lum::lumshow
