// Video decoding through the plugin into planar YUV (what the drawer
// uploads) against `ffmpeg -threads 2 -i clip -f null -` on the same 1080p
// H.264 clip, made at start with ffmpeg in a temporary folder. Wall-clock
// throughput of each, best of three, and the CPU time beside it.
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "video/ffmpeg_dll.h"

using namespace lum;
using namespace lum::bench;

namespace {

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double ChildrenCpu() {
  rusage ru;
  getrusage(RUSAGE_CHILDREN, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

int32_t FileRead(void* user, uint8_t* buffer, int32_t size) {
  size_t n = std::fread(buffer, 1, size_t(size), static_cast<FILE*>(user));
  return n == 0 && std::ferror(static_cast<FILE*>(user)) ? -1 : int32_t(n);
}

int64_t FileSeek(void* user, int64_t offset, int32_t whence) {
  FILE* f = static_cast<FILE*>(user);
  if (whence == 0x10000) {
    long at = std::ftell(f);
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, at, SEEK_SET);
    return size;
  }
  return std::fseek(f, long(offset), whence) == 0 ? std::ftell(f) : -1;
}

struct TRun {
  double wallMs = 1e30, cpu = 0;
  int frames = 0;
};

// Every frame of the clip converted into a planar YUV buffer.
int DecodeToYuv(TFFMpegDll& lib, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  LumVideoReader reader{f, FileRead, FileSeek};
  LumVideoMediaInfo info{};
  LumMedia media = lib.OpenMediaFile(("qwe" + path).c_str(), &reader, &info);
  int frames = 0;
  if (media) {
    LumFrame frame = lib.AllocBuffer(media);
    std::vector<uint8_t> yuv(size_t(lib.ConvertFrame(media, frame, LUM_VIDEO_YUV420P, nullptr, 0)));
    while (lib.GetNextVideoFrame(media, frame) == 0 &&
           lib.ConvertFrame(media, frame, LUM_VIDEO_YUV420P, yuv.data(), 0) > 0)
      ++frames;
    lib.FreeBuffer(frame);
    lib.CloseMediaFile(media);
  }
  std::fclose(f);
  return frames;
}

bool Sh(const std::string& command) {
  int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
  if (!std::getenv("LUM_VIDEO_PLUGIN")) TFFMpegDll::SetPluginPath(LUM_VIDEO_PLUGIN_PATH);
  TRef<TFFMpegDll> lib = TFFMpegDll::Acquire();
  if (!lib) {
    std::fprintf(stderr, "bench_video_decode: liblumvideo.so not found (set LUM_VIDEO_PLUGIN)\n");
    return 1;
  }
  char tmpl[] = "/tmp/lumbench_video.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl, clip = dir + "/clip1080.mp4";
  std::printf("making a 10 s 1080p30 H.264 clip with ffmpeg...\n");
  if (!Sh("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=s=1920x1080:r=30:d=10 "
          "-c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p " +
          clip)) {
    std::fprintf(stderr, "bench_video_decode: ffmpeg could not make the clip\n");
    return 1;
  }
  TRun ours, ref;
  for (int i = 0; i < 3; ++i) {
    double c0 = CpuNow();
    Clock::time_point t0 = Clock::now();
    ours.frames = DecodeToYuv(*lib, clip);
    double ms = MsSince(t0);
    if (ms < ours.wallMs) ours = {ms, CpuNow() - c0, ours.frames};
    c0 = ChildrenCpu();
    t0 = Clock::now();
    Sh("ffmpeg -nostdin -loglevel error -threads 2 -i " + clip + " -f null -");
    ms = MsSince(t0);
    if (ms < ref.wallMs) ref = {ms, ChildrenCpu() - c0, 300};
  }
  std::printf("1080p H.264, %d frames:\n", ours.frames);
  std::printf("  plugin into planar YUV: %.0f ms wall (%.1f fps), %.2f s CPU\n", ours.wallMs,
              ours.frames * 1000.0 / ours.wallMs, ours.cpu);
  std::printf("  ffmpeg -threads 2 -f null: %.0f ms wall (%.1f fps), %.2f s CPU\n", ref.wallMs,
              ref.frames * 1000.0 / ref.wallMs, ref.cpu);
  std::printf("  throughput relative to ffmpeg: %.2f (target >= 0.85)\n",
              (ours.frames / ours.wallMs) / (ref.frames / ref.wallMs));
  Sh("rm -rf " + dir);
  return ours.frames == 300 ? 0 : 1;
}
