// Sound speed, each figure beside its reference in the same run:
// - MPEG decoding of a 10-minute file through our decoder vs `mpg123 -s` of
//   the same file (a child process; CPU time of each, best of three);
// - mixing a composition of 8 overlapping items with envelopes: CPU time per
//   second of audio, as a share of one core.
// Sources are made at start with sox and lame in a temporary folder.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "audio/composite_converter.h"
#include "audio/composite_params.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/stream_opener.h"

extern char** environ;

using namespace lum;

namespace {

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double ChildrenCpu() {
  rusage ru;
  getrusage(RUSAGE_CHILDREN, &ru);
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec * 1e-6 + ru.ru_stime.tv_sec +
         ru.ru_stime.tv_usec * 1e-6;
}

// Runs a tool found on PATH with stdout to /dev/null; false when it fails.
bool Run(std::vector<std::string> argv, bool quiet = true) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (quiet) {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Best(const std::function<double()>& f, int reps) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) best = std::min(best, f());
  return best;
}

// Decodes a whole file through the factory; returns the bytes of PCM.
size_t DecodeAll(const std::string& path) {
  std::unique_ptr<TStream> s = OpenSoundStream(path);
  TMediaInfo info;
  size_t total = 0;
  if (s && DetectMediaInfo(s.get(), path, info)) {
    auto dec = CreateWavConverter(s.get(), path, info);
    if (dec && dec->Open(info)) {
      for (;;) {
        bool more = dec->Fill(65536);
        total += dec->Output().Size() - dec->Padded();
        dec->Output().Clear();
        if (!more) break;
      }
    }
  }
  CloseSoundStream(std::move(s));
  return total;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/lumbench_audio.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  std::string wav = dir + "/long.wav", mp3 = dir + "/long.mp3";
  std::printf("making a 10-minute MP3 with sox and lame...\n");
  if (!Run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "600", "pinknoise",
            "sine", "440", "vol", "0.4"}) ||
      !Run({"lame", "--quiet", "-b", "192", wav, mp3})) {
    std::fprintf(stderr, "bench_audio: sox or lame failed\n");
    return 1;
  }
  std::remove(wav.c_str());

  size_t bytes = 0;
  double ours = Best(
      [&] {
        double t0 = CpuNow();
        bytes = DecodeAll(mp3);
        return CpuNow() - t0;
      },
      3);
  double ref = Best(
      [&] {
        double t0 = ChildrenCpu();
        Run({"mpg123", "-q", "-s", mp3});
        return ChildrenCpu() - t0;
      },
      3);
  double audioSec = double(bytes) / kMixBytesPerSec;
  std::printf("MPEG decode of %.0f s: ours %.3f s CPU, mpg123 -s %.3f s CPU\n", audioSec, ours,
              ref);
  std::printf("  our speed relative to mpg123: %.2f (target >= 0.50)\n", ref / ours);

  // Eight sources of 40 s, overlapping in a 60 s composition, each with a
  // fade envelope and a free envelope, under a main envelope.
  TCompositeParams c;
  c.duration = 60000;
  for (int i = 0; i < 8; ++i) {
    std::string src = dir + "/src" + std::to_string(i) + ".wav";
    Run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", src, "synth", "40", "sine",
         std::to_string(200 + 50 * i), "vol", "0.2"});
    TCompositeItemParams it;
    it.fileName = src;
    it.timeLine = i * 2500;
    it.duration = 40000;
    it.envelopes = {{{0, 0}, {2000, 1000}, {38000, 1000}, {40000, 0}},
                    {{0, 800}, {10000, 1200}, {20000, 500}, {30000, 900}}};
    c.items.push_back(it);
  }
  c.mainVolume.push_back({0, 60000, {{{0, 900}, {30000, 1000}, {60000, 700}}}});
  RegisterCompositeDecoder();
  std::string text = c.ToText();
  size_t mixed = 0;
  double mixCpu = Best(
      [&] {
        double t0 = CpuNow();
        TCompositeConverter conv(text);
        conv.Open(TMediaInfo());
        mixed = 0;
        for (;;) {
          bool more = conv.Fill(17640);
          mixed += conv.Output().Size() - conv.Padded();
          conv.Output().Clear();
          if (!more) break;
        }
        return CpuNow() - t0;
      },
      3);
  double mixSec = double(mixed) / kMixBytesPerSec;
  std::printf("mixing 8 overlapping items with envelopes: %.3f s CPU for %.0f s of audio\n", mixCpu,
              mixSec);
  std::printf("  share of one core: %.3f %% (target < 1 %%)\n", mixCpu / mixSec * 100);

  Run({"rm", "-rf", dir});
  return 0;
}
