// lumviewer as a whole program, through its control socket: shows that open
// other shows and come back, programs a show runs (seen through a fake PATH
// that records what would have run), the password prompt, screen-saver runs
// and the instance lock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::Lumshow;
using test::TPlayer;
using test::TTempDir;

json Action(TPlayer& p, const std::string& text) {
  return p.Request({{"command", "action"}, {"text", text}});
}

json WaitFor(TPlayer& p, const std::function<bool(const json&)>& done, int ms = 5000) {
  return p.Expect(done, {}, ms);
}

json OnShow(TPlayer& p, const std::string& show, int slide) {
  return WaitFor(p, [&](const json& s) { return s["show"] == show && s["slide"] == slide; });
}

TEST(LumviewerProgram, ShowsOpenOtherShowsAndComeBackDownTheStack) {
  TTempDir dir;
  const std::string a = test::PackedShow(dir, "a.lumshow", 4);
  const std::string b = test::PackedShow(dir, "b.lumshow", 4);
  const std::string c = test::PackedShow(dir, "c show.lumshow", 3);
  TPlayer p(dir.Path(), a, {"-slide", "2"});
  START(p);
  OnShow(p, a, 1);
  ASSERT_EQ(Action(p, "runpresentationandreturn(\"b.lumshow\")")["ok"], true);
  OnShow(p, b, 0);
  ASSERT_EQ(Action(p, "gotoslide(4)")["ok"], true);
  OnShow(p, b, 3);
  // A quoted path with blanks and a start slide.
  ASSERT_EQ(Action(p, "runpresentationandreturn(\"\"" + c + "\" -slide 2\")")["ok"], true);
  json s = OnShow(p, c, 1);
  EXPECT_EQ(s["returnStack"], 2);
  // Exit goes back to the slide each show was left at, then ends the player.
  ASSERT_EQ(Action(p, "exit")["ok"], true);
  OnShow(p, b, 3);
  ASSERT_EQ(Action(p, "exit")["ok"], true);
  s = OnShow(p, a, 1);
  EXPECT_EQ(s["returnStack"], 0);
  EXPECT_EQ(s["messages"], json::array());
  ASSERT_EQ(Action(p, "exit")["ok"], true);
  for (int i = 0; i < 100 && p.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.Stop(), 0);
}

TEST(LumviewerProgram, AScreenSaverPlaysOnlyWithSlashSAndOnlyOnce) {
  TTempDir dir;
  const std::string saver = test::PackedShow(dir, "saver.scr", 2);
  // Without "/s" (a configure or preview call) it ends quietly.
  test::TCommandResult r = test::RunCommand({"/usr/bin/timeout", "20", LUMVIEWER_PATH, saver});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  TPlayer first(dir.Path(), saver, {"/s"});
  START(first);
  WaitFor(first, [](const json& s) { return s["active"] == true; });
  // A second copy of the same saver leaves the first alone.
  r = test::RunCommand({"/usr/bin/timeout", "20", LUMVIEWER_PATH, saver, "/s"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Stop(), 0);
}

json Dialog(TPlayer& p) {
  return p.Dialog(5000);
}

json Key(TPlayer& p, const std::string& key) {
  return p.Request({{"command", "key"}, {"key", key}});
}

TEST(LumviewerProgram, APasswordPromptGuardsAProtectedShow) {
  TTempDir dir;
  const std::string show = test::PackedShow(dir, "guarded.lumshow", 2,
                                            "opt_usepass=1\nopt_pass=Open Sesame\n"
                                            "opt_lng_password_caption=Members only\n");
  // The right password: the show plays.
  TPlayer right(dir.Path(), show);
  START(right);
  json d = Dialog(right);
  EXPECT_EQ(d["caption"], "Members only");
  EXPECT_EQ(d["texts"][0], "Enter password:");
  ASSERT_EQ(right.Request({{"command", "type"}, {"text", "Open Sesame"}})["ok"], true);
  ASSERT_EQ(Key(right, "Return")["ok"], true);
  json s = WaitFor(right, [](const json& s) { return s["active"] == true; });
  EXPECT_TRUE(s["dialog"].is_null());
  EXPECT_EQ(right.Stop(), 0);
  // A cancel: nothing plays and the player ends (a wrong password has a
  // test of its own with the start-up failures).
  TPlayer cancel(dir.Path(), show);
  START(cancel);
  Dialog(cancel);
  Key(cancel, "Escape");
  for (int i = 0; i < 100 && cancel.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(cancel.Running());
  EXPECT_EQ(cancel.Stop(), 1);
}

// A folder of programs standing in for the real ones (test::WriteRecorder).
std::string FakePath(const TTempDir& dir, const std::vector<std::string>& names) {
  for (const std::string& n : names) test::WriteRecorder(dir, "bin/" + n);
  return dir / "bin";
}

TEST(LumviewerProgram, ProgramsRunWithoutAShellAndProhibitedOnesNever) {
  TTempDir dir;
  const std::string show = test::PackedShow(dir, "a.lumshow", 2);
  const std::string bin = FakePath(dir, {"tool", "xdg-open", "cmd", "sh", "format"});
  const std::string record = dir / "record.txt";
  // Trusted without asking (the consent dialog has tests of its own); the
  // prohibited ones stay refused all the same.
  TPlayer p(dir.Path(), show, {"-allowprograms"},
            {"PATH=" + bin + ":/usr/bin:/bin", "RECORD=" + record});
  START(p);
  WaitFor(p, [](const json& s) { return s["active"] == true; });
  for (const std::string bad :
       {"runapp(\"cmd /c dir\")", "runapp(\"C:\\WINDOWS\\system32\\FORMAT.COM c:\")",
        "runapp(\"tool x, sh -c 'touch y'\")", "runapp(\"c|md /c dir\")", "runapp(\"@del x\")"}) {
    ASSERT_EQ(Action(p, bad)["ok"], true);
    json d = Dialog(p);
    EXPECT_EQ(d["caption"], "") << bad;
    EXPECT_EQ(d["texts"][0], "Command line contains prohibited command and will not be performed.");
    // The show's input waits for the box.
    Action(p, "runapp(\"tool never\")");
    ASSERT_EQ(Key(p, "Return")["ok"], true);
    WaitFor(p, [](const json& s) { return s["dialog"].is_null(); });
  }
  ASSERT_EQ(Action(p, "runapp(\"tool \"one two\", tool three\")")["ok"], true);
  ASSERT_EQ(Action(p, "openwebsite(\"example.org/a,b\")")["ok"], true);
  const std::vector<std::string> expected = {"tool [one two]", "tool [three]",
                                             "xdg-open [http://example.org/a,b]"};
  std::vector<std::string> got;
  for (int i = 0; i < 100 && got.size() < expected.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    got = test::SortedLines(test::ReadFile(record));
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(p.Stop(), 0);
}

TEST(LumviewerProgram, AMissingShowFromAnActionSaysSoAndTheShowPlaysOn) {
  TTempDir dir;
  const std::string show = test::PackedShow(dir, "a.lumshow", 2);
  TPlayer p(dir.Path(), show);
  START(p);
  ASSERT_EQ(Action(p, "runpresentation(\"gone.lumshow\")")["ok"], true);
  json d = Dialog(p);
  EXPECT_EQ(d["caption"], "Slideshow Error");
  EXPECT_EQ(d["texts"], json::array({"LumShow File not Found:", dir / "gone.lumshow", "OK"}));
  Key(p, "Return");
  json s = WaitFor(p, [](const json& s) { return s["dialog"].is_null() && s["active"] == true; });
  EXPECT_EQ(s["show"], show);
  EXPECT_EQ(p.Stop(), 0);
}

}  // namespace
}  // namespace lum
