#pragma once
// Generated shows for the transition tests: slides of two very different
// flat colours (red, blue alternating) changing through every built-in
// family and variant, and slides changing through slide-based effects of
// each "CustomEffBg" kind.
#include <string>
#include <vector>

namespace lum::test {

// One transition of a generated show: its "TheEffect" keys.
struct TTransitionStep {
  std::string name;  // description, e.g. "gates 3"
  std::string keys;  // ref=..., direction=..., ...
  std::string family;
};

// Every family and variant of the built-in transitions.
std::vector<TTransitionStep> EveryBuiltInTransition();

inline constexpr int kStepMs = 1000;         // each slide begins kStepMs after the last
inline constexpr int kTransitionMs = 600;    // each slide's incoming transition
inline constexpr uint32_t kRed = 0xFF0000;   // even slides
inline constexpr uint32_t kBlue = 0x0000FF;  // odd slides

// A show of steps.size() + 1 slides, 320 x 240 design units; slide i + 1
// comes in through steps[i].
std::string TransitionShowText(const std::vector<TTransitionStep>& steps);

// The same show with each slide covered by a picture, "even.bmp" or
// "odd.bmp" by its number, over its colour.
std::string PictureTransitionShowText(const std::vector<TTransitionStep>& steps);

// A picture object fitted to cover its slide, with extra keys of its own
// and of its key point.
std::string CoverPicture(const std::string& name, const std::string& keys = "",
                         const std::string& keyPoint = "");

// A show of five slides whose transitions are custom ones: "CustomEffBg" 0
// (a green effect background, the incoming slide's picture growing from the
// centre), 1, 2 and 3 (each with a small white box of its own in the
// centre; 2 also the outgoing slide's picture at a quarter size in the
// top-left corner), and one whose section is missing (cross-fades). Slides
// alternate red and blue as above; effect time ("CustomEffTime") 2000 ms
// over a transition of kTransitionMs. With pictures, each slide is covered
// by a picture as in PictureTransitionShowText.
std::string CustomTransitionShowText(bool pictures = false);

}  // namespace lum::test
