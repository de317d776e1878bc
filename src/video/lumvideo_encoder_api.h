#pragma once
// C interface of the video library's encoder: a show written as a video
// file. A library without these functions still decodes; only export needs
// them. An encoder is used by one thread at a time.
#include <cstdint>

extern "C" {

struct LumEncoderSettings {
  // "mp4" (H.264 + AAC) or "webm" (VP9 + Opus); the file's name does not decide.
  const char* container;
  int32_t width, height;  // even, at most 8192
  int32_t fps;            // frame numbers count in 1/fps seconds
  int32_t crf;            // quality: 0..51 for H.264, 0..63 for VP9
  const char* preset;     // speed: "ultrafast" … "veryslow" (mapped for VP9)
  int32_t sampleRate;     // of the PCM given; 0: no sound track
  int32_t channels;       // 1 or 2
};

typedef void* LumEncoder;
}

// X(name, return type, parameter list).
#define LUM_VIDEO_ENCODER_FUNCTIONS(X)                                                   \
  /* Creates the file and opens the encoders; null on failure with the reason in */      \
  /* error (a string ending within errorSize bytes). */                                  \
  X(CreateEncoder, LumEncoder,                                                           \
    (const char* path, const LumEncoderSettings* settings, char* error, int32_t errorSize)) \
  /* A 32-bit BGRA picture shown from frame number frame until the next one, row y */   \
  /* at bgra + y * pitch (negative: rows stored bottom up); null bgra repeats the */      \
  /* last picture. Frame numbers must grow. 0 or -1 on failure. */                        \
  X(EncodeVideoFrame, int32_t,                                                           \
    (LumEncoder encoder, const uint8_t* bgra, int32_t pitch, int64_t frame))              \
  /* 16-bit interleaved PCM at the settings' rate, after what came before. */            \
  X(EncodeAudio, int32_t, (LumEncoder encoder, const int16_t* pcm, int32_t frames))      \
  /* Drains the encoders and completes the file; 0 on success, -1 on failure. */         \
  X(FinishEncoder, int32_t, (LumEncoder encoder))                                        \
  /* The reason of the last failure (empty when none); returns its length. */            \
  X(GetEncoderError, int32_t, (LumEncoder encoder, char* buffer, int32_t size))          \
  /* Closes the file (unfinished when FinishEncoder was not called) and frees all. */    \
  X(FreeEncoder, void, (LumEncoder encoder))
