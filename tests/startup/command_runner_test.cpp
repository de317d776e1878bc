// Running programs, web pages and mail for a show: the safety check, the
// split into file and argument vector, the not-found retries, and real starts
// through a PATH of recording scripts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "foundation/log.h"
#include "startup/command_runner.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TTempDir;
using Strings = std::vector<std::string>;

// Records every request; answers 0 unless fail says otherwise.
struct TFakeSpawn {
  std::vector<TSpawnRequest> requests;
  std::function<int(const TSpawnRequest&)> answer;
  TSpawnFunction Function() {
    return [this](const TSpawnRequest& r) {
      requests.push_back(r);
      return answer ? answer(r) : 0;
    };
  }
};

const Strings kWindowsWords = {
    "at",     "attrib",  "call",  "cmd",     "command",  "copy",     "del",    "deltree", "erase",
    "for",    "format",  "fdisk", "runonce", "move",     "net",      "runas",  "net1",    "ren",
    "rename", "replace", "rmdir", "rd",      "recover",  "regedit",  "rundll", "qstart",  "start",
    "sys",    "type",    "xcopy", "regsrv",  "regedt32", "regsvr32", "rcp",    "ftp",     "tftp"};
const Strings kPosixWords = {"sh",    "bash", "dash", "zsh", "env",    "sudo",  "su",    "rm",
                             "rmdir", "mv",   "cp",   "dd",  "mkfs",   "chmod", "chown", "curl",
                             "wget",  "nc",   "ssh",  "scp", "python", "perl"};

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Mixed(std::string s) {
  for (size_t i = 0; i < s.size(); i += 2)
    s[i] = char(std::toupper(static_cast<unsigned char>(s[i])));
  return s;
}

// The same word dressed up in the ways a show could try to slip it through.
Strings Disguises(const std::string& w) {
  const std::string rest = w.substr(1);
  return {w,
          Upper(w) + " /c dir",
          Mixed(w) + "\targ",
          R"(C:\WINDOWS\system32\)" + Upper(w) + ".EXE arg",
          "/usr/bin/" + w + " x",
          "./" + w,
          "\"" + w + "\" x",
          R"("C:\Program Files\)" + Mixed(w) + ".exe\" \"a b\"",
          "@" + w,
          "@ " + w + " x",
          w.substr(0, 1) + "|" + rest,
          "\"" + w.substr(0, 1) + "\"" + rest,
          w + ".bat",
          "viewer.exe a.txt, " + w + " x"};
}

void ExpectRefused(const std::string& text) {
  TFakeSpawn spawn;
  TCommandRunner runner("/nonexistent", spawn.Function());
  TRunResult r = runner.RunCommandLines(text);
  EXPECT_EQ(r.status, TRunResult::TStatus::Refused) << text;
  EXPECT_EQ(r.message, "Command line contains prohibited command and will not be performed.");
  EXPECT_TRUE(spawn.requests.empty()) << text;
}

TEST(CommandRunner, EveryProhibitedWordInEveryDisguiseRunsNothing) {
  for (const Strings* list : {&kWindowsWords, &kPosixWords}) {
    for (const std::string& w : *list) {
      for (const std::string& text : Disguises(w)) ExpectRefused(text);
    }
  }
}

TEST(CommandRunner, RedirectionsVersionsAndQuoteTricksAreRefused) {
  for (const char* text :
       {"viewer.exe a > b", "viewer.exe a>b", "\">\"", ">", "viewer, x >> y",
        R"(C:\WINDOWS\system32\FORMAT.COM C: /q)", R"("c:\windows\system32\format.com")",
        "cmd /c dir", "CMD.EXE", "python3 -c 'print(1)'", "/usr/bin/python3.11 x", "perl5.36",
        "mkfs.ext4 /dev/sda", "/bin/sh -c true",
        // The quote moves the file's end: the word reads "sh_-c", the file is sh.
        "s\"h -c\" x", "c\"md /c\" dir"}) {
    ExpectRefused(text);
  }
  EXPECT_EQ(CommandWord(R"("C:\Program Files\My App\run.exe" /x)"), "run");
  EXPECT_EQ(CommandWord("@\"c|m\"d.ExE"), "cmd");
}

TEST(CommandRunner, HarmlessCommandsPassTheCheck) {
  for (const char* text : {"formatter x", "notepad.exe readme.txt", "typewriter", "startup.exe",
                           R"("C:\Program Files\Viewer\viewer.exe" "a b")",
                           R"(C:\tools\cmdline-helper.exe)", "shx", "lumrec-a one"}) {
    EXPECT_FALSE(IsProhibitedCommand(text)) << text;
  }
}

TEST(CommandRunner, SplitsAtCommasOutsideQuotes) {
  EXPECT_EQ(SplitCommands(" a x ,b,  \"c,d\" e ,"), (Strings{"a x", "b", "\"c,d\" e"}));
  EXPECT_EQ(SplitCommands("\"a,b"), (Strings{"\"a,b"}));
  EXPECT_TRUE(SplitCommands(" , ,, ").empty());
}

TEST(CommandRunner, FileAndParameters) {
  TCommandParts p = SplitFileAndParameters(R"("C:\Program Files\app.exe"  -x "a b" )");
  EXPECT_EQ(p.file, R"("C:\Program Files\app.exe")");
  EXPECT_EQ(p.parameters, R"("-x a b")");
  EXPECT_EQ(ParameterVector(p.parameters), (Strings{"-x a b"}));
  p = SplitFileAndParameters("app   a  b");
  EXPECT_EQ(p.file, "app");
  EXPECT_EQ(p.parameters, "a  b");
  EXPECT_EQ(ParameterVector(p.parameters), (Strings{"a", "b"}));
  p = SplitFileAndParameters("\"no end quote x");
  EXPECT_EQ(p.file, "\"no end quote x\"");
  EXPECT_EQ(p.parameters, "");
  p = SplitFileAndParameters("ap\"p x\" y");
  EXPECT_EQ(p.file, "app");
  EXPECT_EQ(p.parameters, "\"x y\"");
}

TEST(CommandRunner, RetriesWithParametersStripOneQuotePair) {
  TFakeSpawn spawn;
  spawn.answer = [](const TSpawnRequest&) { return ENOENT; };
  TCommandRunner runner("/nonexistent", spawn.Function());
  EXPECT_EQ(runner.RunCommandLines("viewer \"my file.txt\"").status, TRunResult::TStatus::Failed);
  ASSERT_EQ(spawn.requests.size(), 2u);
  EXPECT_EQ(spawn.requests[0].argv, (Strings{"viewer", "my file.txt"}));
  EXPECT_EQ(spawn.requests[1].argv, (Strings{"viewer", "my", "file.txt"}));
  // Five characters or fewer, or nothing to strip: no retry.
  spawn.requests.clear();
  runner.RunCommandLines("viewer \"ab\"");
  runner.RunCommandLines("viewer abcdefgh");
  EXPECT_EQ(spawn.requests.size(), 2u);
}

TEST(CommandRunner, RetriesWithoutParametersLookInTheShowFolder) {
  TTempDir dir;
  const std::string show = dir.Path() + "/show";
  mkdir(show.c_str(), 0755);
  TFakeSpawn spawn;
  spawn.answer = [](const TSpawnRequest&) { return ENOTDIR; };
  TCommandRunner runner(show, spawn.Function());
  TRunResult r = runner.RunCommandLines(R"(Tools\run.exe)");
  EXPECT_EQ(r.status, TRunResult::TStatus::Failed);
  EXPECT_NE(r.message.find("run.exe"), std::string::npos) << r.message;
  ASSERT_EQ(spawn.requests.size(), 3u);
  EXPECT_EQ(spawn.requests[0].file, "Tools/run.exe");
  EXPECT_EQ(spawn.requests[1].file, "./run.exe");
  EXPECT_EQ(spawn.requests[1].workingFolder, show);
  EXPECT_EQ(spawn.requests[2].file, show + "/Tools/run.exe");
  EXPECT_EQ(spawn.requests[2].workingFolder, "");
}

TEST(CommandRunner, AFailedStartDoesNotStopTheOthers) {
  TFakeSpawn spawn;
  spawn.answer = [](const TSpawnRequest& r) {
    return r.file.find("bad") != std::string::npos ? EACCES : 0;
  };
  TCommandRunner runner("/nonexistent", spawn.Function());
  TRunResult r = runner.RunCommandLines("bad-tool, good-tool 1");
  EXPECT_EQ(r.status, TRunResult::TStatus::Failed);
  EXPECT_EQ(r.started, 1);
  EXPECT_NE(r.message.find("bad-tool"), std::string::npos);
  ASSERT_EQ(spawn.requests.size(), 2u);  // EACCES is no "not found": no retries
  EXPECT_EQ(spawn.requests[1].argv, (Strings{"good-tool", "1"}));
}

TEST(CommandRunner, Addresses) {
  // The scheme test is an exact prefix match.
  EXPECT_EQ(WebAddress(" http://example.com"), "http://example.com");
  EXPECT_EQ(WebAddress("HTTPS://example.com"), "http://HTTPS://example.com");
  TFakeSpawn spawn;
  TCommandRunner runner("/nonexistent", spawn.Function());
  // A comma in an address does not start a second program.
  EXPECT_EQ(runner.OpenWebPage("example.com/a,b c").status, TRunResult::TStatus::Ran);
  ASSERT_EQ(spawn.requests.size(), 1u);
  EXPECT_EQ(spawn.requests[0].argv, (Strings{"xdg-open", "http://example.com/a,b c"}));
  EXPECT_EQ(runner.OpenWebPage("example.com/a > b").status, TRunResult::TStatus::Refused);
  EXPECT_EQ(spawn.requests.size(), 1u);
}

// A line per run in the log.
class TCaptureLog : public TExclLog {
 public:
  Strings lines;

 protected:
  void Emit(std::string_view line) override { lines.emplace_back(line); }
};

TEST(CommandRunner, LogsEachRun) {
  auto log = std::make_unique<TCaptureLog>();
  TCaptureLog* lines = log.get();
  log->SetThreadIds(false);
  log->SetTimes(false);
  SetLog(std::move(log));
  TFakeSpawn spawn;
  TCommandRunner runner("/nonexistent", spawn.Function());
  runner.RunCommandLines("tool a, other");
  runner.RunCommandLines("cmd /c dir");
  runner.SendMail("x@y.example");
  SetLog(std::make_unique<TLog>());
  EXPECT_EQ(lines->lines, (Strings{"Run: tool a", "Run: other", "Run refused: cmd /c dir",
                                   "Open: mailto:x@y.example"}));
}

// Real starts through a PATH whose programs record their name, working
// folder and arguments, one line each.
class CommandRunnerSpawn : public testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    record_ = dir_ / "record.txt";
    bin_ = dir_.Path() + "/bin";
    show_ = dir_.Path() + "/show";
    for (const char* name : {"lumrec-a", "lumrec-b", "xdg-open", "cmd", "format.com", "python3"})
      Recorder(bin_ + "/" + name);
    Recorder(show_ + "/Runme");
    dir_.Write("show/docs/notes.txt", "text");
    dir_.Write("show/readme.txt", "text");
    setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
    char cwd[PATH_MAX];
    cwd_ = realpath(".", cwd) ? cwd : "";
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  void Recorder(const std::string& path) {
    dir_.Write(path.substr(dir_.Path().size() + 1),
               "#!/bin/sh\nline=\"${0##*/}|$(pwd -P)\"\nfor a in \"$@\"; do line=\"$line|$a\"; "
               "done\nprintf '%s\\n' \"$line\" >> '" +
                   record_ + "'\n");
    chmod(path.c_str(), 0755);
  }

  // The recorded lines, sorted, once n of them are there (or after 10 s).
  Strings Lines(size_t n) {
    Strings lines;
    for (int i = 0; i < 1000; ++i) {
      std::istringstream in(test::ReadFile(record_));
      lines.clear();
      for (std::string l; std::getline(in, l);) lines.push_back(l);
      if (lines.size() >= n) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  TTempDir dir_;
  std::string oldPath_, record_, bin_, show_, cwd_;
};

TEST_F(CommandRunnerSpawn, TwoHarmlessCommandsBothRun) {
  TCommandRunner runner(show_);
  TRunResult r = runner.RunCommandLines("lumrec-b x  y , lumrec-a one \"two words\"");
  EXPECT_EQ(r.status, TRunResult::TStatus::Ran);
  EXPECT_EQ(r.started, 2);
  EXPECT_EQ(Lines(2),
            (Strings{"lumrec-a|" + cwd_ + "|one two words", "lumrec-b|" + cwd_ + "|x|y"}));
}

TEST_F(CommandRunnerSpawn, ProhibitedCommandsNeverStart) {
  TCommandRunner runner(show_);
  for (const char* text : {"lumrec-a ok, cmd /c dir", R"(C:\WINDOWS\system32\FORMAT.COM C: /q)",
                           "format.com", "python3 -c x", "lumrec-a > out"}) {
    EXPECT_EQ(runner.RunCommandLines(text).status, TRunResult::TStatus::Refused) << text;
  }
  // Anything that had started would be recorded before this.
  EXPECT_EQ(runner.RunCommandLines("lumrec-b done").status, TRunResult::TStatus::Ran);
  EXPECT_EQ(Lines(1), (Strings{"lumrec-b|" + cwd_ + "|done"}));
}

TEST_F(CommandRunnerSpawn, NotFoundFilesAndDocuments) {
  TCommandRunner runner(show_);
  // Not on PATH: found in the show's folder (case-insensitively) and run there.
  EXPECT_EQ(runner.RunCommandLines("runme").status, TRunResult::TStatus::Ran);
  // Documents go to xdg-open: a Windows path resolved against the show's
  // folder, a relative one, and a bare name found by the retries.
  EXPECT_EQ(runner.RunCommandLines(R"(C:\Shows\Docs\Notes.TXT)").status, TRunResult::TStatus::Ran);
  EXPECT_EQ(runner.RunCommandLines(R"(docs\notes.txt)").started, 1);
  EXPECT_EQ(runner.RunCommandLines("readme.txt").started, 1);
  char real[PATH_MAX];
  const std::string showReal = realpath(show_.c_str(), real) ? real : "";
  Strings expected = {"Runme|" + showReal, "xdg-open|" + cwd_ + "|" + show_ + "/docs/notes.txt",
                      "xdg-open|" + cwd_ + "|" + show_ + "/docs/notes.txt",
                      "xdg-open|" + showReal + "|" + show_ + "/readme.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Lines(4), expected);
  TRunResult r = runner.RunCommandLines("no-such-program-here arg");
  EXPECT_EQ(r.status, TRunResult::TStatus::Failed);
  EXPECT_EQ(r.started, 0);
}

TEST_F(CommandRunnerSpawn, WebAndMailGoToXdgOpenAsOneArgument) {
  TCommandRunner runner(show_);
  EXPECT_EQ(runner.OpenWebPage("example.com/a,b?q=1 2").status, TRunResult::TStatus::Ran);
  EXPECT_EQ(runner.OpenWebPage("https://example.com/").status, TRunResult::TStatus::Ran);
  EXPECT_EQ(runner.SendMail("someone@example.com").status, TRunResult::TStatus::Ran);
  EXPECT_EQ(runner.SendMail("mailto:x@example.com?subject=a b").status, TRunResult::TStatus::Ran);
  const std::string p = "xdg-open|" + cwd_ + "|";
  EXPECT_EQ(Lines(4),
            (Strings{p + "http://example.com/a,b?q=1 2", p + "https://example.com/",
                     p + "mailto:someone@example.com", p + "mailto:x@example.com?subject=a b"}));
}

}  // namespace
}  // namespace lum
