#include "engine/input_mapping.h"

#include <gtest/gtest.h>

#include <string>

#include "document/ini_file.h"

namespace lum {
namespace {

TInputMappingClass MappingOf(const std::string& text) {
  TIniFile doc;
  doc.LoadText(text);
  return TInputMappingClass(doc);
}

// The action of a plain key-down, type 0 when unmapped.
TLumActionInfo KeyAction(const TInputMappingClass& m, uint32_t code, uint32_t mods = 0) {
  const TKeyMap* e = m.Key(mods, code, kKeyEventDown);
  return e ? e->Action() : TLumActionInfo{};
}

TEST(InputMapping, DefaultKeyMap) {
  TInputMappingClass m = MappingOf("[Main]\n[Times]\nopt_slidescount=12\n");
  EXPECT_TRUE(m.ControlPermitted());
  EXPECT_EQ(KeyAction(m, vk::kEscape).type, kActionExit);
  for (uint32_t code : {vk::kSpace, vk::kPause, vk::kMediaPlayPause}) {
    EXPECT_EQ(KeyAction(m, code).type, kActionPause) << code;
  }
  EXPECT_EQ(KeyAction(m, vk::kMediaStop).type, kActionStop);
  for (uint32_t code : {vk::kLeft, vk::kPrior, vk::kBrowserBack, vk::kMediaPrevTrack, vk::kUp}) {
    EXPECT_EQ(KeyAction(m, code).type, kActionPrevSlide) << code;
  }
  for (uint32_t code :
       {vk::kRight, vk::kNext, vk::kBrowserForward, vk::kMediaNextTrack, vk::kDown}) {
    EXPECT_EQ(KeyAction(m, code).type, kActionNextSlide) << code;
  }
  EXPECT_EQ(KeyAction(m, vk::kHome), (TLumActionInfo{kActionGotoSlide, 0, ""}));
  EXPECT_EQ(KeyAction(m, vk::kEnd), (TLumActionInfo{kActionGotoSlide, 12, ""}));
  EXPECT_EQ(KeyAction(m, vk::kF1).type, kActionHelp);
  EXPECT_EQ(m.Key(0, 'A', kKeyEventDown), nullptr);
  // Only key-down events are mapped.
  EXPECT_EQ(m.Key(0, vk::kEscape, 2), nullptr);
}

TEST(InputMapping, OptionsDecideTheKeys) {
  TInputMappingClass off = MappingOf("[main]\nopt_synchpermitcontrol=0\n");
  EXPECT_FALSE(off.ControlPermitted());
  for (uint32_t code = 0; code < 256; ++code) {
    bool expected = code == vk::kEscape || code == vk::kF1;
    EXPECT_EQ(off.Key(0, code, kKeyEventDown) != nullptr, expected) << code;
    EXPECT_EQ(off.Key(kModCtrl, code, kKeyEventDown), nullptr) << code;
  }
  // Section names compare case-insensitively; the slide count defaults to 0.
  TInputMappingClass locked = MappingOf("[MAIN]\nopt_lockf1=1\n");
  EXPECT_EQ(locked.Key(0, vk::kF1, kKeyEventDown), nullptr);
  EXPECT_EQ(KeyAction(locked, vk::kEnd), (TLumActionInfo{kActionGotoSlide, 0, ""}));
  EXPECT_EQ(KeyAction(locked, vk::kSpace).type, kActionPause);
  // The End key's slide number comes from [Times], not [Main].
  TInputMappingClass wrongSection = MappingOf("[Main]\nopt_slidescount=7\n");
  EXPECT_EQ(KeyAction(wrongSection, vk::kEnd).intArg, 0);
}

TEST(InputMapping, ModifiersMustBeAsRequired) {
  TInputMappingClass m = MappingOf("");
  EXPECT_EQ(KeyAction(m, 'P', kModCtrl).type, kActionPause);
  EXPECT_EQ(m.Key(0, 'P', kKeyEventDown), nullptr);
  EXPECT_EQ(m.Key(kModCtrl | kModShift, 'P', kKeyEventDown), nullptr);
  // Shift, Alt and Ctrl are in the mask; the Windows key is not.
  EXPECT_EQ(m.Key(kModShift, vk::kRight, kKeyEventDown), nullptr);
  EXPECT_EQ(m.Key(kModAlt, vk::kEscape, kKeyEventDown), nullptr);
  EXPECT_EQ(KeyAction(m, vk::kRight, kModWin).type, kActionNextSlide);
  EXPECT_EQ(KeyAction(m, 'P', kModCtrl | kModWin).type, kActionPause);
}

TEST(InputMapping, LaterEntriesWinAndCodesOutOfRangeMapNothing) {
  TInputMappingClass m;
  EXPECT_EQ(m.Key(0, vk::kSpace, kKeyEventDown), nullptr);
  m.AddKey(vk::kSpace, 0, 0, kKeyEventDown, kActionPause);
  m.AddKey(vk::kSpace, kModShift, kModShift, kKeyEventDown, kActionPrint);
  m.AddKey(vk::kSpace, 0, 0, kKeyEventDown, kActionStop);
  // The newest entry matches any modifiers, so it hides both older ones.
  EXPECT_EQ(KeyAction(m, vk::kSpace, kModShift).type, kActionStop);
  EXPECT_EQ(KeyAction(m, vk::kSpace).type, kActionStop);
  m.AddKey(255, 0, 0, kKeyEventDown, kActionHelp);
  m.AddKey(256, 0, 0, kKeyEventDown, kActionHelp);
  EXPECT_EQ(KeyAction(m, 255).type, kActionHelp);
  EXPECT_EQ(m.Key(0, 256, kKeyEventDown), nullptr);
  EXPECT_EQ(m.Key(0, 0xFFFFFFFFu, kKeyEventDown), nullptr);
}

TEST(InputMapping, ScreenSaverAnswersEveryKeyWithExit) {
  TInputMappingClass m = MappingOf("[main]\nopt_ssaver=1\nopt_synchpermitcontrol=0\n");
  EXPECT_TRUE(m.ScreenSaver());
  ASSERT_NE(m.Detector(), nullptr);
  for (uint32_t code : {uint32_t{'A'}, uint32_t{vk::kSpace}, 300u}) {
    const TKeyMap* e = m.Key(kModCtrl | kModShift, code, kKeyEventDown);
    ASSERT_NE(e, nullptr) << code;
    EXPECT_EQ(e->action, kActionExit);
    EXPECT_EQ(e->mask, 0);
  }
}

TEST(InputMapping, MouseOptionValuesCompareExactly) {
  EXPECT_EQ(MouseOptionAction("Exit").type, kActionExit);
  EXPECT_EQ(MouseOptionAction("Next slide").type, kActionNextSlide);
  EXPECT_EQ(MouseOptionAction("Prev. slide").type, kActionPrevSlide);
  EXPECT_EQ(MouseOptionAction("Help").type, kActionHelp);
  EXPECT_EQ(MouseOptionAction("Pause").type, kActionPause);
  EXPECT_EQ(MouseOptionAction("Go to first"), (TLumActionInfo{kActionGotoSlide, 0, ""}));
  EXPECT_EQ(MouseOptionAction("exit").type, kActionNone);
  EXPECT_EQ(MouseOptionAction("Next Slide").type, kActionNone);
  EXPECT_EQ(MouseOptionAction("Exit ").type, kActionNone);
  EXPECT_EQ(MouseOptionAction("nextslide").type, kActionNone);  // action texts do not apply
  EXPECT_EQ(MouseOptionAction("").type, kActionNone);
}

TEST(InputMapping, MouseButtonsGiveTheirOptions) {
  TInputMappingClass m = MappingOf(
      "[Main]\nopt_leftmouse=Next slide\nopt_rightmouse=Prev. slide\nopt_dblclick=Help\n");
  EXPECT_EQ(m.Detector(), nullptr);
  auto at = [&](uint8_t type, uint8_t button) {
    return m.Mouse(type != kMouseEventMove, 10, 10, type, button, 0).type;
  };
  EXPECT_EQ(at(kMouseEventDown, kPointerLeft), kActionNextSlide);
  EXPECT_EQ(at(kMouseEventDown, kPointerRight), kActionPrevSlide);
  EXPECT_EQ(at(kMouseEventDouble, kPointerLeft), kActionHelp);
  EXPECT_EQ(at(kMouseEventDouble, kPointerRight), kActionNone);
  EXPECT_EQ(at(kMouseEventDown, kPointerMiddle), kActionNone);
  EXPECT_EQ(at(kMouseEventUp, kPointerLeft), kActionNone);
  EXPECT_EQ(at(kMouseEventMove, kPointerLeft), kActionNone);
  EXPECT_EQ(PointerButtonCode(TMouseButton::Right), kPointerRight);
  EXPECT_EQ(PointerButtonCode(TMouseButton::X1), kPointerNone);

  TInputMappingClass none = MappingOf("[Main]\nopt_leftmouse=Jump\n");
  EXPECT_EQ(none.Mouse(true, 0, 0, kMouseEventDown, kPointerLeft, 0).type, kActionNone);
  EXPECT_EQ(none.Mouse(true, 0, 0, kMouseEventDown, kPointerRight, 0).type, kActionNone);
}

TEST(InputMapping, ScreenSaverPointer) {
  TInputMappingClass m = MappingOf("[main]\nopt_ssaver=1\nopt_leftmouse=Pause\n");
  EXPECT_EQ(m.Mouse(false, 100, 100, kMouseEventMove, kPointerNone, 0).type, kActionNone);
  EXPECT_EQ(m.Mouse(false, 105, 100, kMouseEventMove, kPointerNone, 10).type, kActionNone);
  EXPECT_EQ(m.Mouse(false, 97, 98, kMouseEventMove, kPointerNone, 20).type, kActionNone);
  EXPECT_EQ(m.Mouse(false, 103, 103, kMouseEventMove, kPointerNone, 30).type, kActionExit);
  // Any event with a button down ends it, whatever the option says.
  EXPECT_EQ(m.Mouse(true, 103, 103, kMouseEventUp, kPointerRight, 40).type, kActionExit);
  EXPECT_EQ(m.Mouse(true, 103, 103, kMouseEventDown, kPointerLeft, 40).type, kActionExit);

  TInputMappingClass onMove = MappingOf("[main]\nopt_exitonmove=1\nopt_leftmouse=Pause\n");
  EXPECT_FALSE(onMove.ScreenSaver());
  EXPECT_EQ(onMove.Mouse(true, 0, 0, kMouseEventDown, kPointerLeft, 0).type, kActionPause);
  EXPECT_EQ(onMove.Mouse(false, 0, 6, kMouseEventMove, kPointerNone, 0).type, kActionExit);
}

TEST(MouseMoveDetector, MovesAgainstTheReference) {
  TMouseMoveDetector d;
  EXPECT_FALSE(d.Moved(50, 50, 100));  // reference only
  EXPECT_EQ(d.MoveCount(), 0);
  EXPECT_FALSE(d.Moved(54, 51, 200));
  EXPECT_FALSE(d.Moved(46, 49, 300));  // still measured from 50, 50
  EXPECT_TRUE(d.Moved(50, 44, 400));
  EXPECT_EQ(d.MoveCount(), 1);
  EXPECT_EQ(d.LastMoveTick(), 400);
  EXPECT_FALSE(d.Moved(54, 44, 500));  // new reference 50, 44
  EXPECT_TRUE(d.Moved(-2000000000, 2000000000, 600));
  EXPECT_TRUE(d.Moved(2000000000, -2000000000, 700));
  EXPECT_EQ(d.MoveCount(), 3);
}

TEST(MouseMoveDetector, IdleAndSuspension) {
  TMouseMoveDetector d(1000);
  EXPECT_FALSE(d.Idle(1000));
  EXPECT_TRUE(d.Idle(1001));
  d.Moved(0, 0, 1500);
  EXPECT_TRUE(d.Idle(1600));  // the first position is no move
  d.Moved(10, 0, 2000);
  EXPECT_FALSE(d.Idle(3000));
  EXPECT_TRUE(d.Idle(3001));
  d.Suspend();
  EXPECT_FALSE(d.Idle(9000));
  EXPECT_TRUE(d.Moved(20, 0, 9100));  // moves still count while suspended
  d.Resume(10000);
  EXPECT_FALSE(d.Idle(11000));
  EXPECT_TRUE(d.Idle(11001));
}

}  // namespace
}  // namespace lum
