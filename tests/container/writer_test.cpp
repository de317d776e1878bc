// The writing side: containers written by the player's writer read back by
// the reader and, for the layout, by hand; packing projects; safe extraction.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "container/lum_pack_writer.h"
#include "container/lum_show_locator.h"
#include "container/lum_unpack.h"
#include "container/member_extract.h"
#include "container/member_stream.h"
#include "container/show_packer.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/memory_stream.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TTempDir;

int64_t Int64At(const std::string& s, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + size_t(i)]);
  return int64_t(v);
}

// Inflates raw deflate with zlib directly, not through the player's streams.
std::string Inflate(const std::string& packed) {
  z_stream z{};
  inflateInit2(&z, -15);
  std::string out(1 << 20, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = uInt(packed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END ? out : "(damaged)";
}

std::string Member(const TLumUnpack& u, std::string_view name) {
  return test::ReadAll(u.OpenMember(name));
}

std::string Write(const TPackOptions& options, const std::string& path) {
  TFileStream out(path, TFileStream::TMode::Create);
  TLumPackWriter w(out, options);
  w.AddMember("Project.lum", "[Main]\r\nLumVersion=9\r\n", kMethodDeflate);
  w.AddMember("C:\\Pics\\[1].jpg", std::string(100000, 'p'), kMethodScramble);
  w.AddMember(std::string("ctl\x01name", 8), "control", kMethodStored);
  w.AddMember("empty.bin", "", kMethodStored);
  w.Finish();
  return path;
}

TEST(Writer, ShortTrailerLayoutReadsBackByHandAndByTheReader) {
  TTempDir dir;
  TPackOptions opt;
  opt.lumVersion = "9.1";
  std::string bytes = test::ReadFile(Write(opt, dir / "a.lumshow"));
  ASSERT_EQ(bytes.substr(bytes.size() - 4), ".dne");
  int64_t d = Int64At(bytes, bytes.size() - 12);
  std::string directory = Inflate(bytes.substr(size_t(d), bytes.size() - 12 - size_t(d)));
  EXPECT_NE(directory.find("[C:\\Pics\\<1>.jpg]\r\n"), std::string::npos) << directory;
  EXPECT_NE(directory.find("[ctl#01name]"), std::string::npos);
  EXPECT_NE(directory.find("[$protection$]"), std::string::npos);
  EXPECT_NE(directory.find("strucpos=" + std::to_string(d) + "\r\n"), std::string::npos);
  EXPECT_NE(directory.find("lumversion=9.1"), std::string::npos);

  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir / "a.lumshow")) << u.Error();
  EXPECT_EQ(Member(u, "project.lum"), "[Main]\r\nLumVersion=9\r\n");
  EXPECT_EQ(Member(u, "c:\\pics\\[1].JPG"), std::string(100000, 'p'));
  EXPECT_EQ(Member(u, std::string("ctl\x01name", 8)), "control");
  EXPECT_EQ(Member(u, "empty.bin"), "");
  EXPECT_EQ(u.LumVersion(), "9.1");
  EXPECT_EQ(u.Members().size(), 4u);
}

TEST(Writer, ExecutablePrefixPaddingAndLongTrailer) {
  TTempDir dir;
  std::string exe = dir.Write("player", std::string(5000, '\x7f'));
  TPackOptions opt;
  opt.executable = exe;
  opt.basePadding = 123;
  opt.longTrailer = true;
  std::string bytes = test::ReadFile(Write(opt, dir / "show"));
  EXPECT_EQ(bytes.substr(0, 5000), std::string(5000, '\x7f'));
  EXPECT_EQ(Int64At(bytes, bytes.size() - 8), int64_t(bytes.size()) - 8 - 5123);
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir / "show")) << u.Error();
  EXPECT_EQ(u.Trailer().form, TTrailerForm::Long);
  EXPECT_EQ(u.Trailer().base, 5123);
  EXPECT_EQ(u.Shift(), 0);
  EXPECT_EQ(Member(u, "Project.lum"), "[Main]\r\nLumVersion=9\r\n");

  // Appending to more bytes moves the container: only allowmodify lets it open.
  std::string moved = "#!junk\n" + bytes;
  TLumUnpack strict;
  EXPECT_FALSE(strict.Open(dir.Write("moved", moved)));
  EXPECT_EQ(strict.Error(), "Slide-show File Modified");
  opt.allowModify = true;
  std::string allowed = "#!junk\n" + test::ReadFile(Write(opt, dir / "show2"));
  TLumUnpack lax;
  ASSERT_TRUE(lax.Open(dir.Write("moved2", allowed))) << lax.Error();
  EXPECT_EQ(lax.Shift(), 7);
  EXPECT_EQ(Member(lax, "C:\\Pics\\[1].jpg"), std::string(100000, 'p'));
}

TEST(Packer, PacksTheProjectItsReferencesFoldersAndMethods) {
  TTempDir dir;
  dir.Write("proj/Photos/Beach.JPG", "beach");
  dir.Write("proj/music/song.mp3", "song");
  dir.Write("assets/skin/btn.ini", "[Button]");
  dir.Write("assets/skin/img/up.png", "up");
  std::string project =
      dir.Write("proj/Project.lum",
                "[Main]\r\nLumVersion=5.6\r\nopt_scr_width=1920\r\nratio=1.5\r\n[Slide1]\r\n"
                "Picture=C:\\Users\\me\\Photos\\Beach.JPG\r\nobject Root:Container\r\n  "
                "fn=photos\\beach.jpg|framesatlas\r\n"
                "  "
                "snd=LoadFromDisk:music\\song.mp3\r\nend\r\nMusic=music\\song.mp3\r\nMissing=C:"
                "\\gone.png\r\n");
  TIniFile doc;
  ASSERT_TRUE(doc.LoadFromFile(project));
  std::vector<TPackInput> refs = CollectReferencedFiles(doc, dir.Path() + "/proj/");
  std::vector<std::string> names;
  for (const TPackInput& r : refs) names.push_back(r.name);
  // C:\Users\me\Photos\Beach.JPG is found by its tail below the project's folder.
  EXPECT_EQ(names, (std::vector<std::string>{"C:\\Users\\me\\Photos\\Beach.JPG", "music\\song.mp3",
                                             "photos\\beach.jpg"}));
  const std::string real = std::filesystem::canonical(dir.Path()).string();
  EXPECT_EQ(refs[0].diskPath, real + "/proj/Photos/Beach.JPG");
  // The whole drive-less path wins over a shorter tail.
  dir.Write("proj/Users/me/Photos/Beach.JPG", "beach2");
  EXPECT_EQ(CollectReferencedFiles(doc, dir.Path() + "/proj/")[0].diskPath,
            real + "/proj/Users/me/Photos/Beach.JPG");

  std::vector<TPackInput> inputs = CollectFolder(dir.Path() + "/assets");
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].name, "skin\\btn.ini");
  EXPECT_EQ(inputs[1].name, "skin\\img\\up.png");
  inputs[0].method = kMethodStored;
  for (TPackInput& r : CollectReferencedFiles(doc, dir.Path() + "/proj/")) inputs.push_back(r);
  TPackOptions opt;
  opt.lumVersion = "5.6";
  TPackReport report = PackShow(project, inputs, dir / "out.lumshow", opt);
  EXPECT_EQ(report.members, 6);
  TLumUnpack u;
  ASSERT_TRUE(u.Open(dir / "out.lumshow"));
  EXPECT_EQ(Member(u, "Project.lum"), test::ReadFile(project));
  EXPECT_EQ(Member(u, "SKIN\\BTN.INI"), "[Button]");
  EXPECT_EQ(Member(u, "C:\\Users\\me\\Photos\\Beach.JPG"), "beach2");
  TMemberEntry e;
  ASSERT_TRUE(u.FindMember("skin\\btn.ini", e));
  EXPECT_EQ(e.method, kMethodStored);
  ASSERT_TRUE(u.FindMember("skin\\img\\up.png", e));
  EXPECT_EQ(e.method, kMethodScramble);
  ASSERT_TRUE(u.FindMember("Project.lum", e));
  EXPECT_EQ(e.method, kMethodDeflate);
  // Neither a finished nor a failed pack leaves anything beside the output.
  inputs.push_back({"late.bin", dir / "vanished.bin", -1});
  EXPECT_THROW(PackShow(project, inputs, dir / "fail.lumshow", opt), std::exception);
  EXPECT_NE(access((dir / "fail.lumshow").c_str(), F_OK), 0);
  std::vector<std::string> top;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    top.push_back(e.path().filename().string());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"assets", "out.lumshow", "proj"}));
}

TEST(Packer, TakesReferencedFilesOnlyFromInsideTheProjectFolder) {
  TTempDir dir;
  const std::string real = std::filesystem::canonical(dir.Path()).string();
  const std::string secret = dir.Write("secret.txt", "secret");
  dir.Write("proj/in.png", "in");
  dir.Write("proj/sub/deep.png", "deep");
  ASSERT_EQ(symlink(secret.c_str(), (dir / "proj/link.png").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "proj/up").c_str()), 0);
  ASSERT_EQ(symlink("sub/deep.png", (dir / "proj/alias.png").c_str()), 0);  // stays inside
  std::string project = dir.Write(
      "proj/Project.lum", "[Main]\nNote=..\\secret.txt\nOther=../secret.txt\nAbs=" + secret +
                              "\n[Slide1]\nPicture=in.png\nA=link.png\nB=up\\secret.txt\n"
                              "C=alias.png\nD=sub\\deep.png\n");
  TIniFile doc;
  ASSERT_TRUE(doc.LoadFromFile(project));
  using TPairs = std::vector<std::pair<std::string, std::string>>;
  auto pairs = [](const std::vector<TPackInput>& v) {
    TPairs out;
    for (const TPackInput& in : v) out.emplace_back(in.name, in.diskPath);
    return out;
  };
  std::vector<TPackInput> outside;
  const TPairs inside = pairs(CollectReferencedFiles(doc, dir / "proj", &outside));
  EXPECT_EQ(inside, (TPairs{{"in.png", real + "/proj/in.png"},
                            {"alias.png", real + "/proj/sub/deep.png"},
                            {"sub\\deep.png", real + "/proj/sub/deep.png"}}));
  const std::string out = real + "/secret.txt";
  EXPECT_EQ(pairs(outside), (TPairs{{"..\\secret.txt", out},
                                    {"../secret.txt", out},
                                    {secret, out},
                                    {"link.png", out},
                                    {"up\\secret.txt", out}}));
  EXPECT_EQ(pairs(CollectReferencedFiles(doc, dir / "proj")), inside);
}

TEST(Extract, MemberNamesBecomeSafeRelativePaths) {
  std::string rel, why;
  EXPECT_TRUE(SafeMemberPath("C:\\Photos\\a.jpg", rel, why));
  EXPECT_EQ(rel, "Photos/a.jpg");
  EXPECT_TRUE(SafeMemberPath("\\\\server\\share\\x\\.\\y.txt", rel, why));
  EXPECT_EQ(rel, "x/y.txt");
  EXPECT_TRUE(SafeMemberPath("/etc//passwd", rel, why));
  EXPECT_EQ(rel, "etc/passwd");
  EXPECT_TRUE(SafeMemberPath("VectTxt2: Hello", rel, why));
  EXPECT_EQ(rel, "VectTxt2: Hello");
  EXPECT_FALSE(SafeMemberPath("a\\..\\..\\b", rel, why));
  EXPECT_FALSE(SafeMemberPath("../b", rel, why));
  EXPECT_FALSE(SafeMemberPath("C:\\", rel, why));
  EXPECT_FALSE(SafeMemberPath("", rel, why));
}

TEST(Extract, NeverFollowsLinksOutOfTheTarget) {
  TTempDir dir;
  std::string target = dir.Path() + "/out";
  mkdir(target.c_str(), 0755);
  mkdir((dir.Path() + "/outside").c_str(), 0755);
  ASSERT_EQ(symlink((dir.Path() + "/outside").c_str(), (target + "/linked").c_str()), 0);
  ASSERT_EQ(symlink((dir.Path() + "/outside/file").c_str(), (target + "/file").c_str()), 0);
  TMemoryStream data("payload");
  EXPECT_EQ(WriteUnderFolder(target, "a/b/c.txt", data).path, target + "/a/b/c.txt");
  EXPECT_EQ(test::ReadFile(target + "/a/b/c.txt"), "payload");
  for (bool overwrite : {false, true}) {
    data.SetPosition(0);
    EXPECT_THROW(WriteUnderFolder(target, "linked/x.txt", data, overwrite), std::exception);
  }
  // A link at the file's own path is an existing file: kept, or replaced by the file.
  data.SetPosition(0);
  EXPECT_TRUE(WriteUnderFolder(target, "file", data).existed);
  data.SetPosition(0);
  EXPECT_FALSE(WriteUnderFolder(target, "file", data, true).existed);
  struct stat st;
  ASSERT_EQ(lstat((target + "/file").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(test::ReadFile(target + "/file"), "payload");
  EXPECT_NE(access((dir.Path() + "/outside/x.txt").c_str(), F_OK), 0);
  EXPECT_NE(access((dir.Path() + "/outside/file").c_str(), F_OK), 0);
}

// A stream that gives some bytes, then fails.
class TFailingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  size_t Read(void* buffer, size_t count) override {
    if (Position() > 0) throw EStreamError(kStreamReadError);
    return TMemoryStream::Read(buffer, std::min<size_t>(count, 3));
  }
};

TEST(Extract, ExistingFilesAreKeptUnlessOverwriteAndNothingCutIsLeft) {
  TTempDir dir;
  const std::string target = dir.Path() + "/out";
  dir.Write("out/a.txt", "mine");
  TMemoryStream theirs("theirs");
  EXPECT_TRUE(WriteUnderFolder(target, "a.txt", theirs).existed);
  EXPECT_EQ(test::ReadFile(target + "/a.txt"), "mine");
  EXPECT_FALSE(WriteUnderFolder(target, "a.txt", theirs, true).existed);
  EXPECT_EQ(test::ReadFile(target + "/a.txt"), "theirs");

  // A member that cannot be read whole leaves neither a cut file nor a side file.
  for (bool overwrite : {false, true}) {
    TFailingStream broken("broken bytes");
    EXPECT_THROW(WriteUnderFolder(target, overwrite ? "a.txt" : "new.txt", broken, overwrite),
                 EStreamError);
  }
  EXPECT_EQ(test::ReadFile(target + "/a.txt"), "theirs");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(target))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"a.txt"});
}

}  // namespace
}  // namespace lum
