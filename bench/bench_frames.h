#pragma once
// Shows opened and frames drawn the way the timing harnesses of drawing need
// them: the whole frame finished before the clock is read.
#include <epoxy/gl.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "container/lum_show_locator.h"
#include "engine/offline_frame_driver.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/root_item.h"

namespace lum::bench {

// A show and its project source, as lumshow opens it.
struct TOpenShow {
  explicit TOpenShow(const std::filesystem::path& project) {
    std::string message;
    locator = TLumShowLocator::OpenAny(project.string(), message);
    if (!locator) throw std::runtime_error(message);
    source = std::make_unique<TLumSource>(locator->Accessor(), locator->Document(),
                                          TLumSourceSettings{locator->Path(), 0});
  }
  std::unique_ptr<TLumShowLocator> locator;
  std::unique_ptr<TLumSource> source;
};

// One frame of the slides at show time t (with the overlay when given), drawn
// into the driver's frame and finished.
inline void DrawFinished(TOfflineFrameDriver& driver, TRootItem& root,
                         const std::vector<TRef<TDrawContainer>>& slides, double t,
                         TDrawerItem* overlay = nullptr) {
  if (!root.TakeSlides(slides, t, overlay)) throw std::runtime_error("no slide");
  T3DDrawer& d = driver.Drawer();
  d.SetViewportRect(driver.Slide());
  d.SetCapture(false);
  if (!d.DrawItem(root)) throw std::runtime_error("frame not drawn");
  glFinish();
}

}  // namespace lum::bench
