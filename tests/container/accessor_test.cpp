// File sources, the accessor and the show locator: finding show files by name
// in containers and on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "container/container_path.h"
#include "container/disk_path.h"
#include "container/file_accessor.h"
#include "container/lum_show_locator.h"
#include "container/path_modifiers.h"
#include "container/scramble_key.h"
#include "foundation/memory_stream.h"
#include "support/raw_container.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::ReadAll;
using test::TRawContainer;
using test::TTempDir;

const char* kProject =
    "\xEF\xBB\xBF[Main]\r\nLumVersion=5.6\r\nopt_exefn=C:\\Authoring\\MyShow.exe\r\n"
    "[FileMap]\r\n"
    ";\"C:\\Old\\Logo.PNG\" = \"C:\\New\\logo.png\"\r\n"
    ";\"c:\\new\\LOGO.png\"=\"final.png\"\r\n"
    ";\"loop-a\"=\"loop-b\"\r\n"
    ";\"loop-b\"=\"loop-a\"\r\n"
    ";\"a=b.png\"=\"final.png\"\r\n"
    ";broken line\r\n"
    "[RotationState]\r\n"
    ";\"C:\\Photos\\Turned.jpg\"=6\r\n"
    ";\"C:\\Photos\\Upside.jpg\"=3\r\n"
    ";\"C:\\Photos\\Bad.jpg\"=5\r\n";

std::string BuildShow(const TTempDir& dir, const std::string& name) {
  TRawContainer c;
  c.members.push_back({"Project.lum", test::RawDeflate(kProject), 1, ""});
  c.members.push_back({"final.png", test::Scramble("PNG!", ScrambleKey()), 2, ""});
  c.members.push_back({"C:\\Photos\\Turned.jpg", "JPG", 0, ""});
  return dir.Write(name, c.Build());
}

TEST(FileMapAndRotation, CommentLinesParse) {
  std::string a, b;
  int code = 0;
  EXPECT_TRUE(ParseFileMapLine(";\"x y\" = \"z\"", a, b));
  EXPECT_EQ(a, "x y");
  EXPECT_EQ(b, "z");
  EXPECT_TRUE(ParseFileMapLine(";\"a=b\"=\"c\"", a, b));  // "=" inside quotes does not split
  EXPECT_EQ(a, "a=b");
  EXPECT_FALSE(ParseFileMapLine(";\"\"=\"c\"", a, b));
  EXPECT_FALSE(ParseFileMapLine(";\"a\"=", a, b));
  EXPECT_FALSE(ParseFileMapLine("\"a\"=\"b\"", a, b));
  EXPECT_TRUE(ParseRotationLine(";\"C:\\a.jpg\"=8", a, code));
  EXPECT_EQ(a, "C:\\a.jpg");
  EXPECT_EQ(code, 8);
  EXPECT_FALSE(ParseRotationLine(";\"a.jpg\"=2", a, code));
  EXPECT_FALSE(ParseRotationLine("; \"a.jpg\"=6", a, code));
  EXPECT_FALSE(ParseRotationLine(";\"a.jpg\"6", a, code));
}

TEST(Locator, OpensAContainerAndFollowsItsTables) {
  TTempDir dir;
  std::string path = BuildShow(dir, "show.lumshow");
  std::string message;
  auto loc = TLumShowLocator::OpenContainer(path, message);
  ASSERT_TRUE(loc) << message;
  EXPECT_TRUE(loc->IsContainer());
  EXPECT_EQ(loc->LumVersion(), "5.6");
  EXPECT_EQ(loc->Accessor()->ShowFolder(), dir.Path() + "/");
  const TFileAccessor& acc = *loc->Accessor();
  EXPECT_EQ(ReadAll(acc.OpenMember("FINAL.PNG")), "PNG!");
  // FileMap: keys in another letter case, followed recursively.
  EXPECT_EQ(ReadAll(acc.OpenMember("c:\\old\\logo.png")), "PNG!");
  EXPECT_EQ(ReadAll(acc.OpenMember("a=b.png")), "PNG!");
  EXPECT_EQ(ReadAll(acc.OpenMember("loop-a")), "(missing)");  // a loop finds nothing
  EXPECT_EQ(ReadAll(acc.OpenMember("nothing.png")), "(missing)");
  int rotation = 0;
  EXPECT_EQ(ReadAll(acc.OpenMember("c:\\photos\\turned.JPG", &rotation)), "JPG");
  EXPECT_EQ(rotation, 6);
  EXPECT_EQ(acc.Source().Rotation("C:\\Photos\\Upside.jpg"), 3);
  EXPECT_EQ(acc.Source().Rotation("C:\\Photos\\Bad.jpg"), 1);
  // No fallback to disk for containers, even when the file is right there.
  dir.Write("loose.txt", "disk");
  EXPECT_EQ(ReadAll(acc.OpenMember("loose.txt")), "(missing)");

  std::string version;
  EXPECT_TRUE(TLumShowLocator::QuickCheck(path, &version));
  EXPECT_FALSE(TLumShowLocator::QuickCheck(dir / "loose.txt", &version));
}

TEST(Locator, AccessorHooksAndClones) {
  TTempDir dir;
  std::string message;
  auto loc = TLumShowLocator::OpenContainer(BuildShow(dir, "s.lumshow"), message);
  ASSERT_TRUE(loc);
  TRef<TFileAccessor> acc = loc->Accessor()->Clone();
  acc->SetFallbackOpener([](std::string_view name) -> std::unique_ptr<TStream> {
    if (name != "generated") return nullptr;
    return std::make_unique<TMemoryStream>("made up");
  });
  acc->SetAfterOpenHook(
      [](std::unique_ptr<TStream> s, std::string_view) -> std::unique_ptr<TStream> {
        std::string text(size_t(s->Size()), '\0');
        s->ReadBuffer(text.data(), text.size());
        return std::make_unique<TMemoryStream>("<" + text + ">");
      });
  EXPECT_EQ(ReadAll(acc->OpenMember("generated")), "<made up>");
  EXPECT_EQ(ReadAll(acc->OpenMember("final.png")), "<PNG!>");
  EXPECT_EQ(ReadAll(loc->Accessor()->OpenMember("generated")), "(missing)");
  EXPECT_EQ(&acc->Source(), &loc->Accessor()->Source());
}

TEST(Locator, ContainerWithoutProjectAndBrokenContainers) {
  TTempDir dir;
  TRawContainer c;
  c.members.push_back({"other.txt", "x", 0, ""});
  std::string message;
  EXPECT_FALSE(TLumShowLocator::OpenContainer(dir.Write("np.lumshow", c.Build()), message));
  EXPECT_EQ(message.rfind("Executable SlideShow Open Error", 0), 0u) << message;
  c.members.push_back({"Project.lum", "not deflate at all", 1, ""});
  EXPECT_FALSE(TLumShowLocator::OpenContainer(dir.Write("bad.lumshow", c.Build()), message));
  EXPECT_EQ(message.rfind("Executable SlideShow Open Error", 0), 0u) << message;
  EXPECT_FALSE(TLumShowLocator::OpenContainer(dir / "absent.lumshow", message));
  EXPECT_EQ(message, "Slideshow File not Found");
}

TEST(DiskPaths, WindowsNamesFindFilesHere) {
  TTempDir dir;
  dir.Write("Photos/Summer/Beach.JPG", "beach");
  std::string base = dir.Path() + "/";
  EXPECT_EQ(FindDiskFile("C:\\Photos\\Summer\\Beach.JPG", base), base + "Photos/Summer/Beach.JPG");
  EXPECT_EQ(FindDiskFile("c:\\photos\\summer\\beach.jpg", base), base + "Photos/Summer/Beach.JPG");
  EXPECT_EQ(FindDiskFile("Photos\\SUMMER\\beach.jpg", base), base + "Photos/Summer/Beach.JPG");
  EXPECT_EQ(FindDiskFile("\\\\server\\share\\Photos\\Summer\\Beach.JPG", base),
            base + "Photos/Summer/Beach.JPG");
  EXPECT_EQ(FindDiskFile(base + "photos/summer/BEACH.jpg", ""), base + "Photos/Summer/Beach.JPG");
  EXPECT_EQ(FindDiskFile("C:\\Photos\\Summer", base), "");  // a folder is no file
  EXPECT_EQ(FindDiskFile("C:\\Photos\\Winter\\Beach.JPG", base), "");
  EXPECT_EQ(StripDriveAndRoot("D:\\\\a\\b"), "a\\b");
  EXPECT_EQ(StripDriveAndRoot("\\a"), "a");
}

TEST(Locator, FolderModeOpensDiskFilesAndAppliesPathModifiers) {
  TTempDir dir;
  dir.Write("Photos/a.jpg", "A");
  dir.Write("extra/b.jpg", "B");
  dir.Write("mods/Blue/btn.ini", "skin");
  std::string project = dir.Write("show/Project.lum",
                                  "[Main]\r\nLumVersion=5.7\r\nopt_exefn=C:\\Nowhere\\show.exe\r\n"
                                  "[FileMap]\r\n;\"mapped.jpg\"=\"../extra/b.jpg\"\r\n"
                                  "[PathModifiers]\r\nCount=1\r\nEnv0=%mods%\r\nPath0=" +
                                      dir.Path() + "/mods\\\r\nDef0=1\r\n");
  dir.Write("show/Photos/a.jpg", "A in show");
  std::vector<TPathModifier> saved = PathModifiers();
  std::string message;
  auto loc = TLumShowLocator::OpenProjectFile(project, message);
  ASSERT_TRUE(loc) << message;
  EXPECT_FALSE(loc->IsContainer());
  EXPECT_EQ(loc->LumVersion(), "5.7");
  const TFileAccessor& acc = *loc->Accessor();
  // The authoring machine's folder does not exist here: the project's folder stands in.
  EXPECT_EQ(acc.ShowFolder(), dir.Path() + "/show/");
  EXPECT_EQ(ReadAll(acc.OpenMember("C:\\Photos\\A.jpg")), "A in show");
  EXPECT_EQ(ReadAll(acc.OpenMember("mapped.jpg")), "B");
  EXPECT_EQ(ReadAll(acc.OpenMember("%MODS%\\blue\\BTN.ini")), "skin");
  EXPECT_EQ(ReadAll(acc.OpenMember("photos\\a.jpg|framesatlas")), "A in show");
  dir.Write("show/loose.jpg", "L");
  EXPECT_EQ(acc.FindFileOnDisk("D:\\Elsewhere\\loose.jpg"), dir.Path() + "/show/loose.jpg");
  ASSERT_EQ(PathModifiers().size(), 1u);
  EXPECT_EQ(PathModifiers()[0].folder, dir.Path() + "/mods");
  SetPathModifiers(saved);
}

TEST(PathModifiers, TokensCandidatesAndDefaults) {
  TTempDir dir;
  setenv("XDG_DATA_HOME", (dir.Path() + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir.Path() + "/config").c_str(), 1);
  EXPECT_EQ(ExpandFolderToken("%LocalAppData%\\Orvak\\Styles"), dir.Path() + "/data/Orvak\\Styles");
  EXPECT_EQ(ExpandFolderToken("%APPDATA%"), dir.Path() + "/config/");
  EXPECT_EQ(ExpandFolderToken("%SYSTEMROOT%\\Fonts"), "C:\\Windows\\Fonts");
  EXPECT_EQ(ExpandFolderToken("%NOSUCHTOKEN%\\x"), "%NOSUCHTOKEN%\\x");
  EXPECT_EQ(ExpandFolderToken("x%APPDATA%"), "x%APPDATA%");
  std::vector<TPathModifier> builtIn = BuiltInPathModifiers();
  ASSERT_EQ(builtIn.size(), 4u);
  EXPECT_EQ(builtIn[1].folder, dir.Path() + "/data/Orvak/Styles");
  EXPECT_TRUE(builtIn[1].isDefault);

  std::vector<TPathModifier> saved = PathModifiers();
  dir.Write("two/only-here.png", "2");
  SetPathModifiers({{"%s%", dir.Path() + "/one", false},
                    {"%s%", dir.Path() + "/two", false},
                    {"%s%", dir.Path() + "/three", true}});
  EXPECT_EQ(ApplyPathModifiers("%S%\\only-here.png"), dir.Path() + "/two\\only-here.png");
  EXPECT_EQ(ApplyPathModifiers("%s%\\missing.png"), dir.Path() + "/three\\missing.png");
  EXPECT_EQ(ApplyPathModifiers("%other%\\x.png"), "%other%\\x.png");
  EXPECT_EQ(ApplyPathModifiers("100%\\x.png"), "100%\\x.png");
  SetPathModifiers(saved);
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
}

TEST(ContainerPath, BundlesExecutablesAndTheLumshowFallback) {
  TTempDir dir;
  std::string app = dir.Path() + "/Show.app";
  dir.Write("Show.app/Contents/Resources/slideshow.dat", "x");
  EXPECT_EQ(ResolveContainerPath(app), app + "/Contents/Resources/slideshow.dat");
  EXPECT_EQ(ResolveContainerPath(dir.Path() + "/Other.app"), dir.Path() + "/Other.lumshow");
  EXPECT_EQ(ResolveContainerPath(dir.Path() + "/Show.EXE"), dir.Path() + "/Show.EXE");
  SetBundleLayout(true);
  EXPECT_EQ(ResolveContainerPath(dir.Path() + "/Show.exe"),
            app + "/Contents/Resources/slideshow.dat");
  EXPECT_EQ(ResolveContainerPath(dir.Path() + "/None.exe"), dir.Path() + "/None.lumshow");
  SetBundleLayout(false);
  EXPECT_EQ(ResolveContainerPath(dir.Path() + "/a.lumshow"), dir.Path() + "/a.lumshow");
}

TEST(Locator, ReplacePairAndOpenAny) {
  TTempDir dir;
  std::string project = dir.Write("p/Project.lum", "[Main]\r\nLumVersion=1\r\n");
  TReplacePair::Set({"C:\\Shows\\Built.exe", project});
  std::string message;
  auto redirected = TLumShowLocator::OpenContainer("c:\\shows\\BUILT.EXE", message);
  ASSERT_TRUE(redirected) << message;
  EXPECT_FALSE(redirected->IsContainer());
  TReplacePair::Set({});

  std::string show = BuildShow(dir, "named.lumshow");
  EXPECT_TRUE(TLumShowLocator::OpenAny(show, message)) << message;
  // "named.exe" falls back to "named.lumshow".
  EXPECT_TRUE(TLumShowLocator::OpenAny(dir.Path() + "/named.exe", message)) << message;
  auto folder = TLumShowLocator::OpenAny(project, message);
  ASSERT_TRUE(folder) << message;
  EXPECT_FALSE(folder->IsContainer());
  mkdir((dir.Path() + "/Bundle").c_str(), 0755);
  dir.Write("Bundle/Contents/Resources/slideshow.dat", test::ReadFile(show));
  EXPECT_TRUE(TLumShowLocator::OpenAny(dir.Path() + "/Bundle", message)) << message;

  EXPECT_FALSE(TLumShowLocator::OpenAny(dir.Path() + "/missing.exe", message));
  EXPECT_EQ(message, "Slideshow File not Found\r\"" + dir.Path() + "/missing.exe\" or \"" +
                         dir.Path() + "/missing.lumshow\"");
  EXPECT_FALSE(
      TLumShowLocator::OpenAny(dir.Write("img.bin", std::string("\x89PNG\r\n\x1a\n", 8)), message));
  EXPECT_NE(message.find("neither a show container nor a project document"), std::string::npos);
}

}  // namespace
}  // namespace lum
