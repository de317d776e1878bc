#include "audio/decoders/ffmpeg_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <mutex>

namespace lum {

namespace {

// Names the library opens through the reader carry this prefix.
std::string LibraryName(std::string_view name) {
  return "qwe" + std::string(name);
}

}  // namespace

bool DetectWithVideoLibrary(TStream& stream, std::string_view name, TMediaInfo& info) {
  TRef<TFFMpegDll> lib = TFFMpegDll::Acquire();
  if (!lib) return false;
  stream.Seek(0, TSeekOrigin::Begin);
  LumVideoReader reader = StreamReader(stream);
  LumVideoMediaInfo mi{};
  LumMedia media;
  {
    std::lock_guard guard(lib->OpenLock());
    media = lib->OpenMediaFile(LibraryName(name).c_str(), &reader, &mi);
  }
  if (!media) return false;
  LumVideoAudioInfo ai{};
  bool hasAudio = lib->GetAudioInfo(media, &ai) == 0 && ai.channels > 0;
  lib->CloseMediaFile(media);
  if (!hasAudio) return false;
  info = TMediaInfo();
  info.type = kMediaVideoLib;
  int64_t us = mi.durationUs > 0 ? mi.durationUs : ai.durationUs;
  info.durationMs = uint32_t(std::clamp<int64_t>(us / 1000, 0, UINT32_MAX));
  info.format = MixFormat();
  int64_t size = stream.Size();
  info.dataSize = uint32_t(std::clamp<int64_t>(size, 0, UINT32_MAX));
  return true;
}

TFFMpegConverter::TFFMpegConverter(TStream* stream, std::string_view name, TRef<TFFMpegDll> library)
    : TWavConverter(stream), name_(name), lib_(std::move(library)) {}

TFFMpegConverter::~TFFMpegConverter() {
  Close();
}

void TFFMpegConverter::Close() {
  if (!media_) return;
  if (audioOpen_) lib_->CloseAudioStream(media_);
  lib_->CloseMediaFile(media_);
  media_ = nullptr;
  audioOpen_ = false;
}

bool TFFMpegConverter::Open(const TMediaInfo& info) {
  Close();
  if (!stream_ || !lib_) return false;
  info_ = info;
  stream_->Seek(0, TSeekOrigin::Begin);
  reader_ = StreamReader(*stream_);
  LumVideoMediaInfo mi{};
  {
    std::lock_guard guard(lib_->OpenLock());
    media_ = lib_->OpenMediaFile(LibraryName(name_).c_str(), &reader_, &mi);
  }
  if (!media_) return false;
  audioOpen_ = lib_->OpenAudioStream(media_) == 0;
  if (!audioOpen_) return false;
  decoded_ = MixFormat();
  chunkSize_ = 4096;
  input_ = TLocalBuffer(chunkSize_);
  input_.format = decoded_;
  SetOutputFormat(decoded_);
  Seek(0);
  return true;
}

bool TFFMpegConverter::ReadRaw() {
  if (!audioOpen_ || ended_) return false;
  size_t room = input_.Free();
  room -= room % decoded_.blockAlign;
  if (room == 0) return true;
  int32_t n = lib_->GetNextAudioFrame(media_, input_.FreeSpace(), int32_t(room));
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  input_.Commit(std::min(size_t(n), room));
  return true;
}

bool TFFMpegConverter::Convert(TLocalBuffer& input) {
  DeliverPcm(input);
  return true;
}

void TFFMpegConverter::Seek(double ms) {
  if (ms < 0) ms = 0;
  ResetBuffers();
  ended_ = false;
  if (audioOpen_) {
    if (lib_->SeekFile(media_, -1, int64_t(std::llround(ms * 1000)), 0) < 0) ended_ = true;
    lib_->AfterAudioSeek(media_);
  }
  position_ = ms;
}

}  // namespace lum
