#pragma once
// The timing rules of video objects: show time to video time, video time to
// frame index, the field shown for deinterlacing and chroma key coverage.
// Pure functions, shared by the object, the extractor and the tests.
#include <cstdint>
#include <string_view>

namespace lum {

// Where a video runs on its slide: the object's keys, or its clip's.
struct TVideoTiming {
  double startLum = 0;    // ms into the slide at which the video starts
  double fps = 1;         // playback speed factor
  double startVideo = 0;  // ms into the file where playing starts
  double duration = 0;    // ms of video to play
  // Clips only: their start on the show timeline, so that a clip begun on an
  // earlier slide continues where it is.
  bool isClip = false;
  double clipStart = 0;
};

// Video time (ms into the file) at slide-local time t. slideStart is the
// slide's start on the show timeline, slideOffset its own start offset.
// Before the start the first frame shows; past the end the last one stays.
double VideoTimeAt(const TVideoTiming& timing, double t, double slideStart, double slideOffset);

// Frame shown at video time ms for a rate num/den: round(t x rate / 1000), at
// least 0; past the last frame it wraps when looping, else stays on the last.
// frameCount <= 0 means unknown (no clamping).
int64_t FrameIndexAt(double ms, int32_t num, int32_t den, int64_t frameCount = 0,
                     bool loop = false);
// Start of frame n's display interval in ms ((n - 0.5) x 1000 / rate).
double FrameIntervalStart(int64_t n, int32_t num, int32_t den);

enum class TDeinterlace : int { Auto = 0, Wave, BobEven, BobOdd };
TDeinterlace DeinterlaceFromName(std::string_view name);

// The field drawn: 0 both (plain shaders), 1 the top (even) field, 2 the
// bottom (odd) field, chosen from where ms falls in its frame's interval.
int ChooseField(TDeinterlace type, bool interlaced, bool topFieldFirst, double ms, int32_t num,
                int32_t den);

// Coverage (0..1) the chroma key leaves a pixel with chroma (u, v), all in
// 0..1 as the shader sees them: full at a distance of delta or more.
double ChromaKeyCoverage(double u, double v, double keyU, double keyV, double delta);
// The key colour (r | g << 8 | b << 16) as the (U, V) the shader compares.
void ChromaKeyUV(uint32_t rgb, float& u, float& v);

}  // namespace lum
