#pragma once
// Frames read back through pixel buffer objects: glReadPixels into a buffer
// returns at once, a fence marks when the copy is done, and mapping the
// buffer lends its pixels without another copy.
#include <vector>

#include "render/gl/gl_renderer.h"

namespace lum {

class T3DReadbackGL : public T3DReadback, public TGLResource {
 public:
  // The renderer's context is current; Create makes the buffers.
  T3DReadbackGL(T3DRendererGL* r, int width, int height, int slots);
  ~T3DReadbackGL() override;
  bool Create();

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int Slots() const override { return int(slots_.size()); }
  bool Start(int slot, T3DSurface& source) override;
  bool Map(int slot, TFrameRows& rows) override;
  T3DBackendObject* Object() override { return this; }
  // Waits until every lent slot is back, then unmaps and deletes.
  void DeleteGL() override;

 private:
  struct TSlot {
    GLuint buffer = 0;
    GLsync fence = nullptr;
    bool mapped = false;
    bool bottomUp = false;  // read from the window's own surface
  };
  size_t Bytes() const { return size_t(width_) * size_t(height_) * 4; }
  void Unmap(TSlot& s);

  int width_, height_;
  std::vector<TSlot> slots_;
};

}  // namespace lum
