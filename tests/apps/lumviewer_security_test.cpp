// Hostile shows played through lumviewer's control socket: whatever a show's
// actions, slides or run-on-exit rule try, no program starts without the
// user's consent, and the disguises of a shell are refused outright. What
// would run is seen through a fake PATH whose programs record their name and
// arguments; a marker file and a victim folder show that nothing else ran.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "foundation/paths.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;
using test::TTempDir;

constexpr const char* kProhibited =
    "Command line contains prohibited command and will not be performed.";

std::string Real(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? buf : "";
}

class LumviewerSecurity : public ::testing::Test {
 protected:
  // Recorders for every program a disguise names, a harmless name that is a
  // shell underneath, and files of the show's folder.
  void SetUp() override {
    for (const char* n : {"tool",
                          "xdg-open",
                          "nohup",
                          "setsid",
                          "timeout",
                          "nice",
                          "xargs",
                          "find",
                          "script",
                          "rbash",
                          "ruby",
                          "node",
                          "php",
                          "awk",
                          "tar",
                          "git",
                          "x-terminal-emulator",
                          "xterm",
                          "gnome-terminal",
                          "konsole",
                          "systemd-run",
                          "pkexec"})
      Recorder("bin/" + std::string(n));
    Recorder("real/dash");
    symlink("../real/dash", (dir / "bin/pretty").c_str());
    Recorder("Runme");
    dir.Write("notes.txt", "notes");
    dir.Write("Setup.desktop", "[Desktop Entry]\nExec=sh\n");
    dir.Write("victim/keep.txt", "keep");
    env = {"PATH=" + (dir / "bin") + ":/usr/bin:/bin", "RECORD=" + (dir / "record.txt"),
           "XDG_CONFIG_HOME=" + (dir / "config"), "HOME=" + (dir / "home")};
  }

  void Recorder(const std::string& name) { test::WriteRecorder(dir, name); }

  json WaitFor(TPlayer& p, const std::function<bool(const json&)>& done, int ms = 8000) {
    return p.Expect(done, {}, ms);
  }
  json Dialog(TPlayer& p) { return p.Dialog(8000); }
  void NoDialog(TPlayer& p) {
    WaitFor(p, [](const json& s) { return s["dialog"].is_null(); });
  }
  void Key(TPlayer& p, const std::string& key, const std::vector<std::string>& mods = {}) {
    json r{{"command", "key"}, {"key", key}};
    if (!mods.empty()) r["mods"] = mods;
    ASSERT_EQ(p.Request(r)["ok"], true) << key;
  }
  void Action(TPlayer& p, const std::string& text) {
    ASSERT_EQ(p.Request({{"command", "action"}, {"text", text}})["ok"], true) << text;
  }
  // What the recorders wrote, sorted (programs started together finish in
  // any order), once `last` is there (when given) and a moment longer for
  // anything started before it.
  std::vector<std::string> Recorded(const std::string& last) {
    std::string text;
    for (int i = 0; i < 200 && !last.empty() && text.find(last + "\n") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      text = test::ReadFile(dir / "record.txt");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    text = test::ReadFile(dir / "record.txt");
    return test::SortedLines(text);
  }
  void Ended(TPlayer& p) {
    for (int i = 0; i < 200 && p.Running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_FALSE(p.Running()) << p.LogTail();
    EXPECT_EQ(p.Stop(), 0);
  }
  // The consent dialog's answer: Don't run has the focus, Run is left of it,
  // the check box before both.
  void Answer(TPlayer& p, const std::string& how) {
    if (how == "run") {
      Key(p, "tab", {"shift"});
    } else if (how == "always") {
      Key(p, "tab");
      Key(p, "space");
      EXPECT_EQ(Dialog(p)["checkBoxes"][0]["checked"], true);
      Key(p, "tab");
    }
    Key(p, how == "escape" ? "escape" : "return");
    NoDialog(p);
  }

  TTempDir dir;
  std::vector<std::string> env;
};

TEST_F(LumviewerSecurity, EveryDisguiseOfAShellIsRefusedWithoutAsking) {
  const std::string show = test::PackedShow(dir, "a.lumshow", 2);
  const std::string marker = dir / "PWNED", victim = dir / "victim";
  TPlayer p(dir.Path(), show, {}, env);
  START(p);
  WaitFor(p, [](const json& s) { return s["active"] == true; });
  for (const std::string& text :
       {"nohup sh -c touch${IFS}" + marker, std::string("setsid tool"),
        "timeout 5 sh -c \"touch " + marker + "\"", std::string("nice bash -c tool"),
        "xargs -a " + victim + "/keep.txt rm", "find " + victim + " -exec rm {} ;",
        "/usr/bin/find " + victim + " -delete", std::string("script -qc tool /dev/null"),
        "/lib64/ld-linux-x86-64.so.2 /bin/sh -c touch${IFS}" + marker, std::string("rbash -c x"),
        std::string("ruby -e x"), std::string("node -e x"), std::string("php -r x"),
        std::string("awk BEGIN{}"), std::string("tar -cf x y --checkpoint-action=exec=tool"),
        std::string("git -c core.pager=tool log"), std::string("x-terminal-emulator -e tool"),
        std::string("gnome-terminal -- tool"), std::string("konsole -e tool"),
        std::string("xterm -e tool"), std::string("systemd-run --user tool"),
        std::string("pkexec tool"), std::string("pretty -c tool"),
        std::string("tool --exec=/bin/sh"), std::string("tool ok, sh -c x"),
        // Launchers and programs of the show's own (download) folder.
        std::string("Setup.desktop"), std::string("Runme")}) {
    for (const char* action : {"runapp", "runappandexit"}) {
      // Run and exit closes even after a refusal: only the last one tries it.
      if (std::string(action) == "runappandexit" && text != "Runme") continue;
      Action(p, std::string(action) + "(\"" + text + "\")");
      const json d = Dialog(p);
      EXPECT_EQ(d["caption"], "") << text;
      EXPECT_EQ(d["texts"][0], kProhibited) << text;
      EXPECT_EQ(d["buttons"], json::array({"OK"})) << text;
      Key(p, "return");
      if (std::string(action) == "runapp") NoDialog(p);
    }
  }
  Ended(p);
  EXPECT_EQ(Recorded(""), std::vector<std::string>{});
  EXPECT_FALSE(FileExists(marker));
  EXPECT_TRUE(FileExists(victim + "/keep.txt"));
}

TEST_F(LumviewerSecurity, TheConsentDialogSaysWhatRunsAndDoesWhatItsButtonsSay) {
  const std::string a = test::PackedShow(dir, "a.lumshow", 2);
  const std::string b = test::PackedShow(dir, "b.lumshow", 3);
  TPlayer p(dir.Path(), a, {}, env);
  START(p);
  WaitFor(p, [](const json& s) { return s["active"] == true; });
  // What would run, resolved, with its arguments; the show waits.
  Action(p, "runapp(\"tool one \"two words\"\")");
  json d = Dialog(p);
  EXPECT_EQ(d["caption"], "Run a program?");
  const json texts = d["texts"];
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Program: " + Real(dir / "bin/tool")),
            texts.end())
      << d.dump();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Arguments: \"one two words\""), texts.end())
      << d.dump();
  EXPECT_EQ(d["buttons"], json::array({"Run", "Don't run"}));
  EXPECT_EQ(d["checkBoxes"], json::parse(R"([{"text":"Always for this show","checked":false}])"));
  EXPECT_EQ(p.Status()["paused"], true);
  Answer(p, "return");  // Don't run is the default
  EXPECT_EQ(p.Status()["paused"], false) << "the show plays on";
  Action(p, "runapp(\"tool escaped\")");
  Dialog(p);
  Answer(p, "escape");
  // A document needs consent too; a web page and mail do not.
  Action(p, "runapp(\"notes.txt\")");
  d = Dialog(p);
  EXPECT_EQ(d["texts"][1], "Program: " + Real(dir / "bin/xdg-open"));
  EXPECT_EQ(d["texts"][2], "Arguments: " + Real(dir / "notes.txt"));
  Answer(p, "run");
  Action(p, "openwebsite(\"example.org\")");
  Action(p, "writeemail(\"a@example.org?attach=/etc/passwd&subject=Hi\")");
  Action(p, "runapp(\"tool once\")");
  Dialog(p);
  Answer(p, "run");
  // Always for this show: asked no more, in this run or the next.
  Action(p, "runapp(\"tool always\")");
  Dialog(p);
  Answer(p, "always");
  Action(p, "runapp(\"tool trusted\")");
  std::vector<std::string> ran = {"xdg-open [" + Real(dir / "notes.txt") + "]",
                                  "xdg-open [http://example.org]",
                                  "xdg-open [mailto:a@example.org?subject=Hi]",
                                  "tool [once]",
                                  "tool [always]",
                                  "tool [trusted]"};
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(Recorded("tool [trusted]"), ran);
  EXPECT_TRUE(p.Status()["dialog"].is_null());
  EXPECT_EQ(p.Stop(), 0);
  TPlayer again(dir.Path(), a, {}, env);
  START(again);
  Action(again, "runapp(\"tool next run\")");
  ran.push_back("tool [next] [run]");
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(Recorded("tool [next] [run]"), ran);
  EXPECT_TRUE(again.Status()["dialog"].is_null());
  // Another show is still asked for.
  ASSERT_EQ(again.Request({{"command", "open"}, {"show", b}})["ok"], true);
  Action(again, "runapp(\"tool b\")");
  Dialog(again);
  Answer(again, "return");
  EXPECT_EQ(again.Stop(), 0);
  // A kiosk's -allowprograms runs without asking.
  TPlayer kiosk(dir.Path(), b, {"-allowprograms"}, env);
  START(kiosk);
  Action(kiosk, "runapp(\"tool kiosk\")");
  ran.push_back("tool [kiosk]");
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(Recorded("tool [kiosk]"), ran) << "tool [b] never ran";
  EXPECT_TRUE(kiosk.Status()["dialog"].is_null());
  EXPECT_EQ(kiosk.Stop(), 0);
}

TEST_F(LumviewerSecurity, ShowsThatEndByThemselvesAskBeforeRunningOnExit) {
  // The zero-click attempt: refused with its message, then the player ends.
  const std::string marker = dir / "PWNED";
  const std::string hostile = test::PackedShow(dir, "hostile.lumshow", 2,
                                               "opt_repeat=close\nopt_runapponexit=1\n"
                                               "opt_runapponexitfn=nohup sh -c touch${IFS}" +
                                                   marker + "\n");
  TPlayer p(dir.Path(), hostile, {}, env);
  START(p);
  EXPECT_EQ(Dialog(p)["texts"][0], kProhibited);
  Key(p, "return");
  Ended(p);
  // A harmless-looking one asks; no answer but Run starts it.
  const std::string quiet = test::PackedShow(dir, "quiet.lumshow", 2,
                                             "opt_repeat=close\nopt_runapponexit=1\n"
                                             "opt_runapponexitfn=tool at-exit\n");
  for (const char* how : {"escape", "run"}) {
    TPlayer q(dir.Path(), quiet, {}, env);
    START(q);
    const json d = Dialog(q);
    EXPECT_EQ(d["texts"][1], "Program: " + Real(dir / "bin/tool")) << d.dump();
    // The player ends as the dialog goes: no waiting for it to be gone.
    if (std::string(how) == "run") Key(q, "tab", {"shift"});
    Key(q, how == std::string("run") ? "return" : "escape");
    Ended(q);
  }
  EXPECT_EQ(Recorded("tool [at-exit]"), std::vector<std::string>{"tool [at-exit]"});
  EXPECT_FALSE(FileExists(marker));
}

TEST_F(LumviewerSecurity, ProgramsOfSlidesAskToo) {
  const std::string show = test::PackedShow(
      dir, "slides.lumshow", 3, "opt_repeat=stop\n",
      {"", "Pers_RunApp=1\nRunAppFN=tool slide2\n", "Pers_RunApp=1\nRunAppFN=setsid tool\n"});
  TPlayer p(dir.Path(), show, {}, env);
  START(p);
  json d = Dialog(p);
  EXPECT_EQ(d["caption"], "Run a program?");
  EXPECT_EQ(d["texts"][2], "Arguments: slide2");
  Answer(p, "run");
  EXPECT_EQ(Dialog(p)["texts"][0], kProhibited) << "the third slide's disguise";
  Key(p, "return");
  NoDialog(p);
  EXPECT_EQ(Recorded("tool [slide2]"), std::vector<std::string>{"tool [slide2]"});
  EXPECT_EQ(p.Stop(), 0);
}

}  // namespace
}  // namespace lum
