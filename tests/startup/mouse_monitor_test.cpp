// The pointer watcher: enter and leave, and hiding the cursor after the
// pointer stood still for longer than the hide interval.
#include <gtest/gtest.h>

#include <vector>

#include "startup/mouse_monitor.h"

namespace lum {
namespace {

class MouseMonitor : public testing::Test {
 protected:
  MouseMonitor() : m_([this] { return now_; }) {
    m_.onEnter = [this] { events_.push_back("enter"); };
    m_.onLeave = [this] { events_.push_back("leave"); };
    m_.onHidden = [this](bool hidden) { events_.push_back(hidden ? "hidden" : "visible"); };
  }
  // Polls every 20 ms up to t.
  void PollUntil(int64_t t) {
    while (now_ < t) {
      now_ = std::min(t, now_ + TMouseMonitor::kPollIntervalMs);
      m_.Poll();
    }
  }

  int64_t now_ = 1000;
  TMouseMonitor m_;
  std::vector<std::string> events_;
};

using Events = std::vector<std::string>;

TEST_F(MouseMonitor, HidesOnlyAfterMoreThanTheInterval) {
  m_.SetHideInterval(3000);
  m_.PointerAt(100, 100, true);
  PollUntil(4000);  // exactly the interval
  EXPECT_FALSE(m_.Hidden());
  PollUntil(4020);
  EXPECT_TRUE(m_.Hidden());
  PollUntil(9000);
  EXPECT_EQ(events_, (Events{"enter", "hidden"}));
}

TEST_F(MouseMonitor, OnlyMovesOfMoreThanFourPixelsCount) {
  m_.SetHideInterval(1000);
  m_.PointerAt(100, 100, true);
  now_ = 1500;
  m_.PointerAt(104, 96, true);  // jitter
  EXPECT_EQ(m_.LastMoveTick(), 1000);
  PollUntil(2020);
  EXPECT_TRUE(m_.Hidden());
  // A slow drift counts once it adds up to more than 4 pixels.
  m_.PointerAt(102, 100, true);
  m_.PointerAt(104, 100, true);
  EXPECT_TRUE(m_.Hidden());
  m_.PointerAt(105, 100, true);
  EXPECT_FALSE(m_.Hidden());
  EXPECT_EQ(m_.LastX(), 105);
  EXPECT_EQ(m_.LastMoveTick(), 2020);
  now_ = 2500;
  m_.PointerAt(105, 90, true);
  PollUntil(3500);
  EXPECT_FALSE(m_.Hidden());
  PollUntil(3520);
  EXPECT_TRUE(m_.Hidden());
  EXPECT_EQ(events_, (Events{"enter", "hidden", "visible", "hidden"}));
}

TEST_F(MouseMonitor, IntervalZeroNeverChangesAndHideAlwaysStaysHidden) {
  m_.PointerAt(10, 10, true);
  m_.SetHideInterval(0);
  PollUntil(100000);
  EXPECT_FALSE(m_.Hidden());
  m_.SetHiddenAlways();
  EXPECT_TRUE(m_.Hidden());
  m_.PointerAt(500, 500, true);
  m_.PointerLeft();
  m_.PointerAt(0, 0, true);
  m_.RestartIdle();
  PollUntil(200000);
  EXPECT_TRUE(m_.Hidden());
  // The next show's options bring the cursor back.
  m_.SetHideInterval(2000);
  EXPECT_FALSE(m_.Hidden());
  EXPECT_EQ(events_, (Events{"enter", "hidden", "leave", "enter", "visible"}));
}

TEST_F(MouseMonitor, EnterLeaveAndRestartedIdle) {
  m_.SetHideInterval(500);
  PollUntil(5000);
  EXPECT_FALSE(m_.Hidden());  // not over the window: nothing to hide
  m_.PointerAt(50, 50, false);
  m_.PointerAt(50, 50, true);
  m_.PointerAt(51, 50, true);
  PollUntil(5520);
  EXPECT_TRUE(m_.Hidden());
  // Over the navigation panel the owner keeps the cursor and restarts the idle time.
  m_.RestartIdle();
  EXPECT_FALSE(m_.Hidden());
  PollUntil(6000);
  EXPECT_FALSE(m_.Hidden());
  PollUntil(6040);
  EXPECT_TRUE(m_.Hidden());
  // Entering again counts as a move.
  m_.PointerAt(50, 50, false);
  m_.PointerLeft();
  m_.PointerAt(50, 50, true);
  EXPECT_FALSE(m_.Hidden());
  EXPECT_TRUE(m_.Inside());
  EXPECT_EQ(events_, (Events{"enter", "hidden", "hidden", "leave", "enter", "visible"}));
}

}  // namespace
}  // namespace lum
