#pragma once
// Finished frames read back into a small ring of buffers that live as long as
// the renderer and are reused frame after frame, never cleared: a read is
// started as soon as a frame is finished and its pixels are taken later, so
// the copy runs while the next frame is drawn. Taken pixels are lent, not
// copied: whoever holds them (an encoder on another thread, say) reads the
// ring's buffer itself, and the slot is read into again only once they are
// released. Back ends without read-back buffers are read through their
// surfaces into buffers kept here, the same way.
#include <deque>

#include "render/3d_engine.h"

namespace lum {

class T3DScreen;
class TBitmap;

// One frame's pixels lent from a read-back ring (BGRA8; alpha is whatever
// blending left). Releasing the last reference gives the slot back, on any
// thread; it must happen before the reader or its drawer closes.
class TFramePixels : public TRefObject {
 public:
  TFramePixels(T3DReadback* ring, int slot, const TFrameRows& rows)
      : ring_(ring), slot_(slot), rows_(rows) {}
  ~TFramePixels() override { ring_->Return(slot_); }
  const TFrameRows& Rows() const { return rows_; }
  int Width() const { return rows_.width; }
  int Height() const { return rows_.height; }

 private:
  T3DReadback* ring_;  // kept alive by its reader until every slot is back
  int slot_;
  TFrameRows rows_;
};

// The pixels as an opaque 32-bit BGRA bitmap (frames are opaque, whatever
// blending left in their alpha).
TRef<TBitmap> OpaqueBitmap(const TFrameRows& rows);

class TFrameReader {
 public:
  explicit TFrameReader(T3DScreen& screen, int slots = 3);
  // Waits until every lent frame is back.
  ~TFrameReader();
  TFrameReader(const TFrameReader&) = delete;
  TFrameReader& operator=(const TFrameReader&) = delete;

  // Starts reading the top-left width x height pixels of the screen's
  // current target (the frame just finished); waits while the slot it needs
  // is still lent. False when the device cannot read it.
  bool Start(int width, int height);
  // The oldest frame started and not yet taken, once its copy is done; null
  // when none is pending or the copy failed.
  TRef<TFramePixels> Take();
  // Frames started and not yet taken.
  size_t Pending() const { return pending_.size(); }
  // Forgets the pending frames and lets the ring go once its lent frames are
  // back (the renderer is closing).
  void Reset();

 private:
  // The ring for frames of this size, made on the current renderer.
  T3DReadback* Ring(int width, int height);

  T3DScreen& screen_;
  int slots_;
  TRef<T3DReadback> ring_;
  const T3DRenderer* madeOn_ = nullptr;
  std::deque<int> pending_;
  int next_ = 0;
};

}  // namespace lum
