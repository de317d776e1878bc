// The music reader's placing rules, the music source, and the music player's
// schedule, pauses and seeks, and a lost sound device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include <cstdlib>
#include <cstring>

#include "audio/composite_converter.h"
#include "audio/music_options_reader.h"
#include "audio/music_player.h"
#include "audio/music_source.h"
#include "audio/sdl_audio_drivers.h"
#include "audio/synthetic_source.h"
#include "container/file_accessor.h"
#include "foundation/errors.h"
#include "document/ini_file.h"
#include "project/lum_source.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using namespace std::chrono_literals;

// A show of slides ending at the given times, with extra document text.
struct TShow {
  TIniFile doc;
  std::unique_ptr<TLumSource> src;
  TShow(std::vector<int> ends, const std::string& main, const std::string& more = "") {
    std::string text =
        "[Main]\n" + main + "\n[Times]\nopt_slidescount=" + std::to_string(ends.size()) + "\n";
    for (size_t i = 0; i < ends.size(); ++i)
      text += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(ends[i]) + "\n";
    for (size_t i = 0; i < ends.size(); ++i) text += "[Slide" + std::to_string(i + 1) + "]\n";
    doc.LoadText(text + more);
    src = std::make_unique<TLumSource>(nullptr, doc, TLumSourceSettings{"a", 1});
  }
};

std::string Item(const std::string& file, int duration, const std::string& keys = "") {
  return "object I:TMusicItem\nFileName=" + file + "\nDuration=" + std::to_string(duration) + "\n" +
         keys + "end\n";
}

std::string Music(const std::string& body) {
  return "object Music:Music\n" + body + "end\n";
}
std::string Track(const std::string& body, const std::string& keys = "") {
  return "object T:TMusicTrack\n" + keys + body + "end\n";
}

TMusicComposition ReadMain(const TShow& show) {
  TMusicOptionsReader reader(*show.src);
  return reader.ReadMain();
}

TEST(MusicReader, CrossFadeOverlapsAndFadesBothItems) {
  TShow show({30000},
             Music(Track(Item("a.wav", 10000) + Item("b.wav", 8000, "CrossMode=0\nCross=2000\n"))));
  TMusicComposition c = ReadMain(show);
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[0].timeLine, 0);
  EXPECT_EQ(c.items[0].duration, 10000);
  ASSERT_EQ(c.items[0].envelopes.size(), 1u);
  EXPECT_EQ(c.items[0].envelopes[0], (TEnvelope{{8000, 1000}, {10000, 0}}));
  EXPECT_EQ(c.items[1].timeLine, 8000);  // starts 2000 ms before the first ends
  EXPECT_EQ(c.items[1].duration, 8000);
  EXPECT_EQ(c.items[1].envelopes[0], (TEnvelope{{0, 0}, {2000, 1000}}));
  EXPECT_EQ(c.duration, 16000);
}

TEST(MusicReader, PauseModeLeavesSilenceBetweenItems) {
  TShow show({30000},
             Music(Track(Item("a.wav", 3000) + Item("b.wav", 2000, "CrossMode=1\nPause=500\n"))));
  TMusicComposition c = ReadMain(show);
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[1].timeLine, 3500);
  EXPECT_EQ(c.duration, 5500);
  EXPECT_TRUE(c.items[1].envelopes.empty());
}

TEST(MusicReader, LinkedItemStartsWithItsSlideAndCutsThePreviousOne) {
  std::string guid = "{0A1B2C3D-0000-0000-0000-00000000000B}";
  std::string link = "[Slide5]\nLinkedAudio=" + guid + "{FFFFFFFF-0000-0000-0000-000000000000}x\n";
  TShow show({4000, 8000, 12000, 16000, 20000},
             Music(Track(Item("a.wav", 20000, "FadeOut=1000\n") +
                         Item("b.wav", 3000, "GUID=" + guid + "\n"))),
             link);
  TMusicComposition c = ReadMain(show);
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[0].duration, 16000);  // cut at opt_synchpos4
  EXPECT_EQ(c.items[0].envelopes[0], (TEnvelope{{15000, 1000}, {16000, 0}}));
  EXPECT_EQ(c.items[1].timeLine, 16000);
  EXPECT_EQ(c.duration, 19000);

  // A linked cross-fade moves the start earlier; the item itself then has none.
  TShow cross({4000, 8000, 12000, 16000, 20000},
              Music(Track(Item("a.wav", 20000) +
                          Item("b.wav", 3000, "GUID=" + guid + "\nCrossMode=0\nCross=700\n"))),
              link);
  c = ReadMain(cross);
  EXPECT_EQ(c.items[0].duration, 15300);
  EXPECT_EQ(c.items[1].timeLine, 15300);
  EXPECT_TRUE(c.items[1].envelopes.empty());

  // Whatever the lengths before it: a short first item leaves a gap.
  TShow gap({4000, 8000, 12000, 16000, 20000},
            Music(Track(Item("a.wav", 5000) + Item("b.wav", 3000, "GUID=" + guid + "\n"))), link);
  c = ReadMain(gap);
  EXPECT_EQ(c.items[0].duration, 5000);
  EXPECT_EQ(c.items[1].timeLine, 16000);
}

TEST(MusicReader, MutedTracksAndSilentItems) {
  TShow show({30000},
             Music(Track(Item("m.wav", 25000), "IsMute=1\n") +
                   Track(Item("a.wav", 2000, "Volume=0\n") + Item("b.wav", 1000, "Volume=50\n"))));
  TMusicComposition c = ReadMain(show);
  ASSERT_EQ(c.items.size(), 1u);  // the muted track and the silent item give nothing
  EXPECT_EQ(c.items[0].fileName, "b.wav");
  EXPECT_EQ(c.items[0].timeLine, 2000);  // the silent item still took its time
  EXPECT_EQ(c.items[0].envelopes[0], (TEnvelope{{0, 500}, {1000, 500}}));
  EXPECT_EQ(c.duration, 3000);
}

TEST(MusicReader, TracksAndVideosNestedFarDeeperThanADocumentMayAreWalkedInOrder) {
  // Only a tree built in memory nests this deep; a loaded document may not.
  TShow show({5000}, Music(Item("a.wav", 1000)), "[Slide1]\nobject Root:Frame\nend\n");
  TIniObject* music = show.doc.Section("Main")->FindObject("Music");
  TIniList* track = music;
  TIniList* frame = show.doc.Section("Slide1")->FirstObject();
  for (int i = 0; i < 100000; ++i) {
    track = track->AddObject("T", "TMusicTrack");
    frame = frame->AddObject("F", "Frame");
  }
  auto add = [](TIniList* list, const char* cls, const char* file, const char* duration) {
    TIniObject* o = list->AddObject("X", cls);
    o->AddItem("FileName", file);
    o->AddItem("Duration", duration);
  };
  add(track, "TMusicItem", "deep.wav", "2000");
  add(music, "TMusicItem", "b.wav", "1000");
  add(frame, "Video", "clip.mp4", "1000");

  // As a recursive walk would: the last item follows the deepest one's track.
  TMusicComposition c = ReadMain(show);
  ASSERT_EQ(c.items.size(), 3u);
  EXPECT_EQ(c.items[0].fileName, "a.wav");
  EXPECT_EQ(c.items[1].fileName, "deep.wav");
  EXPECT_EQ(c.items[2].fileName, "b.wav");
  EXPECT_EQ(c.items[2].timeLine, 2000);
  TMusicOptionsReader reader(*show.src);
  ASSERT_TRUE(reader.SlideComposition(0, c));
  ASSERT_EQ(c.items.size(), 1u);
  EXPECT_EQ(c.items[0].fileName, "clip.mp4");
}

TEST(MusicReader, TracksPlayTogetherAndFadesShapeTheLevel) {
  TShow show(
      {30000},
      Music(Track(Item("a.wav", 4000, "FadeIn=500\nFadeOut=800\nVolume=80\nStartTime=250\n")) +
            Track(Item("b.wav", 6000))));
  TMusicComposition c = ReadMain(show);
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[0].beginTime, 250);
  EXPECT_EQ(c.items[0].envelopes[0], (TEnvelope{{0, 0}, {500, 800}, {3200, 800}, {4000, 0}}));
  EXPECT_EQ(c.items[1].timeLine, 0);  // each track starts at 0
  EXPECT_EQ(c.duration, 6000);
}

TEST(MusicReader, FreeEnvelopeIsRelativeAndEndsAtTheDuration) {
  TEnvelope env;
  // 0.5 s at 1.0, 1 s at 0.5, a repeated time, then 3 s (past the 2 s item).
  ASSERT_TRUE(ParseVolumeParams("22050:65536,44100:32768,44100:32768,132300:0", 100, 2000, env));
  EXPECT_EQ(env, (TEnvelope{{400, 1000}, {900, 500}, {901, 500}, {2000, 225}}));
  TEnvelope bad;
  EXPECT_FALSE(ParseVolumeParams("1:2,x:3", 0, 1000, bad));
  EXPECT_TRUE(IsEmptySoundName("C:\\Music\\error.mp3"));
  EXPECT_TRUE(IsEmptySoundName("  "));
  EXPECT_FALSE(IsEmptySoundName("terror.mp3"));
}

TEST(MusicReader, CompositionTextListsItemsAndEnvelopes) {
  TMusicComposition c;
  c.duration = 7000;
  c.items.push_back({"a.wav", 100, 20, 3000, {{{0, 0}, {10, 1000}}}});
  std::string text = c.ToText();
  ASSERT_EQ(text.rfind("9213AB40-17BB-458F-9C4C-1806F44BEB65", 0), 0u);
  TIniFile doc;
  doc.LoadText(text.substr(36));
  EXPECT_EQ(doc.ReadInteger("Main", "Duration", 0), 7000);
  EXPECT_EQ(doc.ReadString("0", "FileName", ""), "a.wav");
  EXPECT_EQ(doc.ReadInteger("0", "TimeLine", 0), 100);
  EXPECT_EQ(doc.ReadInteger("0", "BeginTime", 0), 20);
  EXPECT_EQ(doc.ReadInteger("0", "FadeCount", 0), 1);
  EXPECT_EQ(doc.ReadInteger("Vol_0_0_1", "0", 0), 10);
  EXPECT_EQ(doc.ReadInteger("Vol_0_0_1", "1", 0), 1000);
}

TEST(MusicSource, SynchronisedMusicLongerThanTheShowDoesNotRepeat) {
  std::string repeat = "object O:TMusicOptions\nIsRepeat=1\nend\n";
  TShow longer({10000, 20000}, "opt_syncmode=1\n" + Music(repeat + Track(Item("a.wav", 20100))));
  TLumMusicSource a(*longer.src);
  ASSERT_TRUE(a.PlayList());
  EXPECT_EQ(a.PlayList()->Total(), 20100);
  EXPECT_FALSE(a.PlayList()->Repeat());
  TShow shorter({10000, 20000}, "opt_syncmode=1\n" + Music(repeat + Track(Item("a.wav", 19800))));
  EXPECT_TRUE(TLumMusicSource(*shorter.src).PlayList()->Repeat());
  TShow free({10000, 20000}, "opt_syncmode=0\n" + Music(repeat + Track(Item("a.wav", 20100))));
  EXPECT_TRUE(TLumMusicSource(*free.src).PlayList()->Repeat());
  TShow off({10000}, Music("music_disable=1\n" + Track(Item("a.wav", 100))));
  EXPECT_EQ(TLumMusicSource(*off.src).PlayList(), nullptr);
}

TEST(MusicSource, PlayListRepeatsAndGrows) {
  TPlayList list;
  list.Add("a", 1000);
  EXPECT_EQ(list.Capacity(), 1u);
  list.Add("b", 500);
  EXPECT_EQ(list.Capacity(), 8u);
  EXPECT_EQ(list.Item(1).start, 1000);
  EXPECT_EQ(list.Item(3).fileName, "");  // not repeating
  list.SetRepeat(true);
  EXPECT_EQ(list.Item(3).fileName, "b");
  EXPECT_EQ(list.Item(3).start, 2500);
}

TEST(MusicSource, SlideCommentsFromSoundCommentsVideosAndOlderKeys) {
  std::string slides =
      "[Slide1]\nobject Music:Music\nobject C:TSoundComment\nFileName=c.wav\nDuration=30000\n"
      "Pause=200\nend\nend\n"
      "[Slide2]\nobject Root:Frame\nobject V:Video\nFileName=clip.mp4\nStartLUMTime=1000\n"
      "StartVideoTime=500\nDuration=20000\nend\nobject G:Video\nFileName=x.gif\nDuration=100\nend\n"
      "object M:Video\nFileName=m.mp4\nMute=1\nDuration=100\nend\nend\n"
      "[Slide3]\nSound=old.wav\nSoundLength=9000\n"
      "[Slide4]\nSound=@\nSoundLength=9000\n";
  TShow show({5000, 9000, 14000, 20000}, "", slides);
  TMusicOptionsReader reader(*show.src);
  TMusicComposition c;
  ASSERT_TRUE(reader.SlideComposition(0, c));
  ASSERT_EQ(c.items.size(), 1u);
  EXPECT_EQ(c.items[0].timeLine, 200);
  EXPECT_EQ(c.items[0].duration, 4800);  // cut to the slide's 5000 ms
  EXPECT_EQ(c.duration, 5000);
  ASSERT_TRUE(reader.SlideComposition(1, c));
  ASSERT_EQ(c.items.size(), 1u);  // the gif and the muted clip do not count
  EXPECT_EQ(c.items[0].fileName, "clip.mp4");
  EXPECT_EQ(c.items[0].timeLine, 1000);
  EXPECT_EQ(c.items[0].beginTime, 500);
  EXPECT_EQ(c.items[0].duration, 3000);  // the slide's 4000 ms minus its start
  TLumMusicSource music(*show.src);
  EXPECT_EQ(music.Slide(2).comment, "old.wav");
  EXPECT_EQ(music.Slide(2).length, 5000);  // cut to the slide
  EXPECT_TRUE(music.Slide(3).comment.empty());
  EXPECT_EQ(music.Slide(4).slide.start, 20000);  // the next cycle
  EXPECT_EQ(music.Slide(4).length, 5000);
}

TEST(MusicSource, FullyPlayedCommentRunsToTheNextComment) {
  std::string comment =
      "object Music:Music\nobject C:TSoundComment\nFileName=c.wav\n"
      "Duration=30000\nend\nend\n";
  TShow show({5000, 9000, 14000}, "opt_fullyplaysound=1\n",
             "[Slide1]\n" + comment + "[Slide3]\n" + comment);
  TLumMusicSource music(*show.src);
  EXPECT_EQ(music.Slide(0).length, 9000);
  EXPECT_EQ(music.Slide(2).length, 5000);  // to the end of the show

  // Many slides: the next comment is found in one pass, not searched per slide.
  std::vector<int> ends;
  for (int i = 1; i <= 20000; ++i) ends.push_back(i * 10);
  std::string longComment = comment;
  longComment.replace(longComment.find("30000"), 5, "9000000");
  TShow many(ends, "opt_fullyplaysound=1\n",
             "[Slide1]\n" + longComment + "[Slide20000]\n" + longComment);
  TLumMusicSource sounds(*many.src);
  EXPECT_EQ(sounds.Slide(0).length, 199990);
  EXPECT_EQ(sounds.Slide(19999).length, 10);
}

// The player on a device pulled in real time by a thread of the test.
class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterSyntheticSource(); }
  void TearDown() override {
    stop = true;  // the pump uses the device the player frees
    if (pump.joinable()) pump.join();
    player.reset();
  }
  void Make(std::unique_ptr<TShow> owned) {
    show = std::move(owned);
    auto b = std::make_unique<TManualSoundBackend>();
    backend = b.get();
    std::vector<std::unique_ptr<TSoundBackend>> list;
    list.push_back(std::move(b));
    auto output = CreateOutputPlayer(std::move(list));
    ASSERT_TRUE(output);
    // Pulled while the device is there (a test may take it away).
    pump = std::thread([this] {
      while (!stop) {
        if (backend->Alive()) backend->Pump(441);
        std::this_thread::sleep_for(10ms);
      }
    });
    player = std::make_unique<TLumMusicPlayer>(show->src.get(), std::move(output));
    player->Start();
  }
  template <class F>
  bool Until(F f, std::chrono::milliseconds limit = 8000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!f()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }
  // The main music's channel, if one is playing.
  std::optional<TChannelView> MainPlaying() {
    for (auto& v : player->Channels())
      if (!v.comment && v.playing) return v;
    return std::nullopt;
  }

  bool Lost() { return player->Output()->DeviceLost(); }
  // Plays, takes the device away for 1.5 s and gives it back.
  void LoseTheDevice(bool synchronised) {
    ASSERT_TRUE(Until([&] { return player->Ready(); }));
    player->SetPlaying(true);
    ASSERT_TRUE(Until([&] { return MainPlaying().has_value(); }));
    ASSERT_TRUE(Until([&] { return player->Position() > 300; }));
    backend->SetAlive(false);
    ASSERT_TRUE(Until([&] { return Lost(); }));
    const double lostAt = player->Position();
    std::this_thread::sleep_for(1500ms);
    EXPECT_NEAR(player->Position() - lostAt, 1500, 100) << "the clock went on";
    if (synchronised) EXPECT_FALSE(MainPlaying().has_value()) << "held like a pause";
    backend->SetAlive(true);
    ASSERT_TRUE(Until([&] { return !Lost(); }));
    ASSERT_TRUE(Until([&] {
      auto v = MainPlaying();
      return v && v->position > lostAt + 1500;
    })) << "the music is still where the device left it";
    std::this_thread::sleep_for(200ms);
    const auto v = MainPlaying();
    ASSERT_TRUE(v.has_value());
    EXPECT_NEAR(v->position, player->Position(), 120);
  }

  std::unique_ptr<TShow> show;  // outlives the player
  TManualSoundBackend* backend = nullptr;
  std::unique_ptr<TLumMusicPlayer> player;
  std::thread pump;
  std::atomic<bool> stop{false};
};

TEST_F(PlayerTest, SynchronisedMusicPausesAndResumesInPlace) {
  Make(std::make_unique<TShow>(std::vector<int>{10000, 20000},
                               "opt_syncmode=1\n" + Music(Track(Item("a.wav", 15000)))));
  ASSERT_TRUE(Until([&] { return player->Ready(); }));
  player->SetPlaying(true);
  ASSERT_TRUE(Until([&] { return MainPlaying().has_value(); }));
  ASSERT_TRUE(Until([&] { return player->Position() > 300; }));
  player->SetPlaying(false);
  ASSERT_TRUE(Until([&] { return !MainPlaying().has_value(); }));
  double paused = player->Position();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(player->Position(), paused);
  EXPECT_FALSE(MainPlaying().has_value());
  double stoppedAt = 0;
  for (auto& v : player->Channels())
    if (!v.comment) stoppedAt = v.position;
  EXPECT_NEAR(stoppedAt, paused, 250);
  player->SetPlaying(true);
  ASSERT_TRUE(Until([&] { return MainPlaying().has_value(); }));
  EXPECT_NEAR(MainPlaying()->position, stoppedAt, 250);  // continues, not from the start
}

// Items hold still while the clock runs on without the device; once it is
// back the music starts again where its clock is.
TEST_F(PlayerTest, SynchronisedMusicStartsAgainWhereTheClockIsOnceALostDeviceIsBack) {
  Make(std::make_unique<TShow>(std::vector<int>{10000, 20000},
                               "opt_syncmode=1\n" + Music(Track(Item("a.wav", 15000)))));
  LoseTheDevice(true);
}

TEST_F(PlayerTest, FreeRunningMusicStartsAgainWhereItsClockIsOnceALostDeviceIsBack) {
  Make(std::make_unique<TShow>(std::vector<int>{10000, 20000},
                               "opt_syncmode=0\n" + Music(Track(Item("a.wav", 15000)))));
  LoseTheDevice(false);
}

TEST_F(PlayerTest, FreeRunningMusicGoesOnThroughPausesAndSeeks) {
  Make(std::make_unique<TShow>(std::vector<int>{10000, 20000},
                               "opt_syncmode=0\n" + Music(Track(Item("a.wav", 15000)))));
  player->SetPlaying(true);
  ASSERT_TRUE(Until([&] { return MainPlaying().has_value(); }));
  ASSERT_TRUE(Until([&] { return player->Position() > 200; }));
  player->SetPlaying(false);
  std::this_thread::sleep_for(150ms);
  ASSERT_TRUE(MainPlaying().has_value());
  player->SetTime(20000, 12000);
  ASSERT_TRUE(Until([&] { return player->Position() == 12000; }));
  std::this_thread::sleep_for(150ms);
  auto v = MainPlaying();
  ASSERT_TRUE(v.has_value());
  EXPECT_LT(v->position, 3000);  // still where it was, not at 12 s
}

TEST_F(PlayerTest, SeekIntoASlideStartsItsCommentFromTheElapsedPart) {
  std::string comment =
      "[Slide2]\nobject Music:Music\nobject C:TSoundComment\nFileName=c.wav\n"
      "Duration=10000\nend\nend\n";
  Make(std::make_unique<TShow>(std::vector<int>{10000, 20000}, "", comment));
  player->SetTime(20000, 13000);
  std::optional<TChannelView> found;
  ASSERT_TRUE(Until([&] {
    for (auto& v : player->Channels())
      if (v.comment && v.ready) found = v;
    return found.has_value() && player->Ready();
  }));
  EXPECT_EQ(found->start, 13000);
  EXPECT_EQ(found->fileOffset, 3000);
  EXPECT_EQ(found->end, 20000);
  player->SetPlaying(true);
  ASSERT_TRUE(Until([&] {
    for (auto& v : player->Channels())
      if (v.comment && v.playing) return v.position >= 3000;
    return false;
  }));
}

TEST(MusicPlayer, WithoutOutputRunsOnTheMillisecondCounter) {
  TShow show({10000}, "");
  EXPECT_THROW(TLumMusicPlayer(nullptr, std::unique_ptr<TMusicPlayerClass>()), EAssertion);
  TLumMusicPlayer player(show.src.get(), std::unique_ptr<TMusicPlayerClass>());
  EXPECT_FALSE(player.HasOutput());
  EXPECT_EQ(player.Volume(), 0.0f);
  player.Start();
  player.SetPlaying(true);
  auto start = std::chrono::steady_clock::now();
  while (player.Position() < 100 && std::chrono::steady_clock::now() - start < 5s)
    std::this_thread::sleep_for(5ms);
  EXPECT_GE(player.Position(), 100);
  player.SetLimit(150);
  std::this_thread::sleep_for(200ms);
  EXPECT_LE(player.Position(), 150);
}

// The whole chain: show document, music player, composite mixer, channels and
// SDL's disk driver, which writes what the device plays to a file.
TEST(MusicPlayerOutput, ShowMusicReachesTheDeviceUnchanged) {
  if (!test::SdlHasAudioDriver("disk")) GTEST_SKIP() << "SDL has no disk audio driver here";
  test::TTempDir dir;
  auto sox = test::RunCommand({"/usr/bin/sox", "-n", "-r", "44100", "-c", "2", "-b", "16",
                               dir / "a.wav", "synth", "3", "sine", "300", "vol", "0.4"});
  ASSERT_EQ(sox.status, 0) << sox.err;
  std::string wav = test::ReadFile(dir / "a.wav");
  std::vector<int16_t> source((wav.size() - 44) / 2);
  std::memcpy(source.data(), wav.data() + 44, source.size() * 2);

  TIniFile doc;
  doc.LoadText(
      "[Main]\nopt_syncmode=1\nobject Music:Music\nobject I:TMusicItem\nFileName=a.wav\n"
      "Duration=3000\nend\nend\n[Times]\nopt_slidescount=1\nopt_synchpos1=5000\n");
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(dir.Path()), dir.Path() + "/");
  TLumSource src(accessor, doc, TLumSourceSettings{"a", 1});

  std::string file = dir / "device.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  SetCompositeHook({});  // the real mixer in place of the sawtooth of other tests
  RegisterCompositeDecoder();
  {
    std::vector<std::unique_ptr<TSoundBackend>> list;
    list.push_back(CreateSdlSoundBackend());
    auto output = CreateOutputPlayer(std::move(list));
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(output) << "the disk audio driver did not open";
    TLumMusicPlayer player(&src, std::move(output));
    player.Start();
    auto until = std::chrono::steady_clock::now() + 10s;
    while (!player.Ready() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(5ms);
    player.SetPlaying(true);
    while (player.Position() < 1500 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(5ms);
    EXPECT_GE(player.Position(), 1500);
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  test::RegisterSyntheticSource();
  std::string raw = test::ReadFile(file);
  std::vector<int16_t> heard(raw.size() / 2);
  std::memcpy(heard.data(), raw.data(), heard.size() * 2);
  size_t first = 0;
  while (first < heard.size() && std::abs(heard[first]) < 200) ++first;
  ASSERT_LT(first, heard.size());
  // Line the device output up with the source where the fades are over.
  const size_t frame0 = first / 2;
  size_t best = 0;
  int64_t bestError = INT64_MAX;
  for (size_t lag = 0; lag < 1323 && lag <= frame0; ++lag) {
    int64_t error = 0;
    for (size_t k = 2205; k < 2205 + 441; ++k)
      error += std::abs(heard[2 * (frame0 - lag + k)] - source[2 * k]);
    if (error < bestError) {
      bestError = error;
      best = lag;
    }
  }
  const size_t start = frame0 - best;
  ASSERT_LT(2 * (start + 44100), heard.size());
  for (size_t k = 1323; k < 44100; k += 3) {
    ASSERT_EQ(heard[2 * (start + k)], source[2 * k]) << k;
    ASSERT_EQ(heard[2 * (start + k) + 1], source[2 * k + 1]) << k;
  }
}

}  // namespace
}  // namespace lum
