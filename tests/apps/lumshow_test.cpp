// lumshow as a user runs it: pack, then ls / cat / extract / info, and clear
// failures for broken input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/lumshow_run.h"
#include "support/raw_container.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TCommandResult;
using test::TTempDir;

using test::Lumshow;

using test::Json;

struct TPacked {
  TTempDir dir;
  std::string project;
  TPacked() {
    dir.Write("show/Photos/Sommer.JPG", "sommer-bytes");
    dir.Write("show/snd/Theme.mp3", std::string(70000, 'm'));
    project = dir.Write("show/Project.lum",
                        "\xEF\xBB\xBF[Main]\r\nLumVersion=5.6\r\n[Slide1]\r\nPicture=C:"
                        "\\Show\\Photos\\Sommer.JPG\r\n"
                        "Music=snd\\Theme.mp3\r\n[FileMap]\r\n;\"C:\\Old\\Ärger.JPG\"=\"C:"
                        "\\Show\\Photos\\Sommer.JPG\"\r\n");
    dir.Write("extra/a[1].txt", "bracket");
    dir.Write("extra/Ä.txt", "umlaut");
  }
  TCommandResult Pack(const std::string& out, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"pack", project, "-o", dir / out, "--dir", dir / "extra"};
    args.insert(args.end(), more.begin(), more.end());
    return Lumshow(args);
  }
};

TEST(Lumshow, DemoShowDescribesItself) {
  nlohmann::json info = Json(Lumshow({"info", DEMO_SHOW_PATH, "--json"}));
  EXPECT_EQ(info["source"]["kind"], "container");
  EXPECT_EQ(info["source"]["trailer"], "short");
  EXPECT_EQ(info["source"]["base"], 0);
  EXPECT_EQ(info["source"]["members"], 4);
  nlohmann::json ls = Json(Lumshow({"ls", DEMO_SHOW_PATH, "--json"}));
  ASSERT_EQ(ls.size(), 4u);
  EXPECT_EQ(ls[0]["name"], "Project.lum");
  EXPECT_EQ(ls[0]["method"], "deflate");
  EXPECT_EQ(ls[1]["name"], "music.mp3");
  EXPECT_EQ(ls[2]["name"], "photo.jpg");
  EXPECT_EQ(ls[3]["name"], "clip.mp4");
  TCommandResult plain = Lumshow({"info", DEMO_SHOW_PATH});
  EXPECT_NE(plain.out.find("kind:         container"), std::string::npos) << plain.out;
}

TEST(Lumshow, PackListCatExtractRoundTrip) {
  TPacked p;
  std::string ctl = p.dir.Write("ctl.bin", "ctl");
  TCommandResult pack =
      p.Pack("s.lumshow", {std::string("tab\there=") + ctl, "--method", "a[1].txt=stored"});
  ASSERT_EQ(pack.status, 0) << pack.err;
  std::string show = p.dir / "s.lumshow";
  nlohmann::json ls = Json(Lumshow({"ls", show, "--json"}));
  std::map<std::string, nlohmann::json> rows;
  for (auto& r : ls) rows[r["name"]] = r;
  ASSERT_EQ(rows.size(), 6u) << ls.dump();
  EXPECT_EQ(rows["Project.lum"]["method"], "deflate");
  EXPECT_EQ(rows["a[1].txt"]["method"], "stored");
  EXPECT_EQ(rows["snd\\Theme.mp3"]["method"], "scramble");
  EXPECT_EQ(rows["C:\\Show\\Photos\\Sommer.JPG"]["size"], 12);
  EXPECT_TRUE(rows.count("tab\there"));
  TCommandResult text = Lumshow({"ls", show});
  EXPECT_NE(text.out.find("tab#09here"), std::string::npos) << text.out;

  EXPECT_EQ(Lumshow({"cat", show, "c:\\show\\photos\\sommer.jpg"}).out, "sommer-bytes");
  EXPECT_EQ(Lumshow({"cat", show, "A[1].TXT"}).out, "bracket");
  EXPECT_EQ(Lumshow({"cat", show, "ä.txt"}).out, "umlaut");
  EXPECT_EQ(Lumshow({"cat", show, "tab#09here"}).out, "ctl");
  EXPECT_EQ(Lumshow({"cat", show, "C:\\OLD\\ärger.jpg"}).out, "sommer-bytes");  // FileMap
  EXPECT_EQ(Lumshow({"cat", show, "snd\\theme.mp3"}).out, std::string(70000, 'm'));
  TCommandResult missing = Lumshow({"cat", show, "nope.png"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "lumshow: no member \"nope.png\" in the show\n");

  TCommandResult ex = Lumshow({"extract", show, "-o", p.dir / "out"});
  ASSERT_EQ(ex.status, 0) << ex.err;
  EXPECT_EQ(test::ReadFile(p.dir / "out/Show/Photos/Sommer.JPG"), "sommer-bytes");
  EXPECT_EQ(test::ReadFile(p.dir / "out/a[1].txt"), "bracket");
  EXPECT_EQ(test::ReadFile(p.dir / "out/tab\there"), "ctl");
  EXPECT_NE(ex.out.find(p.dir / "out/snd/Theme.mp3"), std::string::npos);
  TCommandResult one = Lumshow({"extract", show, "-o", p.dir / "one", "snd\\theme.mp3"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, p.dir / "one/snd/theme.mp3\n");

  // The extracted tree plays as a project folder: drive letters resolve against it.
  nlohmann::json folder = Json(Lumshow({"info", p.dir / "out/Project.lum", "--json"}));
  EXPECT_EQ(folder["source"]["kind"], "folder");
  EXPECT_EQ(Lumshow({"cat", p.dir / "out/Project.lum", "C:\\Show\\Photos\\Sommer.JPG"}).out,
            "sommer-bytes");
}

TEST(Lumshow, ExecutablesLongTrailersAndMovedContainers) {
  TPacked p;
  std::string player = p.dir.Write("player",
                                   "\x7f"
                                   "ELF fake player bytes");
  ASSERT_EQ(p.Pack("show.exe", {"--exe", player, "--long-trailer", "--base-padding", "100"}).status,
            0);
  nlohmann::json info = Json(Lumshow({"info", p.dir / "show.exe", "--json"}));
  EXPECT_EQ(info["source"]["trailer"], "long");
  EXPECT_EQ(info["source"]["base"], 122);
  EXPECT_EQ(info["source"]["shift"], 0);
  EXPECT_EQ(info["source"]["lumVersion"], "5.6");
  struct stat st;
  ASSERT_EQ(stat((p.dir / "show.exe").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);

  // Moved by 5 bytes: refused without allowmodify, read with a shift with it.
  p.dir.Write("moved", "12345" + test::ReadFile(p.dir / "show.exe"));
  TCommandResult refused = Lumshow({"ls", p.dir / "moved"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Slide-show File Modified"), std::string::npos) << refused.err;
  ASSERT_EQ(p.Pack("show2.exe", {"--exe", player, "--long-trailer", "--allow-modify"}).status, 0);
  p.dir.Write("moved2", "12345" + test::ReadFile(p.dir / "show2.exe"));
  nlohmann::json moved = Json(Lumshow({"info", p.dir / "moved2", "--json"}));
  EXPECT_EQ(moved["source"]["shift"], 5);
  EXPECT_EQ(Lumshow({"cat", p.dir / "moved2", "a[1].txt"}).out, "bracket");

  // --exe alone puts the lumviewer built (or installed) beside lumshow in front.
  ASSERT_EQ(p.Pack("self", {"--exe"}).status, 0);
  const std::string viewer = test::ReadFile(LUMVIEWER_PATH), self = test::ReadFile(p.dir / "self");
  ASSERT_GT(self.size(), viewer.size());
  EXPECT_TRUE(self.compare(0, viewer.size(), viewer) == 0);
  EXPECT_EQ(Json(Lumshow({"ls", p.dir / "self", "--json"})).size(),
            Json(Lumshow({"ls", p.dir / "show.exe", "--json"})).size());
}

TEST(Lumshow, BrokenInputGivesClearMessages) {
  TPacked p;
  ASSERT_EQ(p.Pack("s.lumshow").status, 0);
  std::string bytes = test::ReadFile(p.dir / "s.lumshow");
  // Cut inside the directory: the trailer is gone, the bytes are no document either.
  TCommandResult cut =
      Lumshow({"ls", p.dir.Write("cut.lumshow", bytes.substr(0, bytes.size() - 30))});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err.rfind("lumshow: ", 0), 0u);
  // Damaged directory: the trailer is intact.
  std::string damaged = bytes;
  for (size_t i = damaged.size() - 40; i < damaged.size() - 12; ++i) damaged[i] = 'X';
  TCommandResult dmg = Lumshow({"info", p.dir.Write("dmg.lumshow", damaged)});
  EXPECT_EQ(dmg.status, 1);
  EXPECT_NE(dmg.err.find("Slide-show File Damaged"), std::string::npos) << dmg.err;
  TCommandResult none = Lumshow({"info", p.dir / "none.lumshow"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("Slideshow File not Found"), std::string::npos) << none.err;
  EXPECT_EQ(Lumshow({"ls"}).status, 2);
  EXPECT_EQ(Lumshow({"frobnicate"}).status, 2);
  EXPECT_EQ(Lumshow({"pack", p.project, "-o", p.dir / "x", "--method", "a=zip"}).status, 2);
  EXPECT_EQ(Lumshow({"pack", p.project, "-o", p.dir / "x", "noequals"}).status, 2);
  EXPECT_EQ(Lumshow({"ls", p.project}).status, 1);  // a project document has no members to list
}

TEST(Lumshow, ScrambleKeyFromTheEnvironment) {
  TPacked p;
  std::string key(32, 'Q');
  auto withKey = [&](const std::string& k, std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/env", "LUM_SCRAMBLE_KEY=" + k, LUMSHOW_PATH});
    return test::RunCommand(args);
  };
  ASSERT_EQ(withKey(key, {"pack", p.project, "-o", p.dir / "k.lumshow"}).status, 0);
  EXPECT_EQ(withKey(key, {"cat", p.dir / "k.lumshow", "snd\\theme.mp3"}).out,
            std::string(70000, 'm'));
  // The built-in key reads other bytes: the member was scrambled with the other key.
  std::string other = Lumshow({"cat", p.dir / "k.lumshow", "snd\\theme.mp3"}).out;
  EXPECT_EQ(other.size(), 70000u);
  EXPECT_NE(other, std::string(70000, 'm'));
}

TEST(Lumshow, ContainersWithABrokenProjectCanBeSalvaged) {
  TTempDir dir;
  test::TRawContainer c;
  c.members.push_back({"Project.lum", "this is not deflate data", 1, ""});
  c.members.push_back({"C:\\Photos\\a.jpg", "photo", 0, ""});
  std::string show = dir.Write("broken.lumshow", c.Build());
  TCommandResult info = Lumshow({"info", show});
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.err.find("Executable SlideShow Open Error"), std::string::npos) << info.err;
  nlohmann::json ls = Json(Lumshow({"ls", show, "--json"}));
  EXPECT_EQ(ls.size(), 2u);
  TCommandResult cat = Lumshow({"cat", show, "c:\\photos\\A.JPG"});
  EXPECT_EQ(cat.status, 0);
  EXPECT_EQ(cat.out, "photo");
  EXPECT_NE(cat.err.find("reading members without the show's file map"), std::string::npos)
      << cat.err;
  TCommandResult ex = Lumshow({"extract", show, "-o", dir / "out"});
  EXPECT_EQ(ex.status, 1);  // the project member itself cannot be unpacked
  EXPECT_EQ(test::ReadFile(dir / "out/Photos/a.jpg"), "photo");
  EXPECT_NE(ex.err.find("skipped \"Project.lum\""), std::string::npos) << ex.err;
}

TEST(Lumshow, ExtractRefusesNamesThatClimbOut) {
  TTempDir dir;
  test::TRawContainer c;
  c.members.push_back({"Project.lum", test::RawDeflate("[Main]\r\n"), 1, ""});
  c.members.push_back({"..\\..\\evil.txt", "evil", 0, ""});
  c.members.push_back({"C:\\ok.txt", "ok", 0, ""});
  c.members.push_back({"D:\\ok.txt", "other drive", 0, ""});
  std::string show = dir.Write("evil.lumshow", c.Build());
  // The target's missing parents are created, as "unzip -d" does.
  TCommandResult r = Lumshow({"extract", show, "-o", dir / "deep/out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("skipped \"..\\..\\evil.txt\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("skipped \"D:\\ok.txt\": it would overwrite \"C:\\ok.txt\""),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::ReadFile(dir / "deep/out/ok.txt"), "ok");
  EXPECT_NE(access((dir / "evil.txt").c_str(), F_OK), 0);
  EXPECT_NE(access((dir / "deep/evil.txt").c_str(), F_OK), 0);
}

TEST(Lumshow, PackTakesOnlyFilesInsideTheProjectFolder) {
  TTempDir dir;
  const std::string secret = dir.Write("home/.docker/config.json", "{\"auths\":\"token\"}");
  const std::string passwd = dir.Write("etc/passwd.txt", "root:x:0:0");
  dir.Write("home/shows/trip/pic.jpg", "pic");
  ASSERT_EQ(symlink(passwd.c_str(), (dir / "home/shows/trip/notes.txt").c_str()), 0);
  const std::string references =
      "Picture=pic.jpg\nNote=../../.docker/config.json\nAbs=" + passwd + "\nText=notes.txt\n";
  const std::string project =
      dir.Write("home/shows/trip/Project.lum", "[Main]\nLumVersion=5.6\n[Slide1]\n" + references);
  const std::string skipped = "lumshow: skipped \"";
  const std::string outsideLine = "\": it lies outside the project's folder";

  TCommandResult r = Lumshow({"pack", project, "-o", dir / "trip.lumshow"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& name :
       {std::string("../../.docker/config.json"), passwd, std::string("notes.txt")})
    EXPECT_NE(r.err.find(skipped + name + outsideLine), std::string::npos) << name << r.err;
  std::vector<std::string> names;
  for (const auto& row : Json(Lumshow({"ls", dir / "trip.lumshow", "--json"})))
    names.push_back(row["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"Project.lum", "pic.jpg"}));

  // Named on the command line, the file goes in under the name the project gives it.
  r = Lumshow({"pack", project, secret, "-o", dir / "trip2.lumshow"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find(skipped + "../../.docker/config.json"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(skipped + "notes.txt" + outsideLine), std::string::npos) << r.err;
  EXPECT_EQ(Lumshow({"cat", dir / "trip2.lumshow", "../../.docker/config.json"}).out,
            "{\"auths\":\"token\"}");
  // A file the project does not refer to from outside is no member by itself.
  EXPECT_EQ(Lumshow({"pack", project, dir / "home/shows/trip/pic.jpg", "-o", dir / "x"}).status, 2);
}

TEST(Lumshow, ExtractNeverOverwritesSilently) {
  TPacked p;
  ASSERT_EQ(p.Pack("s.lumshow").status, 0);
  const std::string show = p.dir / "s.lumshow", out = p.dir / "out";
  ASSERT_EQ(Lumshow({"extract", show, "-o", out}).status, 0);
  p.dir.Write("out/a[1].txt", "edited");
  // A link planted where a member goes must never be written through.
  const std::string victim = p.dir.Write("victim.txt", "victim");
  ASSERT_EQ(unlink((out + "/Ä.txt").c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), (out + "/Ä.txt").c_str()), 0);

  TCommandResult again = Lumshow({"extract", show, "-o", out});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("lumshow: skipped \"a[1].txt\": \"" + out + "/a[1].txt\" exists\n"),
            std::string::npos)
      << again.err;
  EXPECT_NE(again.err.find("lumshow: kept 5 existing file(s); --overwrite replaces them\n"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(test::ReadFile(out + "/a[1].txt"), "edited");

  TCommandResult replaced = Lumshow({"extract", show, "-o", out, "--overwrite"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(test::ReadFile(out + "/a[1].txt"), "bracket");
  struct stat st;
  ASSERT_EQ(lstat((out + "/Ä.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));  // the link itself was replaced
  EXPECT_EQ(test::ReadFile(out + "/Ä.txt"), "umlaut");
  EXPECT_EQ(test::ReadFile(victim), "victim");
  // Side files were renamed into place, none is left beside the members.
  TCommandResult listing = test::RunCommand({"/usr/bin/find", out, "-name", "*part*"});
  EXPECT_EQ(listing.out, "");
}

}  // namespace
}  // namespace lum
