#include "mpris/player_media_controls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

#include "container/lum_show_locator.h"
#include "engine/input_mapping.h"
#include "engine/lum_engine.h"
#include "foundation/clock.h"
#include "foundation/log.h"
#include "imaging/bitmap.h"
#include "imaging/image_lib_store.h"
#include "mpris/mpris_service.h"
#include "project/lum_source.h"
#include "startup/main_form.h"
#include "startup/user_runtime_folder.h"
#include "toolkit/window.h"

namespace lum {

namespace {

// Slide pictures for media widgets: small is enough, and quick to write.
constexpr int kArtSide = 480;
// A capture that never came is asked for again after this long.
constexpr int64_t kArtRetryMs = 2000;

std::string FileUrl(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c)) {
      url += char(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

TRef<TBitmap> Shrunk(TRef<TBitmap> image) {
  while (image && (image->Width() > kArtSide || image->Height() > kArtSide))
    image = HalveBitmap(*image);
  return image;
}

TLumActionInfo Action(uint8_t type) {
  TLumActionInfo a;
  a.type = type;
  return a;
}

}  // namespace

// The part of the controls that window-thread jobs reach; it goes with the
// controls, and jobs still queued then find it gone.
struct TPlayerMediaControls::TCore {
  explicit TCore(TMainForm& f) : form(f) {}
  ~TCore() { RemoveArtFolder(); }

  void Poll();
  void Carry(const TMprisRequest& q);
  void Play();
  void FollowShow(const TLumShowLocator& show, const TLumSource& times);
  void WantArt(const TLumSource& times, const TMprisState& s);
  void ArtArrived(int64_t serial, int64_t slide, TRef<TBitmap> image);
  std::string ArtFolder();
  void RemoveArtFolder();

  TMainForm& form;
  TMprisService* service = nullptr;
  std::weak_ptr<TCore> self;
  const void* show = nullptr;  // the show and slide times last seen
  const void* times = nullptr;
  int64_t serial = 0;
  std::string caption;
  bool canControl = false;
  // The slide picture: for which slide, its file, and a capture on its way.
  int64_t artSerial = -1, artSlide = -1;
  std::string artPath, artUrl;
  int64_t artAskedAt = -1;
  std::string artRoot, artName;  // the folder made for the pictures
};

void TPlayerMediaControls::TCore::FollowShow(const TLumShowLocator& s, const TLumSource& t) {
  if (&s == show && &t == times) return;
  show = &s;
  times = &t;
  ++serial;
  const TIniList* main = s.Document().Section("Main");
  caption = ReadString(main, "opt_scr_caption", "LumViewer v5.6");
  // As the keys: a show without navigation keys, or a screen saver, is not steered.
  canControl = TInputMappingClass(s.Document()).ControlPermitted() && !t.ScreenSaver();
}

void TPlayerMediaControls::TCore::Poll() {
  TMprisState s;
  const TLumShowLocator* loc = form.Show();
  const TLumSource* t = form.ShowTimes();
  if (loc && t && t->SlideCount() > 0) {
    FollowShow(*loc, *t);
    const TPlayerStatus st = form.Status();
    s.hasShow = true;
    s.status = st.engine.ended                             ? TPlaybackStatus::Stopped
               : st.engine.paused || st.engine.waiting ? TPlaybackStatus::Paused
                                                           : TPlaybackStatus::Playing;
    s.canControl = canControl;
    s.volume = st.engine.volume;
    s.positionUs = std::llround(std::max(0.0, st.engine.position) * 1000);
    s.lengthUs = std::llround(std::max(0.0, t->Duration()) * 1000);
    s.showSerial = serial;
    const int64_t k = std::max<int64_t>(0, t->SlideAt(st.engine.position));
    s.slide = k % t->SlideCount();
    s.title = MprisTitle(caption, t->Slide(k).name);
    WantArt(*t, s);
    s.artUrl = artSerial == serial && artSlide == s.slide ? artUrl : std::string();
  }
  service->Publish(s);
}

// The picture of a slide is taken once its transition is over (or at once
// when the show stands still).
void TPlayerMediaControls::TCore::WantArt(const TLumSource& t, const TMprisState& s) {
  if (artSerial != s.showSerial || artSlide != s.slide) {
    if (!artPath.empty()) unlink(artPath.c_str());
    artPath.clear();
    artUrl.clear();
    artSerial = s.showSerial;
    artSlide = s.slide;
    artAskedAt = -1;
  }
  if (!artUrl.empty() || (artAskedAt >= 0 && MsSinceStart() - artAskedAt < kArtRetryMs)) return;
  const double position = double(s.positionUs) / 1000;
  const TLumSlideRecord r = t.Slide(std::max<int64_t>(0, t.SlideAt(position)));
  if (s.status == TPlaybackStatus::Playing && position < r.start + r.transitionIn) return;
  artAskedAt = MsSinceStart();
  std::weak_ptr<TCore> core = self;
  const int64_t forSerial = s.showSerial, forSlide = s.slide;
  form.Capture([core, forSerial, forSlide](TRef<TBitmap> image) {
    if (auto c = core.lock()) c->ArtArrived(forSerial, forSlide, std::move(image));
  });
}

void TPlayerMediaControls::TCore::ArtArrived(int64_t forSerial, int64_t forSlide,
                                             TRef<TBitmap> image) {
  // The show moved on meanwhile: the next poll asks again.
  if (forSerial != artSerial || forSlide != artSlide || !image) return;
  const std::string folder = ArtFolder();
  if (folder.empty()) return;
  const std::string path = folder + "/slide-" + std::to_string(forSerial) + "-" +
                           std::to_string(forSlide) + ".png";
  TRef<TBitmap> small = Shrunk(std::move(image));
  if (!small || !WritePng(*small, path)) {
    Log().Line("MPRIS: cannot write the slide picture " + path);
    return;
  }
  artPath = path;
  artUrl = FileUrl(path);
}

// A private folder of this process in the user's runtime folder.
std::string TPlayerMediaControls::TCore::ArtFolder() {
  if (!artName.empty()) return artRoot + "/" + artName;
  std::string why;
  const std::string root = UserRuntimeFolder(&why);
  if (root.empty()) {
    Log().Line("MPRIS: no folder for slide pictures (" + why + ")");
    artAskedAt = INT64_MAX / 2;  // not again
    return {};
  }
  const std::string name = "mpris-" + std::to_string(getpid());
  const int parent = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int fd = parent >= 0 ? OpenPrivateFolder(parent, name) : -1;
  if (fd >= 0) close(fd);
  if (parent >= 0) close(parent);
  if (fd < 0) return {};
  artRoot = root;
  artName = name;
  return artRoot + "/" + artName;
}

void TPlayerMediaControls::TCore::RemoveArtFolder() {
  if (artName.empty()) return;
  const int parent = open(artRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return;
  RemoveTreeAt(parent, artName);
  close(parent);
}

void TPlayerMediaControls::TCore::Play() {
  TLumEngine* engine = form.Viewer().Engine();
  if (engine && engine->Waiting()) return engine->Continue();
  // A show that came to its end plays again from the start.
  if (form.Status().engine.ended) form.Seek(0);
  form.SetPause(false);
}

void TPlayerMediaControls::TCore::Carry(const TMprisRequest& q) {
  using K = TMprisRequest::TKind;
  if (q.kind == K::Raise) {
    form.Window().Restore();
    SDL_RaiseWindow(form.Window().Handle());
    return;
  }
  if (q.kind == K::Quit) {
    form.Close(0);
    return;
  }
  // A modal box has the user's attention: the show waits for it.
  if (!form.Show() || form.ModalCount() > 0) return;
  switch (q.kind) {
    case K::Play:
      return Play();
    case K::Pause:
      return form.SetPause(true);
    case K::PlayPause:
      return form.Status().engine.ended ? Play() : form.Execute(Action(kActionPause));
    case K::Stop:
      return form.Execute(Action(kActionStop));
    case K::Next:
      return form.Execute(Action(kActionNextSlide));
    case K::Previous:
      return form.Execute(Action(kActionPrevSlide));
    case K::SetPosition:
      return form.Seek(double(q.positionUs) / 1000);
    case K::SetVolume:
      if (TLumEngine* engine = form.Viewer().Engine()) engine->SetVolume(float(q.volume));
      return;
    default:
      return;
  }
}

TPlayerMediaControls::TPlayerMediaControls(TMainForm& form)
    : core_(std::make_shared<TCore>(form)) {
  core_->self = core_;
  std::weak_ptr<TCore> core = core_;
  auto sink = [core](const TMprisRequest& q) {
    TWindowThread::Post([core, q] {
      if (auto c = core.lock()) c->Carry(q);
    });
  };
  auto tick = [core] {
    TWindowThread::Post([core] {
      if (auto c = core.lock()) c->Poll();
    });
  };
  TMprisIdentity id;
  id.busName = "org.mpris.MediaPlayer2.lumviewer.instance" + std::to_string(getpid());
  id.identity = "Lum show player";
  id.desktopEntry = "lumviewer";
  // The core is ready before the bus thread can post its first job.
  service_ = std::make_unique<TMprisService>(std::move(id), sink, tick);
  core_->service = service_.get();
}

TPlayerMediaControls::~TPlayerMediaControls() {
  service_.reset();
  core_.reset();
}

}  // namespace lum
