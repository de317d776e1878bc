// System dialogs run modally on a headless window thread: typing, keys,
// focus order, the mouse, SDL events, what the pixels show (masked edits,
// scrolling), hostile input, nesting and failures inside a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "support/environment.h"
#include "ui/password_dialog.h"
#include "ui/system_dialog.h"

namespace lum {
namespace {

constexpr int kTimedOut = -99;
constexpr int kEditId = 10, kCheckId = 11, kLabelId = 12;

// Ends a modal run that a broken test left hanging.
class TWatchdog {
 public:
  TWatchdog() {
    thread_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      if (!done_cv_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; }))
        TWindowThread::Post([] {
          if (TSystemDialog* d = CurrentSystemDialog()) d->EndDialog(kTimedOut);
        });
    });
  }
  ~TWatchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// Runs the dialog modally with `script` posted to run inside the modal loop.
int RunScripted(TSystemDialog& dialog, std::function<void(TSystemDialog&)> script) {
  TWatchdog watchdog;
  TWindowThread::Post([script] {
    if (TSystemDialog* d = CurrentSystemDialog()) script(*d);
  });
  return dialog.RunModal();
}

TDialogTemplate FormTemplate(bool masked = false) {
  using enum TDialogItemKind;
  TDialogTemplate t;
  t.caption = "Form";
  t.width = 260;
  t.height = 120;
  t.items = {
      {Static, kLabelId, 12, 12, 244, 16, "Name:"},
      {Edit, kEditId, 12, 32, 236, 21, "", masked},
      {CheckBox, kCheckId, 12, 60, 150, 16, "Remember"},
      {Button, kIdOk, 52, 86, 75, 25, "OK", false, true},
      {Button, kIdCancel, 133, 86, 75, 25, "Cancel"},
  };
  return t;
}

struct TPoint {
  int x, y;
};

TPoint Centre(const TScreenRect& r) {
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void PushKey(uint32_t windowId, SDL_Keycode key, SDL_Scancode scan) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = windowId;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = key;
  e.key.keysym.scancode = scan;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
}

void Click(TSystemDialog& d, int id) {
  const TPoint p = Centre(d.ItemRect(id));
  d.MouseButton(p.x, p.y, true);
  d.MouseButton(p.x, p.y, false);
}

// Pixels of one rectangle of a snapshot, row by row.
std::vector<uint32_t> Area(const TBitmap& b, const TScreenRect& r) {
  std::vector<uint32_t> out;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const uint8_t* p = b.Row(y) + 4 * x;
      out.push_back(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
    }
  return out;
}

// Pixels clearly darker than the white of an edit.
int InkIn(const TBitmap& b, const TScreenRect& r) {
  int n = 0;
  for (uint32_t p : Area(b, r))
    if ((p & 0xFF) < 128) ++n;
  return n;
}

// Dark pixels among some.
int Ink(const std::vector<uint32_t>& px) {
  return int(std::count_if(px.begin(), px.end(), [](uint32_t p) { return (p & 0xFF) < 128; }));
}

// What an edit's text area shows after typing `typed`.
std::vector<uint32_t> EditPixels(bool masked, const std::string& typed) {
  TSystemDialog d(FormTemplate(masked), nullptr, {96});
  d.Text(typed);
  const TScreenRect r = d.ItemRect(kEditId);
  return Area(*d.Snapshot(), {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1});
}

// Without the family the dialogs name no text can show; with it, text must.
bool DialogFontInstalled() {
  return !test::InstalledFontFile(kDialogFontFamily, "Regular").empty();
}

// Whether this video driver gives plain windows a surface, asked of SDL with
// a window of our own.
bool DriverHasWindowSurfaces() {
  SDL_Window* w = SDL_CreateWindow("probe", 0, 0, 8, 8, SDL_WINDOW_HIDDEN);
  const bool has = w && SDL_GetWindowSurface(w);
  if (w) SDL_DestroyWindow(w);
  return has;
}

class SystemDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(TWindowThread::Init()); }
  void TearDown() override {
    EXPECT_EQ(ModalCount(), 0);
    EXPECT_EQ(CurrentSystemDialog(), nullptr);
    TWindowThread::Pump(0);
  }
};

TEST_F(SystemDialog, TypingThenEnterGivesTheTextWhileRequestsKeepRunning) {
  TIniFile doc;
  TLumPasswordDialog prompt(nullptr, doc, {96});
  int seenCount = -1;
  TSystemDialog* seen = nullptr;
  TWindowThread::Post([&] {
    seen = CurrentSystemDialog();
    seenCount = ModalCount();
    seen->Text("pa");
    seen->Text("ss w\xC3\xB6rd!");
    seen->Key(vk::kBack, 0, true);
    seen->Key(vk::kBack, 0, false);  // releases do nothing
    seen->Key(vk::kReturn, 0, true);
  });
  TWatchdog watchdog;
  EXPECT_EQ(prompt.Run(), std::optional<std::string>("pass w\xC3\xB6rd"));
  EXPECT_EQ(seen, &prompt.Dialog());
  EXPECT_EQ(seenCount, 1);
}

TEST_F(SystemDialog, AskPasswordRunsThePromptUnlessAStandInIsSet) {
  TIniFile doc;
  TWindowThread::Post([] {
    CurrentSystemDialog()->Text("abc");
    CurrentSystemDialog()->Key(vk::kReturn, 0, true);
  });
  {
    TWatchdog watchdog;
    EXPECT_EQ(AskPassword(nullptr, doc, {96}), std::optional<std::string>("abc"));
  }
  SetPasswordPrompt([](TWindow*, const TIniFile&) -> std::optional<std::string> {
    throw ELumError("prompt failed");
  });
  EXPECT_THROW(AskPassword(nullptr, doc), ELumError);
  SetPasswordPrompt({});
  TWindowThread::Post([] { CurrentSystemDialog()->Key(vk::kEscape, 0, true); });
  TWatchdog watchdog;
  EXPECT_EQ(AskPassword(nullptr, doc, {96}), std::nullopt);
}

TEST_F(SystemDialog, EscapeCancelButtonAndClosingCancel) {
  TIniFile doc;
  {
    TLumPasswordDialog prompt(nullptr, doc, {96});
    TWindowThread::Post([] {
      CurrentSystemDialog()->Text("typed");
      CurrentSystemDialog()->Key(vk::kEscape, 0, true);
    });
    TWatchdog watchdog;
    EXPECT_EQ(prompt.Run(), std::nullopt);
  }
  {
    TLumPasswordDialog prompt(nullptr, doc, {96});
    TWindowThread::Post([] {
      CurrentSystemDialog()->Text("typed");
      Click(*CurrentSystemDialog(), kIdCancel);
    });
    TWatchdog watchdog;
    EXPECT_EQ(prompt.Run(), std::nullopt);
  }
  {
    TLumPasswordDialog prompt(nullptr, doc, {96});
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = prompt.Dialog().Window().Id();
    prompt.Dialog().Text("typed");
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    TWatchdog watchdog;
    EXPECT_EQ(prompt.Run(), std::nullopt);
  }
}

TEST_F(SystemDialog, SdlEventsOfTheDialogWindowAreInput) {
  TSystemDialog d(FormTemplate(), nullptr, {96});
  const uint32_t id = d.Window().Id();
  auto push = [](SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); };
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  e.text.windowID = id;
  std::snprintf(e.text.text, sizeof e.text.text, "%s", "abc");
  push(e);
  PushKey(id, SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE);
  const TPoint ok = Centre(d.ItemRect(kIdOk));
  e = {};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.windowID = id;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.state = SDL_PRESSED;
  e.button.clicks = 1;
  e.button.x = ok.x;
  e.button.y = ok.y;
  push(e);
  e.type = SDL_MOUSEBUTTONUP;
  e.button.state = SDL_RELEASED;
  push(e);
  TWatchdog watchdog;
  EXPECT_EQ(d.RunModal(), kIdOk);
  EXPECT_EQ(d.ItemText(kEditId), "ab");
}

TEST_F(SystemDialog, TabOrderSkipsStaticsAndWraps) {
  TSystemDialog d(FormTemplate(), nullptr, {96});
  EXPECT_EQ(d.Focused(), kEditId);  // the first item that takes focus
  const int forward[] = {kCheckId, kIdOk, kIdCancel, kEditId, kCheckId};
  for (int id : forward) {
    d.Key(vk::kTab, 0, true);
    EXPECT_EQ(d.Focused(), id);
  }
  const int backward[] = {kEditId, kIdCancel, kIdOk, kCheckId};
  for (int id : backward) {
    d.Key(vk::kTab, kModShift, true);
    EXPECT_EQ(d.Focused(), id);
  }
  EXPECT_FALSE(d.SetFocus(kLabelId));
  EXPECT_TRUE(d.SetFocus(kIdCancel));
}

TEST_F(SystemDialog, SpaceAndEnterFollowTheFocus) {
  TSystemDialog d(FormTemplate(), nullptr, {96});
  std::vector<int> commands;
  d.SetCommandHandler([&](TSystemDialog&, int c) { commands.push_back(c); });
  d.Text("a b");  // a space typed into the edit is text
  d.Key(vk::kSpace, 0, true);
  EXPECT_EQ(d.ItemText(kEditId), "a b");
  d.SetFocus(kCheckId);
  d.Text("x");  // no edit has focus: nothing takes it
  d.Key(vk::kSpace, 0, true);
  EXPECT_TRUE(d.Checked(kCheckId));
  d.Key(vk::kReturn, 0, true);  // the default button
  d.SetFocus(kIdCancel);
  d.Key(vk::kSpace, 0, true);
  d.Key(vk::kReturn, 0, true);  // a focused button stands in for the default one
  d.Key(vk::kEscape, 0, true);
  EXPECT_EQ(commands, (std::vector<int>{kIdOk, kIdCancel, kIdCancel, kIdCancel}));
  EXPECT_EQ(d.ItemText(kEditId), "a b");
  EXPECT_FALSE(d.Running());
}

TEST_F(SystemDialog, MouseClicksNeedPressAndReleaseOnTheSameItem) {
  TSystemDialog d(FormTemplate(), nullptr, {96});
  std::vector<int> commands;
  d.SetCommandHandler([&](TSystemDialog&, int c) { commands.push_back(c); });
  const TPoint ok = Centre(d.ItemRect(kIdOk));
  d.MouseButton(ok.x, ok.y, true);
  EXPECT_EQ(d.Focused(), kIdOk);
  d.MouseMove(1, 1);
  d.MouseButton(1, 1, false);  // released outside
  EXPECT_TRUE(commands.empty());
  Click(d, kCheckId);
  EXPECT_TRUE(d.Checked(kCheckId));
  Click(d, kCheckId);
  EXPECT_FALSE(d.Checked(kCheckId));
  Click(d, kEditId);
  EXPECT_EQ(d.Focused(), kEditId);
  Click(d, kLabelId);  // statics take no clicks
  EXPECT_EQ(d.Focused(), kEditId);
  Click(d, kIdCancel);
  EXPECT_EQ(commands, std::vector<int>{kIdCancel});
}

TEST_F(SystemDialog, MaskedEditDrawsBulletsNeverTheText) {
  if (!DialogFontInstalled()) GTEST_SKIP() << kDialogFontFamily << " is not installed";
  const auto masked = EditPixels(true, "secret");
  const auto plain = EditPixels(false, "secret");
  const auto bullets =
      EditPixels(false, "\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F\xE2\x97\x8F");
  const auto empty = EditPixels(false, "");
  // More ink than the caret alone, masked or not.
  ASSERT_GT(Ink(plain), Ink(empty) + 20) << "the edit draws no text";
  EXPECT_GT(Ink(masked), Ink(empty) + 20) << "the masked edit draws no bullets";
  EXPECT_NE(masked, plain);
  EXPECT_EQ(masked, bullets);
  // Only the length shows.
  EXPECT_EQ(masked, EditPixels(true, "abcdef"));
  EXPECT_NE(masked, EditPixels(true, "abcdefg"));
  // What was typed is still what the dialog gives.
  TSystemDialog d(FormTemplate(true), nullptr, {96});
  d.Text("secret");
  EXPECT_EQ(d.ItemText(kEditId), "secret");
}

TEST_F(SystemDialog, LabelsAndButtonsShowTheirText) {
  if (!DialogFontInstalled()) GTEST_SKIP() << kDialogFontFamily << " is not installed";
  TDialogTemplate blank = FormTemplate();
  for (TDialogItem& item : blank.items) item.text.clear();
  TSystemDialog with(FormTemplate(), nullptr, {96}), without(blank, nullptr, {96});
  const TRef<TBitmap> a = with.Snapshot(), b = without.Snapshot();
  for (int id : {kLabelId, kCheckId, kIdOk, kIdCancel})
    EXPECT_GT(InkIn(*a, with.ItemRect(id)), InkIn(*b, without.ItemRect(id)) + 20) << "item " << id;
}

TEST_F(SystemDialog, LongTextScrollsInsideTheEdit) {
  if (!DialogFontInstalled()) GTEST_SKIP() << kDialogFontFamily << " is not installed";
  TSystemDialog d(FormTemplate(), nullptr, {96});
  const TRef<TBitmap> before = d.Snapshot();
  const TScreenRect edit = d.ItemRect(kEditId);
  d.Text(std::string(200, 'W'));
  const TRef<TBitmap> after = d.Snapshot();
  ASSERT_GT(InkIn(*after, edit), InkIn(*before, edit)) << "the edit draws no text";
  // Nothing outside the edit changed.
  const TScreenRect all{0, 0, after->Width(), after->Height()};
  auto outside = [&](const TBitmap& b) {
    std::vector<uint32_t> px = Area(b, all);
    for (int y = edit.top; y < edit.bottom; ++y)
      for (int x = edit.left; x < edit.right; ++x) px[size_t(y) * size_t(b.Width()) + x] = 0;
    return px;
  };
  EXPECT_EQ(outside(*before), outside(*after));
  // The end of the text is in view, at the right, and the border is intact.
  const TScreenRect rightEnd{edit.right - 20, edit.top + 2, edit.right - 3, edit.bottom - 2};
  EXPECT_GT(InkIn(*after, rightEnd), 0);
  EXPECT_EQ(Area(*after, {edit.left, edit.top, edit.right, edit.top + 1}),
            Area(*before, {edit.left, edit.top, edit.right, edit.top + 1}));
  // Short text starts at the left.
  d.SetItemText(kEditId, "W");
  const TRef<TBitmap> shortText = d.Snapshot();
  EXPECT_GT(InkIn(*shortText, {edit.left + 2, edit.top + 2, edit.left + 20, edit.bottom - 2}), 0);
}

TEST_F(SystemDialog, HostileInputStaysBounded) {
  TSystemDialog d(FormTemplate(true), nullptr, {96});
  const auto start = std::chrono::steady_clock::now();
  d.Text(std::string(100000, 'x'));
  EXPECT_EQ(d.ItemText(kEditId).size(), kEditMaxChars);
  d.Text("more");
  EXPECT_EQ(d.ItemText(kEditId).size(), kEditMaxChars);
  EXPECT_EQ(d.Snapshot()->Width(), 260);
  // The clipboard: one line of it, without control characters.
  d.SetItemText(kEditId, "");
  std::string paste(100000, 'y');
  paste[5] = '\t';
  paste[7] = '\x01';
  paste[50000] = '\n';
  ASSERT_EQ(SDL_SetClipboardText(paste.c_str()), 0);
  d.Key('V', kModCtrl, true);
  EXPECT_EQ(d.ItemText(kEditId), std::string(kEditMaxChars, 'y'));
  d.SetItemText(kEditId, "");
  ASSERT_EQ(SDL_SetClipboardText("ab\x7F"
                                 "c\r\ndef"),
            0);
  d.Key(vk::kInsert, kModShift, true);
  EXPECT_EQ(d.ItemText(kEditId), "abc");
  // Broken UTF-8 becomes replacement characters; Backspace takes whole characters.
  d.Text("\xFF\xC3\xB6");
  EXPECT_EQ(d.ItemText(kEditId), "abc\xEF\xBF\xBD\xC3\xB6");
  d.Key(vk::kBack, 0, true);
  d.Key(vk::kBack, 0, true);
  EXPECT_EQ(d.ItemText(kEditId), "abc");
  for (int i = 0; i < 10; ++i) d.Key(vk::kBack, 0, true);
  EXPECT_EQ(d.ItemText(kEditId), "");
  d.Snapshot();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(SystemDialog, TheWindowShowsWhatTheSnapshotShows) {
  if (!DriverHasWindowSurfaces()) GTEST_SKIP() << "no window surfaces with this video driver";
  TSystemDialog d(FormTemplate(), nullptr, {96});
  TRef<TBitmap> shot;
  std::vector<uint8_t> shown;
  int pitch = 0;
  const int r = RunScripted(d, [&](TSystemDialog& self) {
    self.Text("shown");
    shot = self.Snapshot();
    // The loop draws before it waits again: look after one more request.
    TWindowThread::Post([&] {
      SDL_Surface* s = SDL_GetWindowSurface(self.Window().Handle());
      if (SDL_Surface* c = s ? SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_BGRA32, 0) : nullptr) {
        pitch = c->pitch;
        const auto* p = static_cast<const uint8_t*>(c->pixels);
        shown.assign(p, p + size_t(c->pitch) * size_t(c->h));
        SDL_FreeSurface(c);
      }
      self.EndDialog(kIdOk);
    });
  });
  EXPECT_EQ(r, kIdOk);
  ASSERT_FALSE(shown.empty()) << "the dialog's window has no surface";
  ASSERT_TRUE(shot);
  ASSERT_GE(pitch, shot->Width() * 4);
  ASSERT_GE(shown.size(), size_t(pitch) * size_t(shot->Height()));
  int differing = 0;
  for (int y = 0; y < shot->Height(); ++y)
    for (int x = 0; x < shot->Width() * 4; ++x)
      if (x % 4 != 3 && shown[size_t(y) * pitch + x] != shot->Row(y)[x]) ++differing;
  EXPECT_EQ(differing, 0);
}

TEST_F(SystemDialog, HugeDocumentTextsAreDrawnInBoundedTime) {
  const std::string huge(1000000, 'M');
  TIniFile doc;
  doc.LoadText("[Main]\r\nopt_lng_password_caption=" + huge + "\r\nopt_lng_password_label=" + huge +
               "\r\nopt_lng_button_ok=" + huge + "\r\n");
  const auto start = std::chrono::steady_clock::now();
  TLumPasswordDialog prompt(nullptr, doc, {96});
  const TRef<TBitmap> shot = prompt.Dialog().Snapshot();
  EXPECT_EQ(shot->Width(), 260);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // The texts themselves are kept whole.
  EXPECT_EQ(prompt.Dialog().ItemText(TLumPasswordDialog::kLabelId).size(), huge.size());
}

TEST_F(SystemDialog, DisplayDpiIsAKnownStep) {
  const int dpi = DisplayDialogDpi(0);
  EXPECT_GE(dpi, 96);
  EXPECT_LE(dpi, 288);
  EXPECT_EQ(dpi % 24, 0);
  EXPECT_EQ(DisplayDialogDpi(1000), 96);  // no such display
}

TEST_F(SystemDialog, WindowFollowsTheTemplateAtItsDpi) {
  TIniFile doc;
  doc.LoadText("[Main]\r\nopt_lng_password_caption=Geheim\r\n");
  TLumPasswordDialog prompt(nullptr, doc, {120});
  TSystemDialog& d = prompt.Dialog();
  EXPECT_EQ(d.Dpi(), 120);
  EXPECT_STREQ(SDL_GetWindowTitle(d.Window().Handle()), "Geheim");
  EXPECT_EQ(d.Window().ClientRect(), (TScreenRect{0, 0, 325, 123}));
  EXPECT_EQ(d.ItemRect(TLumPasswordDialog::kEditId), (TScreenRect{15, 40, 310, 66}));
  const TRef<TBitmap> shot = d.Snapshot();
  EXPECT_EQ(shot->Width(), 325);
  EXPECT_EQ(shot->Height(), 123);
  EXPECT_EQ(d.Focused(), TLumPasswordDialog::kEditId);
}

TEST_F(SystemDialog, CentredOverTheOwnersClientArea) {
  TWindowOptions o;
  o.x = 100;
  o.y = 80;
  o.width = 640;
  o.height = 480;
  o.hidden = true;
  TWindow owner(o);
  TSystemDialog d(FormTemplate(), &owner, {96});
  int x = 0, y = 0;
  d.Window().ScreenOrigin(x, y);
  int ox = 0, oy = 0;
  owner.ScreenOrigin(ox, oy);
  SDL_Rect screen{};
  ASSERT_EQ(SDL_GetDisplayUsableBounds(0, &screen), 0);
  int ex = 0, ey = 0;
  CentreWindow({ox, oy, ox + 640, oy + 480}, 260, 120,
               {screen.x, screen.y, screen.x + screen.w, screen.y + screen.h}, ex, ey);
  EXPECT_EQ(x, ex);
  EXPECT_EQ(y, ey);
}

TEST_F(SystemDialog, NestedRunsAndFailuresRestoreTheModalState) {
  TSystemDialog outer(FormTemplate(), nullptr, {96});
  int innerCount = 0;
  TSystemDialog* innerCurrent = nullptr;
  outer.SetCommandHandler([&](TSystemDialog& self, int command) {
    if (command != kIdOk) return self.EndDialog(command);
    TSystemDialog inner(FormTemplate(), nullptr, {96});
    const int r = RunScripted(inner, [&](TSystemDialog& d) {
      innerCurrent = CurrentSystemDialog();
      innerCount = ModalCount();
      d.Key(vk::kEscape, 0, true);
    });
    EXPECT_EQ(r, kIdCancel);
    EXPECT_EQ(CurrentSystemDialog(), &self);
    throw std::runtime_error("handler failed");
  });
  // A key event, not a posted request: the window thread keeps failures of
  // requests to itself, while those of the dialog's own input leave the run.
  PushKey(outer.Window().Id(), SDLK_RETURN, SDL_SCANCODE_RETURN);
  TWatchdog watchdog;
  EXPECT_THROW(outer.RunModal(), std::runtime_error);
  EXPECT_EQ(innerCount, 2);
  EXPECT_NE(innerCurrent, &outer);
  EXPECT_FALSE(outer.Running());
  {
    TModalScope scope;
    EXPECT_EQ(ModalCount(), 1);
  }
  // The dialog can run again after a failure.
  outer.SetCommandHandler({});
  EXPECT_EQ(RunScripted(outer, [](TSystemDialog& d) { d.Key(vk::kEscape, 0, true); }), kIdCancel);
}

TEST_F(SystemDialog, QuitOfTheWindowThreadCancels) {
  TSystemDialog d(FormTemplate(), nullptr, {96});
  EXPECT_EQ(RunScripted(d, [](TSystemDialog&) { TWindowThread::Quit(); }), kIdCancel);
  ASSERT_TRUE(TWindowThread::Init());  // clears the quit for the tests that follow
}

}  // namespace
}  // namespace lum
