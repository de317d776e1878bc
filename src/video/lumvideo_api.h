#pragma once
// C interface of the video library plugin (liblumvideo.so). The plugin
// exports every function of LUM_VIDEO_FUNCTIONS under its name; a library
// lacking one counts as absent. Sources are read through a reader the caller
// passes to OpenMediaFile (the library never opens files itself).
#include <cstdint>

extern "C" {

struct LumVideoReader {
  void* user;
  // Reads up to size bytes; returns the count, 0 at the end, -1 on error.
  int32_t (*read)(void* user, uint8_t* buffer, int32_t size);
  // whence 0/1/2 as SEEK_SET/CUR/END, 0x10000 asks for the size; -1 on error.
  int64_t (*seek)(void* user, int64_t offset, int32_t whence);
};

struct LumVideoMediaInfo {
  int64_t durationUs;       // longest stream
  int64_t audioDurationUs;  // -1 without audio
  int64_t videoDurationUs;  // -1 without video
  int32_t width, height;
  int32_t frameRateNum, frameRateDen;
  int32_t timeBaseNum, timeBaseDen;
};

struct LumVideoAudioInfo {
  int32_t sampleRate;
  int32_t channels;
  int64_t durationUs;
};

typedef void* LumMedia;
typedef void* LumFrame;

// ConvertFrame formats. Planar YUV is 4:2:0 in video range: the Y plane
// (height rows of pitch bytes), then U and V ((height + 1) / 2 rows of
// pitch / 2 bytes each). ConvertFrame returns the bytes written (the bytes
// needed when out is null), -1 on failure.
enum { LUM_VIDEO_RGB24 = 1, LUM_VIDEO_RGBA = 2, LUM_VIDEO_YUV420P = 3 };

// GetFrameInfo flags (-1 without a decoded frame).
enum { LUM_FRAME_INTERLACED = 1, LUM_FRAME_TOP_FIELD_FIRST = 2, LUM_FRAME_KEY = 4 };

// SeekFile flags. Time is in microseconds from the file's start for stream
// -1, else in that stream's time base; with LUM_SEEK_FRAME it is a frame
// number. Decoding resumes at the first frame of the time unless
// LUM_SEEK_ANY asks for the key frame reached.
enum { LUM_SEEK_BACKWARD = 1, LUM_SEEK_ANY = 4, LUM_SEEK_FRAME = 8 };

// OpenMediaFile2 flags.
enum { LUM_OPEN_NO_AUDIO = 1, LUM_OPEN_NO_VIDEO = 2 };

// GetDtsPts gives a frame's time stamps in the video stream's time base;
// GetDtsPts2 and GetCurrentPts (the last frame decoded) give microseconds
// from the stream's start. All return -1 when there is none.

// GetNextVideoFrame gives 0 with a frame, LUM_VIDEO_END past the last one
// and -1 on failure; the buffer then holds no frame.
enum { LUM_VIDEO_END = -2 };
}

// X(name, return type, parameter list). Functions this system does not call
// keep a generic signature; they are resolved only to check the library.
#define LUM_VIDEO_FUNCTIONS(X)                                                                \
  X(OpenMediaFile, LumMedia,                                                                  \
    (const char* name, const LumVideoReader* reader, LumVideoMediaInfo* info))                \
  X(OpenMediaFile2, LumMedia,                                                                 \
    (const char* name, const LumVideoReader* reader, LumVideoMediaInfo* info, int32_t flags)) \
  X(CloseMediaFile, void, (LumMedia media))                                                   \
  X(AllocBuffer, LumFrame, (LumMedia media))                                                  \
  X(AllocBufferWithData, LumFrame, (LumMedia media, void* data, int32_t size))                \
  X(FreeBuffer, void, (LumFrame frame))                                                       \
  X(ConvertFrame, int32_t,                                                                    \
    (LumMedia media, LumFrame frame, int32_t format, void* out, int32_t pitch))               \
  X(GetNextVideoFrame, int32_t, (LumMedia media, LumFrame frame))                             \
  X(SeekFile, int32_t, (LumMedia media, int32_t stream, int64_t time, int32_t flags))         \
  X(GetFormatName, int32_t, (LumMedia media, char* buffer, int32_t size))                     \
  X(Flush, void, (LumMedia media))                                                            \
  X(FlushVideo, void, (LumMedia media))                                                       \
  X(GetFrameInfo, int32_t, (LumFrame frame))                                                  \
  X(GetDtsPts, int32_t, (LumFrame frame, int64_t * dts, int64_t * pts))                       \
  X(GetDtsPts2, int32_t, (LumFrame frame, int64_t * dts, int64_t * pts))                      \
  X(GetAudioInfo, int32_t, (LumMedia media, LumVideoAudioInfo * info))                        \
  /* 16-bit PCM, 44100 Hz, 2 channels */                                                      \
  X(OpenAudioStream, int32_t, (LumMedia media))                                               \
  X(CloseAudioStream, void, (LumMedia media))                                                 \
  /* Writes up to size bytes of PCM; returns the count, 0 at the end, -1 on error. */         \
  X(GetNextAudioFrame, int32_t, (LumMedia media, uint8_t * buffer, int32_t size))             \
  X(AfterAudioSeek, void, (LumMedia media))                                                   \
  X(GetCurrentPts, int64_t, (LumMedia media))                                                 \
  X(CreateVideoFile, void*, (void))                                                           \
  X(CreateAudioFile, void*, (void))                                                           \
  X(CreateVideoAudioFile, void*, (void))
