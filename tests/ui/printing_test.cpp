// Printing against a private print server the test starts on a loopback
// port, with one raw queue whose jobs a small backend copies into the test's
// folder; and the messages when no server answers.
#include <arpa/inet.h>
#include <cups/cups.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/paths.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "ui/print_dialog.h"
#include "ui/printer_dialog.h"
#include "ui/printing.h"

extern char** environ;

namespace lum {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kCupsd = "/usr/sbin/cupsd";
constexpr const char* kLpadmin = "/usr/sbin/lpadmin";

// A loopback port nothing listens on (at the moment of asking).
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

bool Listening(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// Points the client library at server ("host:port").
void UseServer(const std::string& server) {
  setenv("CUPS_SERVER", server.c_str(), 1);
  cupsSetServer(nullptr);  // forget what was read before
}

struct TJob {
  int id = 0, state = 0, orientation = 0;
  std::string name;
};

// cupsd in the foreground as a child, with queue "Q" (a backend that copies
// each job's document to out/job.<id>); stopped with the object.
class TPrivateCupsd {
 public:
  ~TPrivateCupsd() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

  bool Start(std::string& error) {
    port_ = FreePort();
    WriteConfiguration();
    const std::string conf = dir_ / "root/cupsd.conf", files = dir_ / "root/cups-files.conf";
    std::vector<const char*> argv{kCupsd, "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr};
    if (posix_spawn(&pid_, kCupsd, nullptr, nullptr, const_cast<char**>(argv.data()), environ)) {
      error = "cupsd did not start";
      return false;
    }
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!Listening(port_)) {
      if (Clock::now() > until || waitpid(pid_, nullptr, WNOHANG) == pid_) {
        error = "cupsd did not listen: " + test::ReadFile(dir_ / "log/error_log");
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto r = test::RunCommand(
        {kLpadmin, "-h", Server(), "-p", "Q", "-E", "-v", "capture:" + (dir_ / "out/job")});
    if (r.status != 0) error = "lpadmin failed: " + r.err;
    return r.status == 0;
  }

  std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Output(int job) const { return dir_ / ("out/job." + std::to_string(job)); }

  // Every job of the server, finished or not.
  std::vector<TJob> Jobs() const {
    http_t* http =
        httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 3000, nullptr);
    if (!http) return {};
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    // Job names are shown to their owner only.
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    const char* wanted[] = {"job-id", "job-name", "job-state", "orientation-requested"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                  wanted);
    ipp_t* response = cupsDoRequest(http, request, "/");
    std::vector<TJob> jobs;
    bool next = true;
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
      const char* name = ippGetName(a);
      // Each job is one group, separated from the next.
      if (!name || ippGetGroupTag(a) != IPP_TAG_JOB) {
        next = true;
        continue;
      }
      if (next) jobs.emplace_back();
      next = false;
      const std::string n = name;
      if (n == "job-id") jobs.back().id = ippGetInteger(a, 0);
      if (n == "job-name") jobs.back().name = ippGetString(a, 0, nullptr);
      if (n == "job-state") jobs.back().state = ippGetInteger(a, 0);
      if (n == "orientation-requested") jobs.back().orientation = ippGetInteger(a, 0);
    }
    ippDelete(response);
    httpClose(http);
    return jobs;
  }

  // The job once it is completed and its document copied; id 0 when that
  // did not happen within a few seconds.
  TJob Completed(int id) const {
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < until) {
      for (const TJob& j : Jobs())
        if (j.id == id && j.state == IPP_JSTATE_COMPLETED && FileExists(Output(id))) return j;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }

 private:
  void WriteConfiguration() {
    dir_.Write("root/cupsd.conf", "Listen 127.0.0.1:" + std::to_string(port_) +
                                      "\nBrowsing Off\nDefaultAuthType None\nWebInterface No\n"
                                      "LogLevel warn\n<Location />\n  Order allow,deny\n"
                                      "  Allow all\n</Location>\n");
    // cupsd refuses to run jobs as root: as root it takes nobody.
    const passwd* pw = geteuid() == 0 ? getpwnam("nobody") : getpwuid(geteuid());
    const group* gr = pw ? getgrgid(pw->pw_gid) : nullptr;
    std::string files = "User " + std::string(pw ? pw->pw_name : "nobody") + "\nGroup " +
                        (gr ? gr->gr_name : "nogroup") + "\nServerBin " + (dir_ / "bin") + "\n";
    for (const char* d :
         {"RequestRoot spool", "TempDir spool", "CacheDir cache", "StateDir state",
          "ErrorLog log/error_log", "AccessLog log/access_log", "PageLog log/page_log"}) {
      const std::string line = d;
      const size_t blank = line.find(' ');
      files += line.substr(0, blank) + " " + (dir_ / line.substr(blank + 1)) + "\n";
    }
    dir_.Write("root/cups-files.conf", files);
    for (const char* d : {"spool", "cache", "state", "log", "out"}) ForceDirectories(dir_ / d);
    chmod((dir_ / "out").c_str(), 0777);
    // The backend runs as root under a root cupsd (mode 0700), else as us;
    // cupsd starts it through its own helper.
    const std::string backend = dir_.Write(
        "bin/backend/capture",
        "#!/bin/sh\n[ $# -eq 0 ] && { echo 'direct capture \"Unknown\" \"Capture\"'; exit 0; }\n"
        "out=\"${DEVICE_URI#capture:}.$1\"\n"
        "if [ -n \"$6\" ]; then cat \"$6\" > \"$out\"; else cat > \"$out\"; fi\n");
    chmod(backend.c_str(), 0700);
    symlink("/usr/lib/cups/daemon", (dir_ / "bin/daemon").c_str());
  }

  test::TTempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

uint32_t BigEndian(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
         uint32_t(uint8_t(b[at + 2])) << 8 | uint8_t(b[at + 3]);
}

class Printing : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
    SetChosenPrinter("");
  }
};

// With the private server running and the client pointed at it.
class PrintServer : public Printing {
 protected:
  void SetUp() override {
    if (access(kCupsd, X_OK) != 0 || access(kLpadmin, X_OK) != 0)
      GTEST_SKIP() << "no cupsd or lpadmin here";
    ASSERT_TRUE(TWindowThread::Init());
    std::string error;
    ASSERT_TRUE(cupsd.Start(error)) << error;
    UseServer(cupsd.Server());
  }
  TPrivateCupsd cupsd;
};

TEST_F(PrintServer, OneJobNamedSlideshowPerPictureInItsOrientation) {
  std::string error;

  const auto list = ListPrinters(error);
  ASSERT_TRUE(list) << error;
  EXPECT_EQ(list->names, std::vector<std::string>{"Q"});

  struct TCase {
    int width, height, orientation;
    std::string printer;
  };
  // The only printer serves as the default; a chosen one is used by name.
  const TCase cases[] = {{64, 32, IPP_ORIENT_LANDSCAPE, ""}, {24, 48, IPP_ORIENT_PORTRAIT, "Q"}};
  size_t sent = 0;
  for (const TCase& c : cases) {
    TBitmap picture(c.width, c.height, TPixelFormat::Bgra32);
    picture.Fill(200, 100, 50);
    const auto id = PrintBitmap(picture, c.printer, error);
    ASSERT_TRUE(id) << error;
    ++sent;
    const TJob job = cupsd.Completed(*id);
    ASSERT_EQ(job.id, *id) << "the job did not arrive";
    EXPECT_EQ(job.name, kPrintJobName);
    EXPECT_EQ(job.orientation, c.orientation);
    EXPECT_EQ(cupsd.Jobs().size(), sent) << "one job per picture";
    const std::string png = test::ReadFile(cupsd.Output(*id));
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
    EXPECT_EQ(BigEndian(png, 16), uint32_t(c.width));
    EXPECT_EQ(BigEndian(png, 20), uint32_t(c.height));
  }

  // A printer the server does not know: the job is refused with a message.
  TBitmap picture(8, 8, TPixelFormat::Bgra32);
  EXPECT_FALSE(PrintBitmap(picture, "Nowhere", error));
  EXPECT_NE(error.find("Nowhere"), std::string::npos) << error;
}

TEST_F(PrintServer, ThePrinterSelectionListsTheServersPrinters) {
  TWindowThread::Post([] {
    TSystemDialog* d = CurrentSystemDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_NE(d->ItemText(TPrinterDialog::kFirstPrinterId).find('Q'), std::string::npos);
    d->Command(TPrinterDialog::kFirstPrinterId);
  });
  ChangePrinter(nullptr, {96});
  EXPECT_EQ(ChosenPrinter(), "Q");
}

// A slide with a main picture of its own size and a captured frame.
class TPictures : public TPrintPictureSource {
 public:
  TRef<TBitmap> main, frame;
  TRef<TBitmap> MainPicture() override { return main; }
  TRef<TBitmap> CapturedFrame() override { return frame; }
  std::unique_ptr<TStream> MainPictureFile(std::string&) override { return nullptr; }
};

TEST_F(PrintServer, TheDialogPrintsTheMainPictureOnlyWhenAskedAndAvailable) {
  TIniFile project;
  TPictures pictures;
  pictures.main = MakeRef<TBitmap>(30, 50, TPixelFormat::Bgra32);
  pictures.frame = MakeRef<TBitmap>(64, 36, TPixelFormat::Bgra32);
  struct TCase {
    bool mainOnly, hasMain;
    uint32_t width;
  };
  int jobs = 0;
  for (const TCase& c : {TCase{true, true, 30}, {false, true, 64}, {true, false, 64}}) {
    if (!c.hasMain) pictures.main = nullptr;
    std::vector<std::string> messages;
    TLumPrintDialog dialog(nullptr, project, pictures, 0,
                           [&](const std::string& m) { messages.push_back(m); }, {96});
    TWindowThread::Post([&] {
      dialog.Dialog().SetChecked(TLumPrintDialog::kMainOnlyId, c.mainOnly);
      dialog.Dialog().Command(TLumPrintDialog::kPrintId);
    });
    dialog.Run();
    EXPECT_TRUE(messages.empty()) << messages.front();
    const TJob job = cupsd.Completed(++jobs);
    ASSERT_EQ(job.id, jobs);
    EXPECT_EQ(BigEndian(test::ReadFile(cupsd.Output(job.id)), 16), c.width);
  }
}

TEST_F(Printing, WithoutAServerTheUserIsToldQuickly) {
  UseServer("127.0.0.1:" + std::to_string(FreePort()));
  const auto start = Clock::now();
  std::string error;
  EXPECT_FALSE(ListPrinters(error));
  EXPECT_NE(error.find("No print server"), std::string::npos) << error;
  TBitmap picture(8, 4, TPixelFormat::Bgra32);
  error.clear();
  EXPECT_FALSE(PrintBitmap(picture, "", error));
  EXPECT_NE(error.find("No print server"), std::string::npos) << error;
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  const TDialogTemplate t = TPrinterDialog::Template(std::nullopt, error, "");
  EXPECT_EQ(t.items.front().text, error) << "the selection says so";
}

TEST_F(Printing, AServerThatNeverAnswersCostsOnlyTheTimeOut) {
  // The kernel accepts the connection; nobody ever reads or writes.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(s, 4), 0);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  UseServer("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
  const auto start = Clock::now();
  std::string error;
  EXPECT_FALSE(ListPrinters(error, 200));
  EXPECT_NE(error.find("no answer"), std::string::npos) << error;
  TBitmap picture(8, 4, TPixelFormat::Bgra32);
  EXPECT_FALSE(PrintBitmap(picture, "Q", error, 200));
  EXPECT_NE(error.find("no answer"), std::string::npos) << error;
  // The library's own wait would be a minute.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
  close(s);
}

}  // namespace
}  // namespace lum
