// The audio clock against the sound device over a long run: how far the
// clock drifts from the device's play cursor, and the largest correction per
// 10 ms. Targets: drift within one video frame (17 ms), slew at most 1 ms per
// 10 ms; the figures are printed as ratios to those targets.
//
// Usage: bench_audio_clock [SECONDS]   (default 60; SDL_AUDIODRIVER defaults to dummy)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <thread>

#include "audio/output/music_player_class.h"
#include "foundation/clock.h"

int main(int argc, char** argv) {
  using namespace std::chrono_literals;
  double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  if (!(seconds > 0)) {
    std::fprintf(stderr, "usage: bench_audio_clock [SECONDS]\n");
    return 2;
  }
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  auto player = lum::CreateOutputPlayer();
  if (!player) {
    std::fprintf(stderr, "no sound device\n");
    return 1;
  }
  lum::TwinTimerChannel& timer = player->TimerChannel();
  timer.Start();
  while (!timer.Started()) std::this_thread::sleep_for(1ms);
  const int64_t begin = lum::MsSinceStart();
  // Corrections over sliding 100 ms windows, per poll (polls come at least
  // 10 ms apart; sampling at 10 ms would see two of them in one sample now and then).
  struct TSample {
    int64_t wall, base, polls;
  };
  std::deque<TSample> window;
  double maxSlew = 0, maxDrift = 0, lastDrift = 0;
  int64_t samples = 0;
  while (lum::MsSinceStart() - begin < int64_t(seconds * 1000)) {
    std::this_thread::sleep_for(10ms);
    int64_t wall = lum::MsSinceStart();
    int64_t base = timer.Base();
    int64_t polls = timer.Polls();
    window.push_back({wall, base, polls});
    while (window.size() > 1 && wall - window[1].wall >= 100) window.pop_front();
    if (wall - window.front().wall >= 100 && polls > window.front().polls) {
      double perPoll =
          double(std::llabs(base - window.front().base)) / double(polls - window.front().polls);
      maxSlew = std::max(maxSlew, perPoll);
    }
    // Drift: the clock against the cursor time of the same poll.
    double drift = std::fabs(timer.Drift());
    if (wall - begin > 1000) maxDrift = std::max(maxDrift, drift);
    lastDrift = drift;
    ++samples;
  }
  double total = double(lum::MsSinceStart() - begin);
  std::printf("audio clock over %.0f s (%s back end, %lld samples)\n", total / 1000,
              player->Device().BackendName(), (long long)samples);
  std::printf("  drift at end          %8.2f ms\n", lastDrift);
  std::printf("  largest drift         %8.2f ms   ratio to 17 ms target: %.3f\n", maxDrift,
              maxDrift / 17.0);
  std::printf(
      "  largest slew / 10 ms  %8.2f ms   ratio to 1 ms target:  %.3f  (per poll, over 100 ms)\n",
      maxSlew, maxSlew);
  std::printf("  largest step per poll %8lld ms   (polls at least 10 ms apart)\n",
              (long long)timer.LargestStep());
  std::printf("  clock minus counter   %8.2f ms   (card against the system clock)\n",
              timer.Clock() - total);
  timer.Stop();
  player->FreeTimerChannel();
  return 0;
}
