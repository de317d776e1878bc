#include "support/player_shows.h"


namespace lum::test {

namespace {

std::string Effect(int ms) {
  return "object TheEffect:AnEffect\nref=dissolve\ntime=" + std::to_string(ms) + "\nend\n";
}

// The document stores colours as Windows colour values (0xBBGGRR).
std::string WindowsColor(uint32_t rgb) {
  const uint32_t bgr = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
  return std::to_string(bgr);
}

}  // namespace

uint32_t SlideColor(int i) {
  static const uint32_t colors[] = {0xC02020, 0x20C020, 0x2020C0, 0xC0C020, 0x20C0C0};
  return colors[i % 5];
}

std::string SlideShowText(int count, int slideMs, int transitionMs, bool repeat, int broken,
                          const std::string& brokenObjects, const std::string& mainExtra,
                          const std::vector<std::string>& endActions) {
  std::string t = "[Main]\nMinorVersion=13\nopt_scr_width=320\nopt_scr_height=240\n";
  t += "opt_scr_full=0\nopt_withoutborder=1\nopt_pausewheninactive=0\n";
  t += std::string("opt_repeat=") + (repeat ? "repeat" : "stop") + "\n" + mainExtra;
  if (transitionMs > 0)
    t += "object TheEffect:AnEffect\ntime=" + std::to_string(transitionMs) +
         "\ncustom_count=0\nobject dissolve:dissolve\ncaption=Dissolve\nkey=checked\n"
         "checked=1\ngroup=GroupBasic\nstdidx=2\nend\nend\n";
  t += "[Times]\nopt_slidescount=" + std::to_string(count) + "\n";
  for (int i = 0; i < count; ++i)
    t += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string((i + 1) * slideMs) + "\n";
  for (int i = 0; i < count; ++i) {
    t += "[Slide" + std::to_string(i + 1) + "]\nslideid=Slide " + std::to_string(i + 1) +
         "\nbstyle=1\nbcolor=" + WindowsColor(SlideColor(i)) + "\n";
    if (size_t(i) < endActions.size() && !endActions[size_t(i)].empty())
      t += "Pers_EndAction=" + endActions[size_t(i)] + "\n";
    if (transitionMs > 0) t += Effect(transitionMs);
    t += "object Container:Root\n" + (i == broken ? brokenObjects : std::string()) + "end\n";
  }
  return t;
}

TShowFiles::TShowFiles(const std::string& text) {
  doc_.LoadText(text);
  accessor_ = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(), "/nonexistent-show-folder/");
  source_ = std::make_unique<TLumSource>(accessor_, doc_, TLumSourceSettings{"x", 1});
}

}  // namespace lum::test
