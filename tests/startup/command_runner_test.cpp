// Running programs, web pages and mail for a show: the safety check over
// every word and over the program exec would really start, finding programs
// (never by bare name in the show's folder) and documents (never a
// launcher), the user's consent before anything starts, and real starts
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
using TStatus = TRunResult::TStatus;

// Records every request; answers 0 unless answer says otherwise.
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

TConsentFunction Yes() {
  return [](const std::vector<TLaunch>&) { return true; };
}

std::string Real(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? buf : "";
}

const Strings kWindowsWords = {
    "at",     "attrib",  "call",  "cmd",     "command",  "copy",     "del",    "deltree", "erase",
    "for",    "format",  "fdisk", "runonce", "move",     "net",      "runas",  "net1",    "ren",
    "rename", "replace", "rmdir", "rd",      "recover",  "regedit",  "rundll", "qstart",  "start",
    "sys",    "type",    "xcopy", "regsrv",  "regedt32", "regsvr32", "rcp",    "ftp",     "tftp"};
// Shells, wrappers, launchers, terminals, interpreters, file and system tools.
const Strings kPosixWords = {"sh",
                             "bash",
                             "rbash",
                             "dash",
                             "zsh",
                             "ksh",
                             "fish",
                             "busybox",
                             "env",
                             "nohup",
                             "setsid",
                             "timeout",
                             "nice",
                             "ionice",
                             "stdbuf",
                             "xargs",
                             "find",
                             "script",
                             "sudo",
                             "su",
                             "doas",
                             "pkexec",
                             "systemd-run",
                             "xdg-open",
                             "gio",
                             "xterm",
                             "konsole",
                             "gnome-terminal",
                             "x-terminal-emulator",
                             "xfce4-terminal",
                             "ruby",
                             "node",
                             "php",
                             "lua",
                             "tclsh",
                             "awk",
                             "gawk",
                             "mawk",
                             "sed",
                             "perl",
                             "python",
                             "tar",
                             "git",
                             "rsync",
                             "truncate",
                             "shred",
                             "unlink",
                             "ln",
                             "kill",
                             "systemctl",
                             "rm",
                             "mv",
                             "cp",
                             "dd",
                             "mkfs",
                             "chmod",
                             "chown",
                             "curl",
                             "wget",
                             "nc",
                             "ssh",
                             "scp"};

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Mixed(std::string s) {
  for (size_t i = 0; i < s.size(); i += 2)
    s[i] = char(std::toupper(static_cast<unsigned char>(s[i])));
  return s;
}

// The same word dressed up in the ways a show could try to slip it through:
// as the program, and as an argument of a harmless one.
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
          w + (std::isdigit(static_cast<unsigned char>(w.back())) ? "" : "2.7") + " x",
          "viewer.exe a.txt, " + w + " x",
          "viewer " + w + " -c x",
          "viewer --run=/usr/bin/" + w,
          "viewer \"a b\" '" + Upper(w) + "'",
          "viewer x:" + w + "/"};
}

void ExpectRefused(const std::string& text) {
  TFakeSpawn spawn;
  int asked = 0;
  TCommandRunner runner("/nonexistent", spawn.Function(), [&](const std::vector<TLaunch>&) {
    ++asked;
    return true;
  });
  TRunResult r = runner.RunCommandLines(text);
  EXPECT_EQ(r.status, TStatus::Refused) << text;
  EXPECT_EQ(r.message, "Command line contains prohibited command and will not be performed.");
  EXPECT_TRUE(spawn.requests.empty()) << text;
  EXPECT_EQ(asked, 0) << "a refused command was offered: " << text;
}

TEST(CommandRunner, EveryProhibitedWordInEveryDisguiseRunsNothing) {
  for (const Strings* list : {&kWindowsWords, &kPosixWords}) {
    for (const std::string& w : *list) {
      EXPECT_TRUE(IsProhibitedWord(w)) << w;
      for (const std::string& text : Disguises(w)) ExpectRefused(text);
    }
  }
}

TEST(CommandRunner, TheDisguisesOfHostileShowsAreRefused) {
  for (const char* text :
       {// Found to run before the check looked at every word.
        "nohup sh -c touch${IFS}PWNED", "setsid tool", "timeout 5 sh -c \"touch x\"",
        "nice bash -c x", "xargs -a list rm", "find /home/u -exec rm {} ;",
        "find /home/u/Photos -delete", "script -qc \"touch x\" /dev/null",
        "/lib64/ld-linux-x86-64.so.2 /bin/sh -c x", "/lib/ld-linux-aarch64.so.1 x", "rbash",
        "ruby -e x", "node -e x", "nodejs -e x", "php -r x", "php8.2 -r x",
        "awk \"BEGIN{system(1)}\"", "tar -cf /dev/null x --checkpoint-action=exec=touch",
        "git -c core.pager=x log", "x-terminal-emulator -e x", "gnome-terminal -- x",
        "systemd-run --user x", "pkexec x",
        // Versions, loaders and arguments that start a program themselves.
        "python3.11 -c x", "/usr/bin/python3 x", "gawk-5.2 x", "lua5.4 x", "perl5.36 x",
        "tclsh8.6 x", "busybox sh", "viewer --exec=/bin/sh", "viewer -e \"sh -c x\"", "viewer x;sh",
        "viewer $(sh)", "viewer `sh`", "viewer !sh",
        // The system's own: redirections and quote tricks.
        "viewer.exe a > b", "viewer.exe a>b", "\">\"", ">", "viewer, x >> y",
        R"(C:\WINDOWS\system32\FORMAT.COM C: /q)", R"("c:\windows\system32\format.com")",
        "mkfs.ext4 /dev/sda", "s\"h -c\" x", "c\"md /c\" dir",
        // Control characters could hide a word or cut a name short.
        "viewer\x01 x", "viewer a\nb", "viewer \x7f"}) {
    ExpectRefused(text);
  }
  EXPECT_EQ(CommandWord(R"("C:\Program Files\My App\run.exe" /x)"), "run");
  EXPECT_EQ(CommandWord("@\"c|m\"d.ExE"), "cmd");
  ExpectRefused(std::string("viewer x\0sh", 11));
  // More commands than one text may start.
  std::string many;
  for (size_t i = 0; i <= kMaxCommands; ++i) many += "viewer " + std::to_string(i) + ",";
  ExpectRefused(many);
}

TEST(CommandRunner, HarmlessCommandsPassTheCheck) {
  for (const char* text :
       {"formatter x", "notepad.exe readme.txt", "typewriter", "startup.exe",
        R"("C:\Program Files\Viewer\viewer.exe" "a b")", R"(C:\tools\cmdline-helper.exe)", "shx",
        "lumrec-a one", "viewer \"my file.txt\" --page=3", "eog photo.jpg", "evince manual.pdf",
        "vlc --fullscreen clip.mp4", "shotwell", "Slides\\Extra\\presenter.exe -x 2"}) {
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

TEST(CommandRunner, AddressesAndMailFields) {
  // The scheme test is an exact prefix match.
  EXPECT_EQ(WebAddress(" http://example.com"), "http://example.com");
  EXPECT_EQ(WebAddress("HTTPS://example.com"), "http://HTTPS://example.com");
  EXPECT_EQ(WebAddress("file:///etc/passwd"), "http://file:///etc/passwd");
  // Only to, cc, bcc, subject and body reach the mail program.
  const std::pair<const char*, const char*> mail[] = {
      {"a@example.com", "mailto:a@example.com"},
      {"mailto:a@example.com?subject=Hi&body=Text", "mailto:a@example.com?subject=Hi&body=Text"},
      {"a@x.org?attach=/home/u/.ssh/id_rsa&subject=Hi", "mailto:a@x.org?subject=Hi"},
      {"a@x.org?ATTACH=f&Attachment=g&%61ttach=h&x-header=1&CC=b@x.org",
       "mailto:a@x.org?cc=b@x.org"},
      {"a@x.org?subject=a;attach=f&body=b?attach=g#attach=h",
       "mailto:a@x.org?subject=a%3Battach=f&body=b%3Fattach=g%23attach=h"},
      {"a@x.org?to=b@x.org&bcc=c@x.org&body", "mailto:a@x.org?to=b@x.org&bcc=c@x.org&body"},
      {"a@x.org?attach=f", "mailto:a@x.org"}};
  for (const auto& [text, expected] : mail) EXPECT_EQ(MailAddress(text), expected) << text;
}

// A temporary PATH of recording programs, and a show folder beside it.
class CommandRunnerFiles : public testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    record_ = dir_ / "record.txt";
    bin_ = dir_.Path() + "/bin";
    show_ = dir_.Path() + "/show";
    for (const char* name : {"lumrec-a", "lumrec-b", "xdg-open", "viewer"})
      Recorder(bin_ + "/" + name);
    // A harmless name that is a shell underneath.
    Recorder(dir_.Path() + "/real/dash");
    symlink("../real/dash", (bin_ + "/pretty").c_str());
    Recorder(show_ + "/Runme");
    Recorder(show_ + "/Tools/run.exe");
    dir_.Write("show/docs/notes.txt", "text");
    dir_.Write("show/readme.txt", "text");
    dir_.Write("show/Setup.desktop", "[Desktop Entry]\nExec=sh\n");
    dir_.Write("show/script.txt", "#!/bin/sh\ntouch x\n");
    dir_.Write("show/program.pdf",
               "\x7f"
               "ELF\x02\x01\x01");
    dir_.Write("show/setup.txt", "MZ\x90");
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

TEST_F(CommandRunnerFiles, ProgramsAreResolvedAsExecWouldAndTheRealNameIsChecked) {
  EXPECT_EQ(ResolveProgram("lumrec-a"), Real(bin_ + "/lumrec-a"));
  EXPECT_EQ(ResolveProgram(bin_ + "/lumrec-a"), Real(bin_ + "/lumrec-a"));
  EXPECT_EQ(ResolveProgram("pretty"), Real(dir_ / "real/dash"));
  EXPECT_EQ(ResolveProgram("no-such-program"), "");
  EXPECT_EQ(ResolveProgram(show_ + "/docs/notes.txt"), "") << "not executable";
  // The show's folder on PATH is passed over.
  setenv("PATH", (show_ + ":" + bin_).c_str(), 1);
  EXPECT_EQ(ResolveProgram("Runme"), Real(show_ + "/Runme"));
  EXPECT_EQ(ResolveProgram("Runme", show_), "");
  // A harmless name or path that is a shell underneath, and the real names.
  setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
  ExpectRefused("pretty -c x");
  ExpectRefused(bin_ + "/pretty");
  for (const char* system : {"/usr/bin/rbash", "/usr/bin/awk", "/usr/bin/x-terminal-emulator"})
    if (access(system, X_OK) == 0) {
      EXPECT_TRUE(IsProhibitedCommand(system)) << system;
    }
}

TEST_F(CommandRunnerFiles, ThePlanNamesWhatWouldStartAndNothingStartsWithoutConsent) {
  TFakeSpawn spawn;
  std::vector<TLaunch> offered;
  bool answer = false;
  TCommandRunner runner(show_, spawn.Function(), [&](const std::vector<TLaunch>& launches) {
    offered = launches;
    return answer;
  });
  const std::string text =
      "lumrec-a one \"two words\", docs\\notes.txt, " + show_ + "/Tools/run.exe";
  EXPECT_EQ(runner.RunCommandLines(text).status, TStatus::Declined);
  EXPECT_TRUE(spawn.requests.empty());
  ASSERT_EQ(offered.size(), 3u);
  EXPECT_EQ(offered[0].request.file, Real(bin_ + "/lumrec-a"));
  // Parameters with quotes are one, as the shell's verb would get them.
  EXPECT_EQ(offered[0].request.argv, (Strings{"lumrec-a", "one two words"}));
  EXPECT_FALSE(offered[0].document);
  EXPECT_EQ(offered[1].request.file, Real(bin_ + "/xdg-open"));
  EXPECT_EQ(offered[1].request.argv, (Strings{"xdg-open", Real(show_ + "/docs/notes.txt")}));
  EXPECT_TRUE(offered[1].document);
  EXPECT_EQ(offered[2].request.file, Real(show_ + "/Tools/run.exe"));
  // No consent at all is a no.
  EXPECT_EQ(TCommandRunner(show_, spawn.Function()).RunCommandLines("lumrec-a").status,
            TStatus::Declined);
  EXPECT_TRUE(spawn.requests.empty());
  answer = true;
  const TRunResult r = runner.RunCommandLines(text);
  EXPECT_EQ(r.status, TStatus::Ran);
  EXPECT_EQ(r.started, 3);
  ASSERT_EQ(spawn.requests.size(), 3u);
  EXPECT_EQ(spawn.requests[0].file, offered[0].request.file) << "what starts is what was shown";
}

TEST_F(CommandRunnerFiles, TheShowsFolderLendsDocumentsByBareNameButNeverProgramsOrLaunchers) {
  TFakeSpawn spawn;
  TCommandRunner runner(show_, spawn.Function(), Yes());
  // A bare program name only ever comes from PATH.
  for (const char* text : {"Runme", "runme", "run.exe"}) {
    const TRunResult r = runner.RunCommandLines(text);
    EXPECT_NE(r.status, TStatus::Ran) << text;
  }
  EXPECT_EQ(runner.RunCommandLines("Runme").status, TStatus::Refused) << "executable in the folder";
  EXPECT_TRUE(spawn.requests.empty());
  // A document by bare name, a folder, or a program with its folder part.
  EXPECT_EQ(runner.RunCommandLines("README.TXT").status, TStatus::Ran);
  EXPECT_EQ(runner.RunCommandLines(R"(C:\Shows\Tools\RUN.EXE -x)").status, TStatus::Ran);
  EXPECT_EQ(runner.RunCommandLines(show_ + "/docs/").status, TStatus::Ran);
  ASSERT_EQ(spawn.requests.size(), 3u);
  EXPECT_EQ(spawn.requests[0].argv, (Strings{"xdg-open", Real(show_ + "/readme.txt")}));
  EXPECT_EQ(spawn.requests[1].file, Real(show_ + "/Tools/run.exe"));
  EXPECT_EQ(spawn.requests[1].argv, (Strings{R"(C:\Shows\Tools\RUN.EXE)", "-x"}));
  EXPECT_EQ(spawn.requests[2].argv, (Strings{"xdg-open", Real(show_ + "/docs")}));
  // Launchers never reach xdg-open: by extension, contents or execute bit.
  symlink((show_ + "/Setup.desktop").c_str(), (show_ + "/notes-link.txt").c_str());
  for (const char* doc : {"Setup.desktop", "script.txt", "program.pdf", "setup.txt",
                          "notes-link.txt", "docs\\..\\Setup.desktop"}) {
    EXPECT_EQ(runner.RunCommandLines(doc).status, TStatus::Refused) << doc;
    EXPECT_TRUE(IsProhibitedCommand(doc, show_)) << doc;
  }
  for (const char* ext : {"a.sh", "a.py", "a.jar", "a.AppImage", "a.desktop", "a.exe", "a.run"})
    EXPECT_TRUE(IsLauncherDocument(dir_.Write(std::string("doc/") + ext, "text"))) << ext;
  EXPECT_TRUE(IsLauncherDocument(show_ + "/Runme")) << "execute bit";
  EXPECT_FALSE(IsLauncherDocument(show_ + "/readme.txt"));
  EXPECT_FALSE(IsLauncherDocument(show_ + "/docs"));
  EXPECT_EQ(spawn.requests.size(), 3u);
}

TEST_F(CommandRunnerFiles, MissingProgramsFailQuietlyAndOthersStillRun) {
  TFakeSpawn spawn;
  spawn.answer = [](const TSpawnRequest& r) { return r.argv[0] == "lumrec-b" ? EACCES : 0; };
  TCommandRunner runner(show_, spawn.Function(), Yes());
  TRunResult r = runner.RunCommandLines("no-such-tool x, lumrec-b, lumrec-a 1");
  EXPECT_EQ(r.status, TStatus::Failed);
  EXPECT_EQ(r.started, 1);
  EXPECT_NE(r.message.find("no-such-tool"), std::string::npos) << r.message;
  ASSERT_EQ(spawn.requests.size(), 2u);
  EXPECT_EQ(spawn.requests[1].argv, (Strings{"lumrec-a", "1"}));
  // Nothing that could start: nobody is asked.
  int asked = 0;
  TCommandRunner counting(show_, spawn.Function(),
                          [&](const std::vector<TLaunch>&) { return ++asked > 0; });
  EXPECT_EQ(counting.RunCommandLines(R"(C:\Gone\tool.exe, missing)").status, TStatus::Failed);
  EXPECT_EQ(asked, 0);
}

TEST_F(CommandRunnerFiles, AddressesGoToXdgOpenAsOneArgumentWithoutAsking) {
  TFakeSpawn spawn;
  TCommandRunner runner(show_, spawn.Function());
  // A comma in an address does not start a second program.
  EXPECT_EQ(runner.OpenWebPage("example.com/a,b c").status, TStatus::Ran);
  EXPECT_EQ(runner.SendMail("a@example.com?attach=/etc/passwd").status, TStatus::Ran);
  ASSERT_EQ(spawn.requests.size(), 2u);
  EXPECT_EQ(spawn.requests[0].file, Real(bin_ + "/xdg-open"));
  EXPECT_EQ(spawn.requests[0].argv, (Strings{"xdg-open", "http://example.com/a,b c"}));
  EXPECT_EQ(spawn.requests[1].argv, (Strings{"xdg-open", "mailto:a@example.com"}));
  EXPECT_EQ(runner.OpenWebPage("example.com/a > b").status, TStatus::Refused);
  EXPECT_EQ(spawn.requests.size(), 2u);
}

// A line per run in the log.
class TCaptureLog : public TExclLog {
 public:
  Strings lines;

 protected:
  void Emit(std::string_view line) override { lines.emplace_back(line); }
};

TEST_F(CommandRunnerFiles, LogsEachRun) {
  auto log = std::make_unique<TCaptureLog>();
  TCaptureLog* lines = log.get();
  log->SetThreadIds(false);
  log->SetTimes(false);
  SetLog(std::move(log));
  TFakeSpawn spawn;
  TCommandRunner runner(show_, spawn.Function(), Yes());
  runner.RunCommandLines("lumrec-a a, lumrec-b");
  runner.RunCommandLines("cmd /c dir");
  TCommandRunner(show_, spawn.Function()).RunCommandLines("lumrec-a");
  runner.SendMail("x@y.example");
  SetLog(std::make_unique<TLog>());
  EXPECT_EQ(lines->lines, (Strings{"Run: " + Real(bin_ + "/lumrec-a") + " a",
                                   "Run: " + Real(bin_ + "/lumrec-b"), "Run refused: cmd /c dir",
                                   "Run declined: lumrec-a", "Open: mailto:x@y.example"}));
}

TEST_F(CommandRunnerFiles, RealStartsRunWithoutAShell) {
  TCommandRunner runner(show_, SpawnDetached, Yes());
  TRunResult r = runner.RunCommandLines("lumrec-b x  y , lumrec-a one two $HOME;x");
  EXPECT_EQ(r.status, TStatus::Ran);
  EXPECT_EQ(r.started, 2);
  EXPECT_EQ(runner.OpenWebPage("https://example.com/").status, TStatus::Ran);
  EXPECT_EQ(Lines(3), (Strings{"lumrec-a|" + cwd_ + "|one|two|$HOME;x", "lumrec-b|" + cwd_ + "|x|y",
                               "xdg-open|" + cwd_ + "|https://example.com/"}));
}

}  // namespace
}  // namespace lum
