#include "transitions/transition_shows.h"

namespace lum::test {

namespace {

// A flag string of n characters with character k (1-based) set.
std::string One(int n, int k) {
  std::string s(size_t(n), '0');
  s[size_t(k - 1)] = '1';
  return s;
}

std::string WindowsColor(uint32_t rgb) {
  return std::to_string(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

std::string Header(int slides) {
  std::string t =
      "[Main]\nMinorVersion=13\nopt_scr_width=320\nopt_scr_height=240\nopt_repeat=stop\n"
      "object TheEffect:AnEffect\ntime=600\ncustom_count=4\n"
      "object dissolve:dissolve\ncaption=Dissolve\nkey=checked\nchecked=1\nstdidx=2\nend\n";
  // Custom entries: bstyle 4 borrows by "CustomEffBg"; bstyle 1 keeps its own colour.
  t += "object fxbg0:custom\nkey=\nchecked=1\nbstyle=1\nbcolor=" + WindowsColor(0x00FF00) +
       "\nend\n";
  for (int k = 1; k <= 3; ++k)
    t += "object fxbg" + std::to_string(k) +
         ":custom\nkey=\nchecked=1\nbstyle=4\nCustomEffBg=" + std::to_string(k) + "\nend\n";
  t += "end\n[Times]\nopt_slidescount=" + std::to_string(slides) + "\n";
  for (int i = 0; i < slides; ++i)
    t += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string((i + 1) * kStepMs) + "\n";
  return t;
}

std::string Slide(int i, const std::string& effectKeys, const std::string& objects = "") {
  std::string t = "[Slide" + std::to_string(i + 1) +
                  "]\nbstyle=1\nbcolor=" + WindowsColor(i % 2 ? kBlue : kRed) + "\n";
  if (!effectKeys.empty())
    t += "object TheEffect:AnEffect\n" + effectKeys + "time=" + std::to_string(kTransitionMs) +
         "\nend\n";
  return t + "object Container:Root\n" + objects + "end\n";
}

// A small white box in the middle of a 320 x 240 effect.
const char* kWhiteBox =
    "object W:Box\nGUID={9}\nSize=40,40\nFitMode=None\nColor1=255,255,255\nend\n";

}  // namespace

std::vector<TTransitionStep> EveryBuiltInTransition() {
  std::vector<TTransitionStep> s;
  s.push_back({"dissolve", "ref=dissolve\nchecked=1\n", "dissolve"});
  for (int a = 1; a <= 2; ++a)
    for (int d = 1; d <= 3; ++d)
      s.push_back({"shapes " + std::to_string(a) + "/" + std::to_string(d),
                   "ref=shapes\naction=" + One(2, a) + "\ndirection=" + One(3, d) +
                       "\ncenterx=40\ncentery=60\n",
                   "shapes"});
  for (int d = 1; d <= 8; ++d)
    s.push_back(
        {"gates " + std::to_string(d), "ref=gates\ndirection=" + One(8, d) + "\n", "gates"});
  for (int d = 1; d <= 8; ++d)
    s.push_back({"page " + std::to_string(d), "ref=page\ndirection=" + One(8, d) + "\n", "page"});
  s.push_back({"mosaic", "ref=mosaic\nchecked=1\ncols=8\nrows=6\nappearence=40\n", "mosaic"});
  for (int d = 1; d <= 4; ++d)
    s.push_back({"push " + std::to_string(d), "ref=push\ndirection=" + One(4, d) + "\n", "push"});
  for (int d = 1; d <= 4; ++d)
    s.push_back(
        {"slide " + std::to_string(d), "ref=slide\ndirection=" + One(4, d) + "\n", "slide"});
  for (int a = 1; a <= 2; ++a)
    for (int d = 1; d <= 9; ++d)
      s.push_back({"hourhand " + std::to_string(a) + "/" + std::to_string(d),
                   "ref=hourhand\naction=" + One(2, a) + "\ndirection=" + One(9, d) +
                       "\noffset=0.2\nsmoothline=0.1\n",
                   d == 5 ? "clock" : "broom"});
  for (int a = 1; a <= 2; ++a)
    for (int d = 1; d <= 8; ++d)
      s.push_back({"curling " + std::to_string(a) + "/" + std::to_string(d),
                   "ref=curling\naction=" + One(2, a) + "\ndirection=" + One(8, d) +
                       "\nradius=0.06\npipe=" + std::to_string(d % 2) +
                       "\nusecolor=" + std::to_string(a - 1) + "\ncolor=" + WindowsColor(0xE0E0E0) +
                       "\nusevolume=" + std::to_string(d > 4) + "\n",
                   "curl"});
  for (int d = 1; d <= 4; ++d)
    for (int o = 0; o < 4; ++o)
      s.push_back({"flip " + std::to_string(d) + "/" + std::to_string(o),
                   "ref=flip\ndirection=" + One(4, d) + "\nspin_center=" + std::to_string(o & 1) +
                       "\nnonlinear_speed=" + std::to_string(o >> 1) + "\n",
                   "flip"});
  for (int d = 1; d <= 4; ++d)
    s.push_back({"swap " + std::to_string(d), "ref=swap\ndirection=" + One(4, d) + "\n", "swap"});
  return s;
}

std::string TransitionShowText(const std::vector<TTransitionStep>& steps) {
  const int n = int(steps.size()) + 1;
  std::string t = Header(n);
  for (int i = 0; i < n; ++i) t += Slide(i, i == 0 ? "" : steps[size_t(i - 1)].keys);
  return t;
}

std::string PictureTransitionShowText(const std::vector<TTransitionStep>& steps) {
  const int n = int(steps.size()) + 1;
  std::string t = Header(n);
  for (int i = 0; i < n; ++i)
    t += Slide(i, i == 0 ? "" : steps[size_t(i - 1)].keys,
               CoverPicture(i % 2 ? "odd.bmp" : "even.bmp"));
  return t;
}

std::string CoverPicture(const std::string& name, const std::string& keys,
                         const std::string& keyPoint) {
  return "object P:Image\nGUID={7}\nImageName=" + name + "\nFitMode=Cover\n" + keys +
         "object K:KeyPoint\nTime=0\n" + keyPoint + "end\nend\n";
}

std::string CustomTransitionShowText(bool pictures) {
  auto objects = [&](int i) {
    return pictures ? CoverPicture(i % 2 ? "odd.bmp" : "even.bmp") : std::string();
  };
  std::string t = Header(6);
  t += Slide(0, "", objects(0));
  for (int k = 0; k <= 3; ++k)
    t += Slide(k + 1, "ref=fxbg" + std::to_string(k) + "\n", objects(k + 1));
  t += Slide(5, "ref=nosuchfx\n", objects(5));
  // CustomEffBg 0: the incoming slide's picture grows from the centre over
  // the effect's own green background.
  t += "[effect_fxbg0]\nCustomEffTime=2000\nobject Container:Root\n"
       "object In:Image\nGUID={1}\nReplaceWithEffectBuffer=2\nFitMode=None\n"
       "object K:KeyPoint\nTime=0\nScaleX=0\nScaleY=0\nend\n"
       "object K:KeyPoint\nTime=2000\nScaleX=100\nScaleY=100\nend\nend\nend\n";
  for (int k = 1; k <= 3; ++k) {
    t += "[effect_fxbg" + std::to_string(k) + "]\nCustomEffTime=2000\nobject Container:Root\n" +
         kWhiteBox;
    // 2 also shows the outgoing slide's picture, a quarter size, top left.
    if (k == 2)
      t += "object Out:Image\nGUID={2}\nReplaceWithEffectBuffer=1\nFitMode=None\n"
           "PosMode=Percent\nobject K:KeyPoint\nTime=0\nPosition=-75,-75\nScaleX=25\n"
           "ScaleY=25\nend\nend\n";
    t += "end\n";
  }
  return t;
}

}  // namespace lum::test
