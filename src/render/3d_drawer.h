#pragma once
// The slide drawer: draws one frame from the item the engine hands it, with
// whole-frame and per-item post-processing (sharpen, soften), letterbox
// borders, and the drawing operations that slide objects and transition
// effects use. Owns the window's screen, two render-target pools (full and
// half size), the shared textures and the built-in shaders.
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/3d_screen.h"
#include "render/drawer_shaders.h"
#include "render/frame_reader.h"

namespace lum {

class T3DDrawer;
class TBitmap;
class TBitmapStore;
class TBitmapTexture;
class TImage;

// Something the drawer draws: the root item of a frame, or any item nested in it.
class TDrawerItem {
 public:
  virtual ~TDrawerItem() = default;
  virtual void DrawOn(T3DDrawer& drawer) = 0;
  // The outermost draw of a frame ended (presented, or kept for capture).
  virtual void ItemDrawn() {}
};

// A drawer item that runs a function: frames drawn by hand (tools, tests).
class TFnItem : public TDrawerItem {
 public:
  explicit TFnItem(std::function<void(T3DDrawer&)> f) : f_(std::move(f)) {}
  void DrawOn(T3DDrawer& d) override { f_(d); }

 private:
  std::function<void(T3DDrawer&)> f_;
};

// A point of the slide world: frame pixels, z away from the viewer.
struct TPoint3 {
  double x = 0, y = 0, z = 0;
};
using TQuad3 = std::array<TPoint3, 4>;  // left-top, right-top, right-bottom, left-bottom

// A rectangle of texture pixels.
struct TTexRect {
  double left = 0, top = 0, right = 0, bottom = 0;
};

// A texture shared by name (effects share their resources this way).
struct TTextureWrapper {
  std::string name;
  TRef<TCustomTexture> texture;
};
class TTextureStore2 {
 public:
  TCustomTexture* Find(const std::string& name) const;
  void Add(const std::string& name, TRef<TCustomTexture> texture);
  void Clear() { items_.clear(); }

 private:
  std::vector<TTextureWrapper> items_;
};

// The amounts and radii of the post-processing, worked out from blur values.
struct TBlurPlan {
  double radius = 0;       // G
  int doublingPasses = 0;  // n
  double lastStrength = 0;
  int lastStep = 1;  // step of the final pass
};
TBlurPlan PlanBlur(double radius);
// The seven weights (w3, w2, w1, w0) of a blur pass of strength h.
std::array<float, 4> BlurWeights(double strength);
// Softening radius G of an item's blur value b (> 0) at scale s.
double BlurRadius(double blur, double scale);
// Unsharp amount of an item's sharpening (blur value b < 0) at scale s.
double ItemUnsharpAmount(double blur, double scale);
// Unsharp amount of the whole-frame sharpening u (percent).
double FrameUnsharpAmount(double u);

class T3DDrawer {
 public:
  explicit T3DDrawer(TRef<T3DEngine> engine);
  ~T3DDrawer();
  T3DDrawer(const T3DDrawer&) = delete;
  T3DDrawer& operator=(const T3DDrawer&) = delete;

  // Attaches the screen to the device and creates the shaders.
  void Attach(TDrawDevice* device);
  // Logs "T3DDrawer.Close" and releases the renderer.
  void Close();
  T3DScreen& Screen() { return *screen_; }
  bool DeviceReady() const;
  int QualityLevel() const;

  // Draws one frame (outermost call) or a nested item; false when the
  // device was not ready, ending the frame failed or the item threw. An
  // item that throws is logged and cut short: the render targets, layer and
  // shader it left behind are undone and the frame goes on (the outermost
  // call still ends and presents it), so one broken object cannot stop
  // playback.
  bool DrawItem(TDrawerItem& item);
  // Only while capturing: the frame is kept instead of presented.
  void SetCapture(bool on) { capture_ = on; }
  bool Capturing() const { return capture_; }
  // The finished frame (while capturing) as an opaque 32-bit BGRA bitmap,
  // read through Frames() (which must have no frame pending).
  TRef<TBitmap> ReadFrame();
  // Finished frames (while capturing) read back into the drawer's ring of
  // read-back buffers, without a copy of their own (export streams them).
  TFrameReader& Frames() { return *frames_; }

  // The slide rectangle inside the frame (the device's client area).
  void SetViewportRect(const TRect& r) { viewport_ = r; }
  const TRect& ViewportRect() const { return viewport_; }
  TRect FrameRect() const;
  void SetBackgroundColor(TColor c) { background_ = c; }
  TColor BackgroundColor() const { return background_; }
  // Reference width / viewport width: blur and sharpen amounts scale with it.
  void SetScaleFactor(double s) { scale_ = s > 0 ? s : 1; }
  double ScaleFactor() const { return scale_; }

  bool Clear(TColor color);
  bool ClearRect(const TRect& r, TColor color);
  // The four bars around the viewport in the background colour.
  void DrawBorders();

  // World points are seen from this camera (frame pixels, z < 0).
  void SetCamera(double x, double y, double z);
  // A vertex of the world, or a flat one at target pixels.
  TVertex WorldVertex(const TPoint3& p, TColor color, float u = 0, float v = 0) const;
  TVertex PixelVertex(double x, double y, TColor color, float u = 0, float v = 0) const;

  // Drawing operations. Colours are 0xAARRGGBB; source rectangles are in
  // texture pixels.
  // Antialiased quads get a one-pixel band fading out around their edges.
  void FillQuad(const TQuad3& q, const std::array<TColor, 4>& colors, bool antialiased = false);
  // A premultiplied texture is tinted (r | g << 8 | b << 16).
  void DrawTexture(const TQuad3& q, TCustomTexture& texture, const TTexRect& source, double opacity,
                   bool antialiased = false, uint32_t tint = 0xFFFFFF);
  void FillRect(const TRect& r, TColor color);
  // A texture over target pixels r with an opacity (fixed pipeline).
  void DrawPixels(TCustomTexture& texture, const TRect& r, const TTexRect& source, double opacity);
  // A texture drawn over target pixels r through a shader with constants.
  // Each texture has its source rectangle (the last one repeats).
  void DrawShaderRect(int shader, const std::vector<TCustomTexture*>& textures, const TRect& r,
                      const std::vector<TTexRect>& sources, const std::vector<float>& constants,
                      TColor color = 0xFFFFFFFF);
  // The same over the world quad q, with volume textures (colour look-ups)
  // bound at the stages from firstVolumeStage on; antialiased as FillQuad
  // (the shader must multiply its alpha by the vertex alpha). False when
  // nothing could be drawn.
  bool DrawShaderQuad(int shader, const std::vector<TCustomTexture*>& textures, const TQuad3& q,
                      const std::vector<TTexRect>& sources, const std::vector<float>& constants,
                      TColor color, const std::vector<TVolumeTexture*>& volumes = {},
                      int firstVolumeStage = 1, bool antialiased = false);

  // Post-processing layer (quality level 2 only): false when none opened.
  bool BeginPostLayer();
  // Draws the layer through "unsharp" with this amount and closes it.
  void EndPostLayer(double amount);
  bool PostLayerOpen() const { return static_cast<bool>(layer_); }
  // Draws an item with its blur value b: sharpened (b < 0), softened (b > 0).
  void DrawBlurred(double blur, const std::function<void()>& draw);

  // The texture of a bitmap (a picture level), kept while it is used.
  TCustomTexture* TextureFor(const TRefObject* owner, const TBitmap& bitmap, bool mipMaps);
  // The mipmapped texture of a picture's level (the nearest the store makes);
  // pictures without alpha leave memory once on the device when their store
  // can decode them again. Null when the store makes no 32-bit level.
  TBitmapTexture* PictureTextureFor(const TRefObject* owner, const TImage& picture, int level);
  // Forgets the textures of an owner and what is cached under its address
  // (the object releases its resources).
  void ReleaseTextures(const TRefObject* owner);
  // Fills the textures made ahead of their first draw (PrepareSlideTextures)
  // in bands until about `ms` have passed: a slide's pictures reach the
  // device over the frames before it shows instead of stalling its first
  // frame. True when none is left to fill.
  bool UploadAhead(double ms);
  TTextureStore2& Store() { return store_; }
  // Device objects made for a key (look-up textures of a picture), kept while
  // they are used like the picture textures; null when none is kept.
  TRefObject* Cached(const void* key);
  void SetCached(const void* key, TRef<TRefObject> object);
  TShader* Shader(int id);

  TRenderTargetManager& FullTargets() { return *full_; }
  TRenderTargetManager& HalfTargets() { return *half_; }

  // Serialises the outermost draws of the process.
  static std::recursive_mutex& DrawingLock();

 private:
  void SizePools();
  void BlurPass(TRenderTargetTexture& from, bool vertical, double strength, int step,
                const TRect& area);
  void EvictTextures();
  // Forgets every texture, cached object and target the drawer holds.
  void DropTextures();
  bool SetConstants(const std::vector<float>& constants);
  bool DrawItemGuarded(TDrawerItem& item);
  void AddQuad(const std::array<TVertex, 4>& q, bool antialiased, bool premultiplied);

  std::mutex lock_;  // attach and close
  std::unique_ptr<T3DScreen> screen_;
  std::unique_ptr<TFrameReader> frames_;  // before the screen goes: its ring is the renderer's
  std::unique_ptr<TRenderTargetManager> full_, half_;
  std::vector<TRef<TShader>> shaders_;
  TTextureStore2 store_;
  TRect viewport_;
  TColor background_ = 0xFF000000;
  double scale_ = 1;
  bool capture_ = false;
  int depth_ = 0;
  bool blurring_ = false;
  TRef<TRenderTargetTexture> layer_;
  double camX_ = 0, camY_ = 0, camZ_ = -1;
  struct TImageTexture {
    const TRefObject* owner;
    const TBitmap* bitmap;  // kept alive by the texture; null for a picture's level
    TRef<TCustomTexture> texture;
    uint64_t lastFrame;
    const TBitmapStore* store = nullptr;  // a picture's, kept alive by the texture
    int level = 0;                        // asked for
  };
  std::vector<TImageTexture> textures_;
  struct TCachedObject {
    const void* key;
    TRef<TRefObject> object;
    uint64_t lastFrame;
  };
  std::vector<TCachedObject> cached_;
  uint64_t frame_ = 0;
};

}  // namespace lum
