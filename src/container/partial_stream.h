#pragma once
// A window [offset, offset + length) of a source stream. The window keeps no
// position of its own: its position is the source's minus the offset. With a
// hook it reads in pieces of at most 256 bytes and calls the hook after each,
// so that long loads can yield to playback.
#include <memory>

#include "foundation/stream.h"

namespace lum {

using TPieceHook = bool (*)();

class TPartialStream : public TStream {
 public:
  // Throws "Insufficient Source Size" when the window does not fit the source,
  // "Incorrect Position" for a negative offset or length. Positioned at 0.
  TPartialStream(TStream& source, int64_t offset, int64_t length);
  TPartialStream(std::unique_ptr<TStream> source, int64_t offset, int64_t length);

  // With a hook the piece size is the requested one capped at 256 bytes;
  // without one it is 32 768 bytes.
  void SetHook(TPieceHook hook, size_t requestedPieceSize);
  size_t PieceSize() const { return pieceSize_; }

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  // A position below 0 or beyond the length throws "Incorrect Position".
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Position() override { return owned_ ? pos_ : source_->Position() - offset_; }
  int64_t Size() override { return length_; }
  // Always throws "Stream Cannot be resized".
  void SetSize(int64_t size) override;
  // Copies through the piece buffer, calling the hook before and after each write.
  int64_t CopyFrom(TStream& source, int64_t count) override;

  TStream& Source() { return *source_; }

 private:
  void Init(int64_t offset, int64_t length);

  std::unique_ptr<TStream> owned_;
  TStream* source_;
  // With a source of its own nobody else moves it, so the window keeps the
  // position itself instead of asking the source for every piece.
  int64_t pos_ = 0;
  int64_t offset_ = 0;
  int64_t length_ = 0;
  TPieceHook hook_ = nullptr;
  size_t pieceSize_ = 32768;
  std::unique_ptr<char[]> pieceBuffer_;
};

}  // namespace lum
