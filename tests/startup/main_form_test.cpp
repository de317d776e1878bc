// The main window in this process (offscreen): opening other shows and coming
// back, the checks before a show opens (password, screen saver), run-on-exit
// and the program actions with the user's consent, observed through the
// form's hooks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "container/show_packer.h"
#include "foundation/clock.h"
#include "foundation/sha256.h"
#include "startup/main_form.h"
#include "support/player_shows.h"
#include "support/temp_dir.h"
#include "toolkit/window.h"
#include "ui/system_dialog.h"

namespace lum {
namespace {

// A packed show of n flat slides of 1 s; mainExtra goes into [Main].
std::string PackedShow(const test::TTempDir& dir, const std::string& name, int slides,
                       const std::string& mainExtra = "", const std::string& version = "5.6") {
  const std::string project =
      dir.Write("src-" + name + "/Project.lum",
                test::SlideShowText(slides, 1000, 0, false, -1, "",
                                    "LumVersion=" + version + "\n" + mainExtra));
  TPackOptions o;
  o.lumVersion = version;
  const std::string out = dir / name;
  PackShow(project, {}, out, o);
  return out;
}

TLumActionInfo Action(uint8_t type, const std::string& text = "", int32_t i = 0) {
  TLumActionInfo a;
  a.type = type;
  a.textArg = text;
  a.intArg = i;
  return a;
}

class MainForm : public ::testing::Test {
 protected:
  // Programs the shows name exist on PATH (the spawn hook never starts
  // them); trust is remembered in the test's own folder.
  void SetUp() override {
    ASSERT_TRUE(TWindowThread::Init());
    for (const char* name : {"tool", "other", "last", "xdg-open"}) {
      const std::string p = dir_.Write(std::string("bin/") + name, "#!/bin/sh\n");
      chmod(p.c_str(), 0755);
    }
    for (const char* name : {"PATH", "XDG_CONFIG_HOME"})
      saved_.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
    setenv("PATH", (dir_ / "bin").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  }

  void TearDown() override {
    form_.reset();
    for (int i = 0; i < 5; ++i) TWindowThread::Pump(1);
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

  // A form whose programs and messages are recorded, not run or shown.
  TMainForm& Form(TPlayerOptions o = {}) {
    form_ = std::make_unique<TMainForm>(o);
    TMainFormHooks& h = form_->Hooks();
    h.spawn = [this](const TSpawnRequest& r) {
      spawned_.push_back(r.argv);
      return 0;
    };
    h.askConsent = [this](const std::vector<TConsentItem>& items) {
      asks_.push_back(items);
      return consent_;
    };
    h.askPassword = [this](const TIniFile&) -> std::optional<std::string> {
      ++asked_;
      if (password_ == "throw") throw std::runtime_error("no dialog");
      if (password_ == "cancel") return std::nullopt;
      return password_;
    };
    return *form_;
  }

  bool Open(const std::string& path, std::optional<int64_t> slide = {}) {
    std::string message;
    const bool ok = form_->OpenShow(path, slide, {}, message);
    message_ = message;
    return ok;
  }

  // Pumps until the engine reports a slide (positions come from its thread).
  int64_t SlideShown(int64_t want, int timeoutMs = 5000) {
    const int64_t end = MsSinceStart() + timeoutMs;
    int64_t slide = -1;
    while (MsSinceStart() < end) {
      TWindowThread::Pump(5);
      slide = form_->Status().engine.slide;
      if (slide == want) break;
    }
    return slide;
  }

  std::string Show() { return form_->Status().show; }

  std::string Bin(const std::string& name) {
    char buf[PATH_MAX];
    return realpath((dir_ / "bin/" + name).c_str(), buf) ? buf : "";
  }

  test::TTempDir dir_;
  std::vector<std::pair<std::string, std::string>> saved_;
  std::unique_ptr<TMainForm> form_;
  std::vector<std::vector<std::string>> spawned_;
  std::vector<std::vector<TConsentItem>> asks_;
  TConsentAnswer consent_{true, false};
  std::string password_ = "secret";
  std::string message_;
  int asked_ = 0;
};

TEST_F(MainForm, OtherShowsOpenAndTheReturnStackComesBack) {
  const std::string a = PackedShow(dir_, "a.lumshow", 4);
  const std::string b = PackedShow(dir_, "my show b.lumshow", 4);
  const std::string c = PackedShow(dir_, "c.lumshow", 2);
  Form();
  ASSERT_TRUE(Open(a, 3)) << message_;
  ASSERT_EQ(SlideShown(2), 2);

  // A quoted path with blanks and a start slide; the way back remembers slide 3.
  form_->Execute(Action(kActionRunPresentationAndReturn, "\"" + b + "\" -slide 3"));
  EXPECT_EQ(Show(), b);
  EXPECT_EQ(SlideShown(2), 2);
  form_->Execute(Action(kActionRunPresentationAndReturn, "c.lumshow"));  // beside b
  EXPECT_EQ(Show(), c);
  EXPECT_EQ(form_->Status().returnStack, 2u);

  // Exit actions go back down the stack, each to the slide it left.
  form_->Execute(Action(kActionExit));
  EXPECT_FALSE(form_->Closed());
  EXPECT_EQ(Show(), b);
  EXPECT_EQ(SlideShown(2), 2);
  form_->Execute(Action(kActionExit));
  EXPECT_EQ(Show(), a);
  EXPECT_EQ(SlideShown(2), 2);
  EXPECT_EQ(form_->Status().returnStack, 0u);
  form_->Execute(Action(kActionExit));
  EXPECT_TRUE(form_->Closed());
  EXPECT_TRUE(form_->Status().messages.empty());
}

TEST_F(MainForm, AShowThatCannotBeOpenedLeavesTheCurrentOnePlaying) {
  const std::string a = PackedShow(dir_, "a.lumshow", 2);
  const std::string old = PackedShow(dir_, "old.lumshow", 2, "", "4.0");
  const std::string junk = dir_.Write("junk.lumshow", std::string(5000, 'x'));
  Form();
  ASSERT_TRUE(Open(a));
  for (const std::string& target : {dir_ / "missing.lumshow", junk, old})
    for (uint8_t type : {kActionRunPresentation, kActionRunPresentationAndReturn})
      form_->Execute(Action(type, target));
  EXPECT_EQ(Show(), a);
  EXPECT_FALSE(form_->Closed());
  const std::vector<std::string> expected = {
      "LumShow File not Found:\r" + dir_ / "missing.lumshow",
      "LumShow File not Found:\r" + dir_ / "missing.lumshow",
      "Not LumShow Executable File or File Corrupted:\r" + junk,
      "Not LumShow Executable File or File Corrupted:\r" + junk,
      "LumShow ExeFile Version Mismatch:\r" + old,
      "LumShow ExeFile Version Mismatch:\r" + old};
  EXPECT_EQ(form_->Status().messages, expected);
}

TEST_F(MainForm, TheReturnStackStaysBoundedThroughThousandsOfOpens) {
  const std::string a = PackedShow(dir_, "a.lumshow", 2);
  const std::string b = PackedShow(dir_, "b.lumshow", 2);
  Form();
  ASSERT_TRUE(Open(a));
  for (int i = 0; i < 1000; ++i)
    form_->Execute(Action(kActionRunPresentationAndReturn, i % 2 ? a : b));
  EXPECT_EQ(form_->Status().returnStack, kReturnStackLimit);
  // Coming back still works, through the entries kept.
  form_->Execute(Action(kActionExit));
  EXPECT_FALSE(form_->Closed());
  EXPECT_EQ(form_->Status().returnStack, kReturnStackLimit - 1);
}

TEST_F(MainForm, APasswordGuardsTheShow) {
  const std::string guarded = PackedShow(dir_, "g.lumshow", 2, "opt_usepass=1\nopt_pass=secret\n");
  const std::string fallback = PackedShow(dir_, "f.lumshow", 2, "opt_usepass=1\n");
  const std::string open = PackedShow(dir_, "o.lumshow", 2);
  Form();
  ASSERT_TRUE(Open(open));
  // A wrong password is told; a cancelled or failed prompt is the user's answer.
  for (const char* answer : {"wrong", "Secret", "cancel", "throw"}) {
    password_ = answer;
    EXPECT_FALSE(Open(guarded)) << answer;
    const bool told = answer[0] != 'c' && answer[0] != 't';
    EXPECT_EQ(message_, told ? "Wrong password:\r\"" + guarded + "\"" : "") << answer;
    EXPECT_EQ(form_->LastOpenOutcome(), told ? TOpenOutcome::Failed : TOpenOutcome::Cancelled);
    EXPECT_EQ(Show(), open) << answer;
  }
  password_ = "secret";
  EXPECT_TRUE(Open(guarded));
  EXPECT_FALSE(Open(fallback));
  password_ = kFallbackPassword;
  EXPECT_TRUE(Open(fallback));
  EXPECT_EQ(std::string(kFallbackPassword).size(), 23u);
  const int asked = asked_;
  EXPECT_TRUE(Open(open));
  EXPECT_EQ(asked_, asked) << "a show without a password asked for one";
}

TEST_F(MainForm, AScreenSaverRunsOnlyWhenAskedAndAlone) {
  const std::string saver = PackedShow(dir_, "saver.scr", 2);
  TPlayerOptions o;
  Form(o);
  EXPECT_FALSE(Open(saver));
  EXPECT_EQ(message_, "");
  EXPECT_EQ(form_->LastOpenOutcome(), TOpenOutcome::Declined);
  o.screenSaverRun = true;
  o.otherCopyRunning = true;
  Form(o);
  EXPECT_FALSE(Open(saver));
  o.otherCopyRunning = false;
  Form(o);
  EXPECT_TRUE(Open(saver)) << message_;
}

TEST_F(MainForm, RunOnExitFollowsHowTheShowWasLeft) {
  const std::string onLast = "opt_runapponexit=1\nopt_runapponexitfn=tool --done\n";
  const std::string a = PackedShow(dir_, "a.lumshow", 2, onLast);
  const std::string any =
      PackedShow(dir_, "any.lumshow", 2, onLast + "opt_runapponexitiflastslide=0\n");
  // The close button never runs it.
  Form();
  ASSERT_TRUE(Open(any));
  EXPECT_TRUE(form_->Close(0));
  EXPECT_TRUE(spawned_.empty());
  // An exit action runs it when the show need not have reached its end ...
  Form();
  ASSERT_TRUE(Open(any));
  form_->Execute(Action(kActionExit));
  EXPECT_TRUE(form_->Closed());
  ASSERT_EQ(spawned_.size(), 1u);
  EXPECT_EQ(spawned_[0], (std::vector<std::string>{"tool", "--done"}));
  // ... and not before the last slide when it must have.
  spawned_.clear();
  Form();
  ASSERT_TRUE(Open(a));
  form_->Execute(Action(kActionExit));
  EXPECT_TRUE(spawned_.empty());
}

TEST_F(MainForm, ProgramsAndAddressesGoThroughTheRunner) {
  const std::string a = PackedShow(dir_, "a.lumshow", 2);
  Form();
  ASSERT_TRUE(Open(a));
  form_->Execute(Action(kActionOpenWebSite, "example.org/x"));
  form_->Execute(Action(kActionOpenWebSite, "https://example.org"));
  form_->Execute(Action(kActionWriteEmail, "someone@example.org"));
  form_->Execute(Action(kActionRunApp, "cmd /c dir, tool"));
  EXPECT_EQ(form_->Status().messages,
            std::vector<std::string>{kProhibitedCommandMessage});
  form_->Execute(Action(kActionRunApp, "tool one, other \"two words\""));
  // Run and exit: the window closes, the program still starts.
  form_->Execute(Action(kActionRunAppAndExit, "last"));
  EXPECT_TRUE(form_->Closed());
  const std::vector<std::vector<std::string>> expected = {
      {"xdg-open", "http://example.org/x"},
      {"xdg-open", "https://example.org"},
      {"xdg-open", "mailto:someone@example.org"},
      {"tool", "one"},
      {"other", "two words"},
      {"last"}};
  EXPECT_EQ(spawned_, expected);
  // Addresses are not programs: only the two run actions asked.
  ASSERT_EQ(asks_.size(), 2u);
  ASSERT_EQ(asks_[0].size(), 2u);
  EXPECT_EQ(asks_[0][1].program, Bin("other"));
  EXPECT_EQ(asks_[0][1].arguments, std::vector<std::string>{"two words"});
}

TEST_F(MainForm, NoProgramStartsWithoutConsentWhichIsRememberedPerShow) {
  const std::string a = PackedShow(dir_, "a.lumshow", 2);
  const std::string b = PackedShow(dir_, "b.lumshow", 3);
  const std::string exitShow = PackedShow(dir_, "exit.lumshow", 2,
                                          "opt_runapponexit=1\nopt_runapponexitfn=tool bye\n"
                                          "opt_runapponexitiflastslide=0\n");
  consent_ = {false, false};
  Form();
  ASSERT_TRUE(Open(a));
  // Don't run: nothing starts, the show plays on unpaused, no message.
  form_->Execute(Action(kActionRunApp, "tool x"));
  ASSERT_EQ(asks_.size(), 1u);
  EXPECT_EQ(asks_[0][0].program, Bin("tool"));
  EXPECT_TRUE(spawned_.empty());
  EXPECT_FALSE(form_->Viewer().Paused());
  EXPECT_TRUE(form_->Status().messages.empty());
  // Run once; then run always for this show, which asks no more.
  consent_ = {true, false};
  form_->Execute(Action(kActionRunApp, "tool x"));
  consent_ = {true, true};
  form_->Execute(Action(kActionRunApp, "tool y"));
  consent_ = {false, false};
  form_->Execute(Action(kActionRunApp, "tool z"));
  EXPECT_EQ(asks_.size(), 3u);
  EXPECT_EQ(spawned_.size(), 3u);
  const std::string store = test::ReadFile(dir_ / "config/lumviewer/trusted-programs");
  EXPECT_EQ(store, FileSha256Hex(a) + "\t" + a + "\n");
  // Another show is asked for again; the first stays trusted in a new run.
  ASSERT_TRUE(Open(b));
  form_->Execute(Action(kActionRunApp, "tool b"));
  EXPECT_EQ(asks_.size(), 4u);
  EXPECT_EQ(spawned_.size(), 3u);
  Form();
  ASSERT_TRUE(Open(a));
  form_->Execute(Action(kActionRunApp, "tool again"));
  EXPECT_EQ(asks_.size(), 4u);
  EXPECT_EQ(spawned_.size(), 4u);
  // Run and exit asks before the window goes: a no closes it, nothing starts.
  Form();
  ASSERT_TRUE(Open(b));
  form_->Execute(Action(kActionRunAppAndExit, "last"));
  EXPECT_TRUE(form_->Closed());
  EXPECT_EQ(asks_.size(), 5u);
  EXPECT_EQ(spawned_.size(), 4u);
  // Run on exit asks too; a refused command is never offered.
  Form();
  ASSERT_TRUE(Open(exitShow));
  form_->Execute(Action(kActionRunApp, "tool, nohup tool"));
  EXPECT_EQ(form_->Status().messages, std::vector<std::string>{kProhibitedCommandMessage});
  form_->Execute(Action(kActionExit));
  EXPECT_TRUE(form_->Closed());
  ASSERT_EQ(asks_.size(), 6u);
  EXPECT_EQ(asks_[5][0].arguments, std::vector<std::string>{"bye"});
  EXPECT_EQ(spawned_.size(), 4u);
  // A kiosk started with -allowprograms is never asked.
  TPlayerOptions kiosk;
  kiosk.allowPrograms = true;
  Form(kiosk);
  ASSERT_TRUE(Open(b));
  form_->Execute(Action(kActionRunApp, "tool kiosk"));
  EXPECT_EQ(asks_.size(), 6u);
  ASSERT_EQ(spawned_.size(), 5u);
  EXPECT_EQ(spawned_[4], (std::vector<std::string>{"tool", "kiosk"}));
}

TEST_F(MainForm, StartUpModeEndsWithEnterAndDialogsHoldInputAndClosing) {
  const std::string a = PackedShow(dir_, "a.lumshow", 3, "opt_hidecursor=1\n");
  TPlayerOptions o;
  o.startupMode = true;
  Form(o);
  ASSERT_TRUE(Open(a));
  EXPECT_TRUE(form_->Status().cursorHidden);
  {
    // While a modal box is open nothing reaches the show and closing waits.
    TModalScope modal;
    form_->Key(vk::kReturn, 0, true);
    form_->Execute(Action(kActionExit));
    EXPECT_FALSE(form_->Close(0));
    EXPECT_FALSE(form_->Closed());
  }
  form_->Key(vk::kReturn, 0, true);
  EXPECT_TRUE(form_->Closed());
  EXPECT_EQ(form_->ExitCode(), 1);
}

TEST_F(MainForm, TheWindowAppearsWithTheFirstFrameInItsPlace) {
  const std::string a = PackedShow(dir_, "a.lumshow", 2);
  Form();
  TWindow& w = form_->Window();
  EXPECT_FALSE(w.Shown());
  ASSERT_TRUE(Open(a));
  const int64_t end = MsSinceStart() + 5000;
  while (!w.Shown() && MsSinceStart() < end) TWindowThread::Pump(5);
  ASSERT_TRUE(w.Shown());
  // Shown for its first frame, at the show's size, not a default one.
  EXPECT_TRUE(form_->Viewer().FirstFrameShown());
  EXPECT_EQ(w.ClientRect(), (TScreenRect{0, 0, 320, 240}));
}

TEST_F(MainForm, WheelFractionsAddUpToWholeNotches) {
  const std::string a = PackedShow(dir_, "a.lumshow", 80);
  Form();
  ASSERT_TRUE(Open(a));
  form_->SetPause(true);
  auto wheel = [&](float notches, int times) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = form_->Window().Id();
    e.wheel.preciseY = notches;
    for (int i = 0; i < times; ++i) form_->Window().HandleEvent(e);
    return form_->Viewer().Position();
  };
  // Towards the user is forward, 700 ms a notch.
  EXPECT_EQ(wheel(-0.01f, 10000), 70000);
  EXPECT_EQ(wheel(0.01f, 5050), 35000);  // half a notch is kept ...
  EXPECT_EQ(wheel(0.005f, 100), 34300);  // ... and makes one with another half
  // With Ctrl a notch towards the user is the next slide.
  SDL_SetModState(KMOD_LCTRL);
  EXPECT_EQ(wheel(-0.5f, 2), 35001);
  SDL_SetModState(KMOD_NONE);
}

TEST_F(MainForm, AFolderModeShowCanBeReturnedToAndReopened) {
  const std::string project = dir_.Write(
      "folder/Project.lum", test::SlideShowText(4, 1000, 0, false, -1, "", "LumVersion=5.6\n"));
  const std::string b = PackedShow(dir_, "b.lumshow", 2);
  TPlayerOptions o;
  o.folderMode = true;
  o.show = project;
  Form(o);
  std::string message;
  ASSERT_TRUE(form_->OpenShow(project, 3, {}, message, true)) << message;
  ASSERT_EQ(SlideShown(2), 2);
  form_->Execute(Action(kActionRunPresentationAndReturn, b));
  EXPECT_EQ(Show(), b);
  // Leaving the other show comes back to the project, where it was left.
  form_->Execute(Action(kActionExit));
  EXPECT_FALSE(form_->Closed());
  EXPECT_EQ(Show(), project);
  EXPECT_EQ(SlideShown(2), 2);
  // An action naming the project opens it as a project.
  form_->Execute(Action(kActionRunPresentation, b));
  EXPECT_EQ(Show(), b);
  form_->Execute(Action(kActionRunPresentation, project + " -slide 2"));
  EXPECT_EQ(Show(), project);
  EXPECT_EQ(SlideShown(1), 1);
  EXPECT_TRUE(form_->Status().messages.empty()) << form_->Status().messages[0];
}

}  // namespace
}  // namespace lum
