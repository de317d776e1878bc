#include "project/show_options.h"

#include <algorithm>

#include "foundation/case_fold.h"

namespace lum {

namespace {

using enum TOptionType;

// Window sizes default to 640 x 480 where a window is made; the table gives
// the slide design size, which is what a show is laid out in.
const std::vector<TShowOption> kOptions = {
    {"LumVersion", Text, ""},
    {"ProjectFilePath", Text, ""},
    {"projectname", Text, ""},
    {"opt_exefn", Text, ""},
    {"opt_scr_full", Integer, "1"},
    {"opt_scr_width", Integer, "1920"},
    {"opt_scr_height", Integer, "1080"},
    {"opt_withoutborder", Boolean, "1"},
    {"opt_scr_caption", Text, "LumViewer v5.6"},
    {"opt_scr_noexclusive", Boolean, "0"},
    {"opt_scr_fullfixedsize", Boolean, "0"},
    {"opt_scr_ratio", Float, ""},
    {"opt_scr_hidercolor", Integer, "0"},
    {"opt_scr_unsharpamount", Float, "0"},
    {"opt_pausewheninactive", Boolean, "1"},
    {"opt_repeat", Choice, "repeat"},
    {"opt_manualshow", Boolean, "0"},
    {"opt_hidecursor", Integer, "0"},
    {"opt_hc2_hideinterval", Integer, "0"},
    {"opt_lockwheel", Boolean, "0"},
    {"opt_runapponexit", Integer, "0"},
    {"opt_runapponexitiflastslide", Boolean, "1"},
    {"opt_runapponexitfn", Text, ""},
    {"opt_usepass", Boolean, "0"},
    {"opt_pass", Text, ""},
    {"opt_ssaver", Boolean, "0"},
    {"opt_exitonmove", Boolean, "0"},
    {"opt_leftmouse", Text, ""},
    {"opt_rightmouse", Text, ""},
    {"opt_dblclick", Text, ""},
    {"opt_synchpermitcontrol", Boolean, "1"},
    {"opt_lockf1", Boolean, "0"},
    {"opt_customdialogscount", Integer, "0"},
    {"opt_lng_button_ok", Text, "OK"},
    {"opt_lng_button_cancel", Text, "Cancel"},
    {"opt_lng_password_caption", Text, "Password required"},
    {"opt_lng_password_label", Text, "Enter password:"},
    {"opt_lng_print_caption", Text, "Print"},
    {"opt_lng_print_label", Text, "Change Printer"},
    {"opt_lng_print_button5", Text, "Print"},
    {"opt_lng_print_button6", Text, "Save"},
    {"opt_lng_print_button7", Text, "Only Main Image"},
    {"opt_disablemusicrandom", Boolean, "0"},
    {"opt_fullyplaysound", Boolean, "0"},
    {"opt_syncmode", Boolean, "0"},
    {"opt_wmapath", Text, ""},
    {"opt_oggpath", Text, ""},
    {"ColorManagement", Text, ""},
    {"opt_hidenavbar", Boolean, "0"},
    {"opt_fcp", Boolean, "0"},
    {"opt_cp", Text, ""},
    {"opt_nav_inifile", Text, ""},
    {"opt_nav_hue", Integer, "0"},
    {"opt_nav_viewscale", Float, "10"},
    {"opt_nav_usevideoscale", Boolean, "0"},
    {"opt_nav_offset", Float, "0"},
    {"opt_nav_showbg", Boolean, "0"},
    {"opt_nav_hideinterval", Integer, "0"},
    {"opt_nav_fadein", Integer, "500"},
    {"opt_nav_hidefadeout", Integer, "1000"},
    {"opt_nav_wndbottom", Boolean, "1"},
    {"opt_nav_videoexit", Boolean, "1"},
    {"opt_newnavbuttons_count", Integer, "0"},
    {"opt_logo", Boolean, "0"},
    {"opt_logo_fn", Text, ""},
    {"opt_logo_pos", Integer, "0"},
    {"opt_logo_opacity", Float, "100"},
    {"opt_logo_offset", Float, "0"},
    {"opt_logo_size", Float, "10"},
};

const std::vector<std::string_view> kRepeatChoices = {"repeat", "close", "stop"};

}  // namespace

const std::vector<TShowOption>& ShowOptions() {
  return kOptions;
}

const TShowOption* FindShowOption(std::string_view key) {
  for (const TShowOption& o : kOptions)
    if (FoldedEquals(o.key, key)) return &o;
  return nullptr;
}

std::string EffectiveOption(const TIniList* main, const TShowOption& o) {
  TIniItem* item = FindItem(main, o.key);
  std::string_view v = item ? item->Value() : std::string_view(o.def);
  switch (o.type) {
    case Text:
      return std::string(v);
    case Integer:
      return IntToValue(ValueToInt(v, ValueToInt(o.def, 0)));
    case Boolean:
      return BoolToValue(ValueToBool(v, ValueToBool(o.def, false)));
    case Choice: {
      int i = ValueToChoice(v, {kRepeatChoices[0], kRepeatChoices[1], kRepeatChoices[2]}, false, 0);
      return std::string(kRepeatChoices[size_t(i)]);
    }
    case Float: {
      // The slide aspect ratio is computed from the design size when not given.
      double def = *o.def ? ValueToFloat(o.def, 0)
                          : double(ReadInteger(main, "opt_scr_width", 1920)) /
                                std::max(1, ReadInteger(main, "opt_scr_height", 1080));
      return FloatToValue(ValueToFloat(v, def));
    }
  }
  return std::string(v);
}

bool ShowPasswordRequired(const TIniFile& document) {
  return ReadBool(document.Section("Main"), "opt_usepass", false);
}

bool ShowPasswordMatches(const TIniFile& document, std::string_view typed) {
  const TIniList* main = document.Section("Main");
  if (!FindItem(main, kPasswordOption)) return typed == kFallbackPassword;
  return typed == ReadString(main, kPasswordOption, "");
}

}  // namespace lum
