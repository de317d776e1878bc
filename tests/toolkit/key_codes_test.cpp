// Key, pointer and window events reach listeners with the show's codes; the
// window thread runs requests posted from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "toolkit/key_codes.h"
#include "toolkit/window.h"

namespace lum {
namespace {

TEST(KeyCodes, KeysMapToVirtualKeys) {
  EXPECT_EQ(VirtualKeyOf(SDLK_a, SDL_SCANCODE_A), 'A');
  EXPECT_EQ(VirtualKeyOf(SDLK_z, SDL_SCANCODE_Z), 'Z');
  EXPECT_EQ(VirtualKeyOf(SDLK_0, SDL_SCANCODE_0), '0');
  EXPECT_EQ(VirtualKeyOf(SDLK_7, SDL_SCANCODE_7), '7');
  EXPECT_EQ(VirtualKeyOf(SDLK_F1, SDL_SCANCODE_F1), 0x70);
  EXPECT_EQ(VirtualKeyOf(SDLK_F12, SDL_SCANCODE_F12), 0x7B);
  EXPECT_EQ(VirtualKeyOf(SDLK_F13, SDL_SCANCODE_F13), 0x7C);
  EXPECT_EQ(VirtualKeyOf(SDLK_LEFT, SDL_SCANCODE_LEFT), 0x25);
  EXPECT_EQ(VirtualKeyOf(SDLK_UP, SDL_SCANCODE_UP), 0x26);
  EXPECT_EQ(VirtualKeyOf(SDLK_RIGHT, SDL_SCANCODE_RIGHT), 0x27);
  EXPECT_EQ(VirtualKeyOf(SDLK_DOWN, SDL_SCANCODE_DOWN), 0x28);
  EXPECT_EQ(VirtualKeyOf(SDLK_PAGEUP, SDL_SCANCODE_PAGEUP), 0x21);
  EXPECT_EQ(VirtualKeyOf(SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN), 0x22);
  EXPECT_EQ(VirtualKeyOf(SDLK_END, SDL_SCANCODE_END), 0x23);
  EXPECT_EQ(VirtualKeyOf(SDLK_HOME, SDL_SCANCODE_HOME), 0x24);
  EXPECT_EQ(VirtualKeyOf(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE), 0x1B);
  EXPECT_EQ(VirtualKeyOf(SDLK_SPACE, SDL_SCANCODE_SPACE), 0x20);
  EXPECT_EQ(VirtualKeyOf(SDLK_PAUSE, SDL_SCANCODE_PAUSE), 0x13);
  EXPECT_EQ(VirtualKeyOf(SDLK_AC_BACK, SDL_SCANCODE_AC_BACK), 0xA6);
  EXPECT_EQ(VirtualKeyOf(SDLK_AC_FORWARD, SDL_SCANCODE_AC_FORWARD), 0xA7);
  EXPECT_EQ(VirtualKeyOf(SDLK_AC_HOME, SDL_SCANCODE_AC_HOME), 0xAC);
  EXPECT_EQ(VirtualKeyOf(SDLK_AUDIONEXT, SDL_SCANCODE_AUDIONEXT), 0xB0);
  EXPECT_EQ(VirtualKeyOf(SDLK_AUDIOPREV, SDL_SCANCODE_AUDIOPREV), 0xB1);
  EXPECT_EQ(VirtualKeyOf(SDLK_AUDIOSTOP, SDL_SCANCODE_AUDIOSTOP), 0xB2);
  EXPECT_EQ(VirtualKeyOf(SDLK_AUDIOPLAY, SDL_SCANCODE_AUDIOPLAY), 0xB3);
  EXPECT_EQ(VirtualKeyOf(SDLK_VOLUMEUP, SDL_SCANCODE_VOLUMEUP), 0xAF);
  EXPECT_EQ(VirtualKeyOf(SDLK_KP_5, SDL_SCANCODE_KP_5), 0x65);
  EXPECT_EQ(VirtualKeyOf(SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS), 0x6B);
  EXPECT_EQ(VirtualKeyOf(SDLK_RETURN, SDL_SCANCODE_RETURN), 0x0D);
  EXPECT_EQ(VirtualKeyOf(SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN), 0);
  // Letters follow the layout's character: a French layout's "a" key is A.
  EXPECT_EQ(VirtualKeyOf(SDLK_a, SDL_SCANCODE_Q), 'A');
}

TEST(KeyCodes, ModifierBits) {
  EXPECT_EQ(ModifierBitsOf(KMOD_NONE), 0u);
  EXPECT_EQ(ModifierBitsOf(KMOD_LGUI), kModWin);
  EXPECT_EQ(ModifierBitsOf(KMOD_RSHIFT), kModShift);
  EXPECT_EQ(ModifierBitsOf(KMOD_LALT), kModAlt);
  EXPECT_EQ(ModifierBitsOf(KMOD_RCTRL), kModCtrl);
  EXPECT_EQ(ModifierBitsOf(KMOD_LCTRL | KMOD_LSHIFT | KMOD_NUM), kModCtrl | kModShift);
  EXPECT_EQ(kModWin | kModShift | kModAlt | kModCtrl, 15u);
}

TEST(KeyCodes, WheelFractionsAddUpToExactlyTheirWholeNotches) {
  for (const float step : {0.01f, -0.01f}) {
    TWheelAccumulator wheel;
    int notches = 0;
    for (int i = 0; i < 10000; ++i) notches += wheel.Add(step);
    EXPECT_EQ(notches, step > 0 ? 100 : -100);
    EXPECT_EQ(wheel.Remainder(), 0);
  }
  TWheelAccumulator wheel;
  EXPECT_EQ(wheel.Add(2.75), 2);
  EXPECT_EQ(wheel.Add(-0.5), 0);  // turning back spends the fraction first
  EXPECT_DOUBLE_EQ(wheel.Remainder(), 0.25);
  EXPECT_EQ(wheel.Add(-1.5), -1);
  EXPECT_DOUBLE_EQ(wheel.Remainder(), -0.25);
  for (const double broken : {std::nan(""), 1e300, -1e300}) EXPECT_EQ(wheel.Add(broken), 0);
  EXPECT_DOUBLE_EQ(wheel.Remainder(), -0.25);
}

class WindowEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    // SDL itself says whether there is a display; with one, ours must start.
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
      GTEST_SKIP() << "no display: " << SDL_GetError();
    std::string error;
    ASSERT_TRUE(TWindowThread::Init(&error)) << error;
    TWindowOptions o;
    o.width = 80;
    o.height = 60;
    o.hidden = true;
    window = std::make_unique<TWindow>(o);
  }
  std::unique_ptr<TWindow> window;
};

TEST_F(WindowEvents, InputReachesTheListenerTranslated) {
  uint16_t key = 0;
  uint32_t keyMods = 0;
  bool down = false, dbl = false;
  TMouseButton button = TMouseButton::None;
  int wheel = 0, mx = -1, my = -1;
  window->Listener().key = [&](uint16_t k, uint32_t m, bool d, bool) {
    key = k, keyMods = m, down = d;
  };
  window->Listener().mouseButton = [&](TMouseButton b, bool, bool d, int x, int y, uint32_t) {
    button = b, dbl = d, mx = x, my = y;
  };
  window->Listener().wheel = [&](int d, uint32_t) { wheel += d; };

  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = window->Id();
  e.key.keysym.sym = SDLK_PAGEDOWN;
  e.key.keysym.scancode = SDL_SCANCODE_PAGEDOWN;
  e.key.keysym.mod = KMOD_LCTRL | KMOD_LALT;
  EXPECT_TRUE(window->HandleEvent(e));
  EXPECT_EQ(key, 0x22);
  EXPECT_EQ(keyMods, kModCtrl | kModAlt);
  EXPECT_TRUE(down);

  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = window->Id();
  b.button.button = SDL_BUTTON_RIGHT;
  b.button.clicks = 2;
  b.button.x = 12;
  b.button.y = 34;
  EXPECT_TRUE(window->HandleEvent(b));
  EXPECT_EQ(button, TMouseButton::Right);
  EXPECT_TRUE(dbl);
  EXPECT_EQ(mx, 12);
  EXPECT_EQ(my, 34);

  SDL_Event w{};
  w.type = SDL_MOUSEWHEEL;
  w.wheel.windowID = window->Id();
  w.wheel.y = -1;
  w.wheel.preciseY = -1;
  EXPECT_TRUE(window->HandleEvent(w));
  EXPECT_EQ(wheel, -120);
  // A touchpad's quarter notches reach the listener as whole ones.
  w.wheel.y = 0;
  w.wheel.preciseY = 0.25f;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(window->HandleEvent(w));
  EXPECT_EQ(wheel, -120);
  EXPECT_TRUE(window->HandleEvent(w));
  EXPECT_EQ(wheel, 0);

  // Events of another window are not ours.
  e.key.windowID = window->Id() + 100;
  key = 0;
  EXPECT_FALSE(window->HandleEvent(e));
  EXPECT_EQ(key, 0);
}

TEST_F(WindowEvents, ActivationAndMinimisedStateFollowWindowEvents) {
  std::vector<std::string> seen;
  window->Listener().activation = [&](bool a) { seen.push_back(a ? "active" : "inactive"); };
  window->Listener().minimized = [&](bool m) { seen.push_back(m ? "min" : "restored"); };
  auto send = [&](SDL_WindowEventID id) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = window->Id();
    e.window.event = id;
    window->HandleEvent(e);
  };
  send(SDL_WINDOWEVENT_FOCUS_GAINED);
  EXPECT_TRUE(window->Active());
  send(SDL_WINDOWEVENT_FOCUS_LOST);
  EXPECT_FALSE(window->Active());
  send(SDL_WINDOWEVENT_MINIMIZED);
  EXPECT_TRUE(window->Minimized());
  send(SDL_WINDOWEVENT_RESTORED);
  EXPECT_FALSE(window->Minimized());
  EXPECT_EQ(seen, (std::vector<std::string>{"active", "inactive", "min", "restored"}));
}

TEST_F(WindowEvents, GeometryAndModes) {
  EXPECT_EQ(window->ClientRect(), (TScreenRect{0, 0, 80, 60}));
  int geometry = 0;
  window->Listener().geometry = [&] { ++geometry; };
  window->SetClientSize(120, 90);
  EXPECT_EQ(window->ClientRect(), (TScreenRect{0, 0, 120, 90}));
  auto monitors = ListMonitors();
  ASSERT_FALSE(monitors.empty());
  EXPECT_GT(monitors[0].current.width, 0);
  EXPECT_GT(monitors[0].current.bitsPerPixel, 0);
  window->SetMode(TWindowMode::FullScreenMonitor, 0);
  EXPECT_TRUE(window->FullScreen());
  EXPECT_EQ(window->ClientRect().Width(), monitors[0].rect.Width());
  window->SetMode(TWindowMode::FramedResizable);
  EXPECT_FALSE(window->FullScreen());
  EXPECT_EQ(window->ClientRect(), (TScreenRect{0, 0, 120, 90}));
  EXPECT_EQ(geometry, 3);
}

TEST_F(WindowEvents, RequestsPostedFromOtherThreadsRunOnTheWindowThread) {
  std::atomic<int> ran{0};
  std::thread::id where;
  std::thread poster([&] {
    EXPECT_FALSE(TWindowThread::IsWindowThread());
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(TWindowThread::Post([&, i] {
        EXPECT_EQ(ran.load(), i);  // in order
        ++ran;
        where = std::this_thread::get_id();
      }));
  });
  poster.join();
  for (int i = 0; i < 50 && ran < 3; ++i) TWindowThread::Pump(10);
  EXPECT_EQ(ran.load(), 3);
  EXPECT_EQ(where, std::this_thread::get_id());
  EXPECT_TRUE(TWindowThread::IsWindowThread());
}

}  // namespace
}  // namespace lum
