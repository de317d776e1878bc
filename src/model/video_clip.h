#pragma once
// Video clips (TVideoClip2): the clip descriptions of the project's "Tracks"
// section that let one clip run on across several slides. Video objects
// linked to a clip take its keys instead of their own.
#include <mutex>
#include <string>

#include "document/ini_file.h"
#include "model/video_time.h"

namespace lum {

class TVideoClip2 {
 public:
  std::string guid, fileName, caption, masterId;
  bool loadFromDisk = false, mute = false;
  double duration = 0, startVideo = 0, startLum = 0, fps = 1;
  int32_t startSlideIdx = 0;
  // Start on the show timeline ("opt_synchpos" of StartSlideIdx, else 0).
  double timelineStart = 0;

  // The clip of "Tracks" whose "ClipGUID" (or object name) is guid; false
  // when there is none.
  bool Find(const TIniFile& project, const std::string& guid);
  void Read(const TIniObject& object, const TIniFile& project);
  // Writes every kept key back into its "Tracks" object (created if missing).
  void WriteBack(TIniFile& project) const;
  // After the file was (re)loaded: a duration outside 0 .. length becomes the
  // length, a start outside it 0. True when anything changed.
  bool ClampTo(double lengthMs);
  TVideoTiming Timing() const;
  bool HasSound() const;
};

// The "Tracks" object of a clip, or null.
TIniObject* FindClipObject(const TIniFile& project, const std::string& guid);

// Held while "Tracks" clips are read or written back: slides load on their
// own threads, and upkeep on one must not change keys another reads.
// Find and WriteBack take it themselves.
std::mutex& TracksLock();

}  // namespace lum
