#include "model/video_clip.h"

#include <cmath>

#include "foundation/case_fold.h"

namespace lum {

namespace {

double FiniteOr(double v, double def) {
  return std::isfinite(v) ? v : def;
}

}  // namespace

std::mutex& TracksLock() {
  static std::mutex lock;
  return lock;
}

TIniObject* FindClipObject(const TIniFile& project, const std::string& guid) {
  const TIniList* tracks = project.Section("Tracks");
  if (!tracks || guid.empty()) return nullptr;
  for (TIniObject* c : tracks->Objects())
    if (FoldedEquals(ReadString(c, "ClipGUID", ""), guid) || FoldedEquals(c->Name(), guid))
      return c;
  return nullptr;
}

bool TVideoClip2::Find(const TIniFile& project, const std::string& id) {
  std::lock_guard<std::mutex> l(TracksLock());
  const TIniObject* c = FindClipObject(project, id);
  if (!c) return false;
  Read(*c, project);
  if (guid.empty()) guid = id;
  return true;
}

void TVideoClip2::Read(const TIniObject& c, const TIniFile& project) {
  guid = ReadString(&c, "ClipGUID", std::string(c.Name()));
  fileName = ReadString(&c, "FileName", "");
  caption = ReadString(&c, "ClipCaption", "");
  masterId = ReadString(&c, "MasterID", "");
  loadFromDisk = ReadInteger(&c, "LoadFromDisk", 0) == 1;
  mute = ReadInteger(&c, "Mute", 0) == 1;
  duration = FiniteOr(ReadFloat(&c, "Duration", 0), 0);
  startVideo = FiniteOr(ReadFloat(&c, "StartVideoTime", 0), 0);
  startLum = FiniteOr(ReadFloat(&c, "StartLUMTime", 0), 0);
  fps = FiniteOr(ReadFloat(&c, "FPSMultiplier", 1), 1);
  startSlideIdx = ReadInteger(&c, "StartSlideIdx", 0);
  timelineStart = 0;
  if (startSlideIdx > 0)
    timelineStart = FiniteOr(
        ReadFloat(project.Section("Times"), "opt_synchpos" + std::to_string(startSlideIdx), 0), 0);
}

void TVideoClip2::WriteBack(TIniFile& project) const {
  std::lock_guard<std::mutex> l(TracksLock());
  TIniObject* c = FindClipObject(project, guid);
  if (!c) c = project.FindOrAddSection("Tracks")->AddObject(guid, "TVideoClip2");
  auto put = [&](std::string_view key, const std::string& value) {
    c->FindOrAddItem(key)->SetValue(value);
  };
  put("FileName", fileName);
  put("Duration", FloatToValue(duration));
  put("StartVideoTime", FloatToValue(startVideo));
  put("StartLUMTime", FloatToValue(startLum));
  put("FPSMultiplier", FloatToValue(fps));
  put("LoadFromDisk", IntToValue(loadFromDisk ? 1 : 0));
  put("ClipCaption", caption);
  put("Mute", IntToValue(mute ? 1 : 0));
  put("ClipGUID", guid);
}

bool TVideoClip2::ClampTo(double lengthMs) {
  const double d = duration, s = startVideo;
  if (!(duration >= 0 && duration <= lengthMs)) duration = lengthMs;
  if (!(startVideo >= 0 && startVideo <= lengthMs)) startVideo = 0;
  return d != duration || s != startVideo;
}

TVideoTiming TVideoClip2::Timing() const {
  TVideoTiming t;
  t.startLum = startLum;
  t.fps = fps;
  t.startVideo = startVideo;
  t.duration = duration;
  t.isClip = true;
  t.clipStart = timelineStart;
  return t;
}

bool TVideoClip2::HasSound() const {
  const bool gif =
      fileName.size() >= 4 && FoldedEquals(fileName.substr(fileName.size() - 4), ".gif");
  return !mute && fps == 1 && !gif;
}

}  // namespace lum
