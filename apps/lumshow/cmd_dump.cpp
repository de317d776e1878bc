#include <cmath>
#include <cstdio>
#include <optional>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "foundation/errors.h"
#include "model/animated_field_desk.h"
#include "model/slide_producer.h"
#include "project/lum_action_info.h"
#include "project/lum_source.h"
#include "show_open.h"
#include "video/video_extractor.h"

namespace lum::lumshow {

namespace {

using json = nlohmann::ordered_json;

// Layout arithmetic leaves noise in the last digits; a millionth of a pixel
// or unit is below anything a reader cares about.
json Number(double v) {
  double r = std::round(v * 1e6) / 1e6;
  if (r == 0) r = 0;  // no "-0"
  if (r == std::trunc(r) && std::abs(r) < 9e15) return int64_t(r);
  return r;
}

json Rgb(uint32_t c) {
  return json::array({c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF});
}

const char* DrawnName(TBackgroundDrawn d) {
  switch (d) {
    case TBackgroundDrawn::Solid:
      return "solid";
    case TBackgroundDrawn::Picture:
      return "picture";
    case TBackgroundDrawn::VGradient:
      return "vgradient";
    case TBackgroundDrawn::HGradient:
      return "hgradient";
    default:
      return "black";
  }
}

json BackgroundJson(const TSlideBackground& b) {
  json j;
  j["style"] = b.style;
  j["source"] = b.fromMain ? "main" : "slide";
  j["drawn"] = DrawnName(b.Drawn());
  switch (b.Drawn()) {
    case TBackgroundDrawn::Solid:
      j["color"] = Rgb(b.color1);
      break;
    case TBackgroundDrawn::Picture:
      j["file"] = b.file;
      j["size"] = Number(b.size);
      break;
    case TBackgroundDrawn::VGradient:
    case TBackgroundDrawn::HGradient:
      j["color1"] = Rgb(b.color1);
      j["color2"] = Rgb(b.color2);
      break;
    default:
      break;
  }
  return j;
}

json ObjectJson(const TLumObject& o) {
  json j;
  j["kind"] = o.Kind();
  j["kindName"] = o.Kind() == kKindAniImage ? "AniImage" : LumKindName(o.Kind());
  j["class"] = o.ClassName();
  j["name"] = o.Name();
  json values;
  for (const TAnimatedFieldRow& row : TAnimatedFieldDesk::Instance().Rows())
    values[row.name] = Number(o.Value(row.index));
  j["values"] = values;
  j["size"] = json::array({Number(o.Width()), Number(o.Height())});
  json corners = json::array();
  for (const TVec3& p : o.ScreenCorners())
    corners.push_back(json::array({Number(p.x), Number(p.y)}));
  j["corners"] = corners;
  j["visible"] = o.Visible();
  j["visibleInTime"] = o.VisibleInTime();
  if (!o.ActionText().empty()) j["action"] = o.ActionText();
  json children = json::array();
  for (const TLumObject* c : o.Children()) children.push_back(ObjectJson(*c));
  j["children"] = children;
  return j;
}

json ActionJson(const TLumActionInfo& a) {
  json j;
  j["type"] = ActionTypeName(a.type);
  j["int"] = a.intArg;
  j["text"] = a.textArg;
  return j;
}

std::pair<double, double> ParsePoint(const std::string& text) {
  double x = 0, y = 0;
  char comma = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%lf%c%lf%c", &x, &comma, &y, &rest) != 3 || comma != ',' ||
      !std::isfinite(x) || !std::isfinite(y))
    throw TUsageError{"--hit wants X,Y in window pixels"};
  return {x, y};
}

void PrintObject(const json& o, int depth) {
  std::string pad(size_t(depth) * 2, ' ');
  const json& v = o["values"];
  std::printf("%s%s \"%s\" (%s)%s\n", pad.c_str(), Printable(o["class"].get<std::string>()).c_str(),
              Printable(o["name"].get<std::string>()).c_str(),
              o["kindName"].get<std::string>().c_str(), o["visible"].get<bool>() ? "" : " hidden");
  std::string corners;
  for (const auto& c : o["corners"]) corners += fmt::format(" ({}, {})", c[0].dump(), c[1].dump());
  std::printf("%s  corners:%s\n", pad.c_str(), corners.c_str());
  std::string values;
  for (const auto& [k, val] : v.items()) values += fmt::format(" {}={}", k, val.dump());
  std::printf("%s  values:%s\n", pad.c_str(), values.c_str());
  for (const auto& c : o["children"]) PrintObject(c, depth + 1);
}

void PrintText(const json& d) {
  std::printf("slide %s  %s \"%s\"  begin %s  next begin %s\n", d["index"].dump().c_str(),
              Printable(d["name"].get<std::string>()).c_str(),
              Printable(d["title"].get<std::string>()).c_str(), d["begin"].dump().c_str(),
              d["nextBegin"].dump().c_str());
  std::string anchors;
  for (const auto& [k, v] : d["anchors"].items()) anchors += fmt::format(" {}={}", k, v.dump());
  std::printf("anchors:%s\n", anchors.c_str());
  const json& a = d["area"];
  std::printf("area: %s, %s - %s, %s\n", a[0].dump().c_str(), a[1].dump().c_str(),
              a[2].dump().c_str(), a[3].dump().c_str());
  std::printf("background: %s\n", d["background"].dump().c_str());
  for (const auto& o : d["objects"]) PrintObject(o, 1);
  if (d.contains("hit")) {
    const std::string hit = d["hit"].dump(-1, ' ', false, json::error_handler_t::replace);
    std::printf("hit: %s\n", Printable(hit).c_str());
  }
}

}  // namespace

int Dump(const TDumpArgs& args) {
  auto [width, height] = ParseSize(args.size, 65536);
  std::optional<std::pair<double, double>> hit;
  if (!args.hit.empty()) hit = ParsePoint(args.hit);
  if (args.slide < 0) throw TUsageError{"--slide wants a slide number of 0 or more"};
  if (!std::isfinite(args.time)) throw TUsageError{"--time wants a finite number of ms"};

  auto loc = OpenShowToPlay(args.show, args.password);
  TLumSource src(loc->Accessor(), loc->Document(), {loc->Path(), 0});
  src.Rotation().SetDeterministic(true);
  // Video objects take their size from their first frame.
  InstallVideoFrameSources();
  TSlideProducer producer(src);
  producer.SetFrame(width, height);
  TRef<TDrawContainer> c = producer.ProduceOrThrow(args.slide);
  TLumSlide& slide = *c->slide;
  slide.SetTimeAndLayout(true, args.time);

  json d;
  d["index"] = args.slide;
  d["slide"] = slide.Index();
  d["name"] = slide.SlideName();  // the section's name
  d["title"] = c->record.name;    // "slideid", as lumshow info lists it
  d["time"] = Number(args.time);
  d["begin"] = Number(slide.BeginTime());
  d["nextBegin"] = Number(slide.NextBeginTime());
  json anchors;
  for (int i = 0; i < 4; ++i) anchors[SlideAnchorName(i)] = Number(slide.GetAnchorTime(i));
  d["anchors"] = anchors;
  TPresentationArea area = producer.Area();
  d["area"] = json::array({area.left, area.top, area.right, area.bottom});
  d["background"] = BackgroundJson(slide.Background());
  d["timeScale"] = Number(slide.TimeScale());
  json objects = json::array();
  for (const TLumObject* o : slide.Children()) objects.push_back(ObjectJson(*o));
  d["objects"] = objects;
  if (hit) {
    json h;
    h["point"] = json::array({Number(hit->first), Number(hit->second)});
    TLumObject* found = slide.FindObjectAt(hit->first, hit->second, ClickFilter);
    // A press and a release at the point: what a click there hands out.
    std::optional<TLumActionInfo> action;
    slide.PointerInput(hit->first, hit->second, kLeftButton, kPointerPress, nullptr);
    slide.PointerInput(hit->first, hit->second, 0, kPointerRelease, &action);
    if (found && found != &slide) {
      h["object"] = found->Name();
      h["class"] = found->ClassName();
      h["kind"] = found->Kind();
    } else {
      h["object"] = found ? json("(slide)") : json(nullptr);
      h["class"] = found ? json(found->ClassName()) : json(nullptr);
      h["kind"] = found ? json(found->Kind()) : json(nullptr);
    }
    h["action"] = action ? ActionJson(*action) : json(nullptr);
    d["hit"] = h;
  }
  if (args.json) {
    std::puts(JsonText(d).c_str());
    return 0;
  }
  PrintText(d);
  return 0;
}

}  // namespace lum::lumshow
