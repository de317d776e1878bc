// lumshow: inspect, list, extract and pack shows; evaluate expressions;
// render frames, sound and whole videos of a show.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "foundation/log.h"
#include "show_maker.h"
#include "show_open.h"

int main(int argc, char** argv) {
  using namespace lum::lumshow;
  CLI::App app{"lumshow: inspect, extract and pack slide shows"};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("--log", verbose, "write the diagnostic log to stderr");

  TInfoArgs info;
  auto* infoCmd = app.add_subcommand("info", "describe a show");
  infoCmd->add_option("SHOW", info.show, "container, show executable, bundle or project document")
      ->required();
  infoCmd->add_flag("--json", info.json, "JSON output");

  TListArgs list;
  auto* lsCmd = app.add_subcommand("ls", "list the members of a show container");
  lsCmd->add_option("SHOW", list.show)->required();
  lsCmd->add_flag("--json", list.json, "JSON output");

  std::string catShow, catName;
  auto* catCmd = app.add_subcommand("cat", "write a member's bytes to standard output");
  catCmd->add_option("SHOW", catShow)->required();
  catCmd->add_option("NAME", catName)->required();

  TExtractArgs extract;
  auto* extractCmd = app.add_subcommand("extract", "write members as files under a folder");
  extractCmd->add_option("SHOW", extract.show)->required();
  extractCmd->add_option("-o,--output", extract.folder, "target folder")->required();
  extractCmd->add_option("NAME", extract.names, "members to extract (default: all)");
  extractCmd->add_flag("--overwrite", extract.overwrite,
                       "replace files that exist (default: skip them with a message)");

  TPackArgs pack;
  auto* packCmd =
      app.add_subcommand("pack", "pack a project document and its files into a container");
  packCmd->add_option("PROJECT", pack.project, "project document")
      ->required()
      ->check(CLI::ExistingFile);
  packCmd->add_option("MEMBER", pack.members,
                      "extra members as NAME=PATH; a PATH alone packs a referenced file that "
                      "lies outside the project's folder");
  packCmd->add_option("-o,--output", pack.output, "container to write")->required();
  packCmd
      ->add_option("--dir", pack.folders, "add every file under a folder, named by relative path")
      ->allow_extra_args(false);
  auto* exeOption =
      packCmd
          ->add_option("--exe", pack.executable,
                       "player to put in front (a self-playing show); without a value, lumviewer")
          ->expected(0, 1)
          ->check(CLI::ExistingFile);
  packCmd->add_flag("--long-trailer", pack.longTrailer, "write the 20-byte trailer");
  packCmd->add_flag("--allow-modify", pack.allowModify, "allow the container to be moved");
  packCmd->add_option("--base-padding", pack.basePadding, "zero bytes before the first member")
      ->check(CLI::NonNegativeNumber);
  packCmd->add_option("--method", pack.methods, "storage of a member: NAME=stored|deflate|scramble")
      ->allow_extra_args(false);
  packCmd->add_flag("--no-refs", pack.noReferences, "do not add the files the project refers to");

  TActionArgs action;
  auto* actionCmd = app.add_subcommand("action", "the action record of an action text");
  actionCmd->add_option("TEXT", action.text, "action text, such as gotoslide(3)")->required();
  actionCmd->add_flag("--json", action.json, "JSON output");

  TExprArgs expr;
  auto* exprCmd = app.add_subcommand("expr", "compile and evaluate an expression");
  exprCmd
      ->add_option("EXPR", expr.expression, "the expression (after \"--\" when it starts with -)")
      ->required();
  exprCmd->add_flag("--program", expr.program, "print the compiled commands");
  exprCmd->add_flag("--trace", expr.trace, "print what the compiler does");
  exprCmd->add_option("--var", expr.vars, "a variable NAME=VALUE (never folded away)")
      ->allow_extra_args(false);
  TImageArgs image;
  auto* imageCmd = app.add_subcommand("image", "decode a picture and write it as PNG");
  imageCmd
      ->add_option("FILE", image.file,
                   "picture file (or a loader request such as x.gif|framesatlas), or a show "
                   "with --member")
      ->required();
  imageCmd->add_option("--member", image.member, "picture (or loader request) inside the show");
  imageCmd->add_option("-o,--output", image.output, "PNG to write")->required();
  imageCmd->add_option("--level", image.level, "mip level (0: full size)");
  imageCmd->add_option("--icc", image.icc,
                       "convert an embedded colour profile to PROFILE (sRGB, AdobeRGB, FunkyRGB "
                       "or an ICC file); none: leave the pixels as decoded");

  TDumpArgs dump;
  auto* dumpCmd = app.add_subcommand("dump", "a slide's object tree at a show time");
  dumpCmd->add_option("SHOW", dump.show)->required();
  dumpCmd->add_option("--slide", dump.slide, "0-based slide number (repetitions allowed)")
      ->required();
  dumpCmd->add_option("--time", dump.time, "show time in ms")->required();
  dumpCmd->add_option("--size", dump.size, "window size WxH (default 1920x1080)");
  dumpCmd->add_flag("--json", dump.json, "JSON output");
  dumpCmd->add_option("--hit", dump.hit, "also find the object at window point X,Y");
  TExportArgs exportArgs;
  auto* exportCmd = app.add_subcommand("export", "the show as a video file (MP4 or WebM)");
  exportCmd->add_option("SHOW", exportArgs.show)->required();
  exportCmd->add_option("-o,--output", exportArgs.output,
                        "video file to write: .mp4 (H.264 + AAC) or .webm (VP9 + Opus)")
      ->required();
  exportCmd->add_option("--size", exportArgs.size, "frame size WxH (default 1920x1080)");
  exportCmd->add_option("--fps", exportArgs.fps, "frames per second (default 30)");
  exportCmd->add_option("--from", exportArgs.from, "show time to start at, ms (default 0)");
  exportCmd->add_option("--to", exportArgs.to, "show time to end at, ms (default: the show's end)");
  exportCmd->add_option("--crf", exportArgs.crf, "quality, lower is better (default 20)");
  exportCmd->add_option("--preset", exportArgs.preset,
                        "encoder speed, ultrafast to veryslow (default medium)");
  exportCmd->add_flag("--cfr", exportArgs.cfr, "constant frame rate: repeat unchanged frames");
  TAudioArgs audio;
  auto* audioCmd = app.add_subcommand("audio", "mix the show's sound into a WAVE file");
  audioCmd->add_option("SHOW", audio.show)->required();
  audioCmd->add_option("-o,--output", audio.output, "WAVE file to write (44100 Hz stereo 16 bit)")
      ->required();
  audioCmd->add_option("--from", audio.from, "show time to start at, ms (default 0)");
  audioCmd->add_option("--to", audio.to, "show time to end at, ms (default: the show's end)");

  TRenderArgs render;
  auto* renderCmd = app.add_subcommand("render", "one frame of the show at a show time, as PNG");
  // SHOW, --time and -o are required unless --gl-info asks about the driver only.
  renderCmd->add_option("SHOW", render.show);
  renderCmd->add_option("--time", render.time, "show time in ms");
  renderCmd->add_option("--size", render.size, "window size WxH (default 1920x1080)");
  renderCmd->add_option("-o,--output", render.output, "PNG file to write");
  renderCmd->add_flag("--gl-info", render.glInfo,
                      "print the OpenGL driver, version and extensions used, and draw nothing");

  TThumbnailArgs thumbnail;
  auto* thumbnailCmd =
      app.add_subcommand("thumbnail", "the show's thumbnail for file managers, as PNG");
  thumbnailCmd->add_option("SHOW", thumbnail.show)->required();
  thumbnailCmd->add_option("OUTPUT", thumbnail.output, "PNG file to write")->required();
  thumbnailCmd->add_option("--size", thumbnail.size, "fit into NxN pixels (default 256)");

  TTextArgs text;
  auto* textCmd = app.add_subcommand("text", "one text picture, as PNG (white, coverage as alpha)");
  textCmd->add_option("DESCRIPTION", text.description, "a \"Text: \" description");
  textCmd->add_option("--show", text.show, "use the stored outlines of this show");
  textCmd->add_option("--member", text.member, "a \"VectTxt2: \" key of the show");
  textCmd->add_option("-o,--output", text.output, "PNG file to write")->required();

  TControlArgs control;
  auto* controlCmd =
      app.add_subcommand("control", "send requests to a running player's control socket");
  controlCmd->add_option("SOCKET", control.socket, "the player's -control path")->required();
  controlCmd->add_option("REQUEST", control.requests, "JSON requests, e.g. '{\"command\":\"status\"}'")
      ->required();

  TNewArgs made;
  std::string motion = "on";
  auto* newCmd = app.add_subcommand("new", "make a show from photos, videos and music");
  newCmd->add_option("INPUT", made.inputs, "pictures, videos, music and folders of them")
      ->required();
  newCmd->add_option("-o,--output", made.output, "container to write (OUT.lumshow)");
  newCmd->add_option("--folder", made.folder,
                     "or a folder: DIR/Project.lum beside the files, for lumshow pack later");
  newCmd->add_flag("--force", made.force, "replace an existing show");
  newCmd->add_option("--music", made.music, "music track (several play one after another)")
      ->allow_extra_args(false);
  newCmd->add_option("--size", made.size, "the show's design size WxH (default 1920x1080)");
  newCmd->add_option("--slide-time", made.slideTimeMs, "ms per slide (default 5000)")
      ->check(CLI::PositiveNumber);
  newCmd->add_option("--transition-time", made.transitionTimeMs, "ms per transition (default 1000)")
      ->check(CLI::NonNegativeNumber);
  newCmd->add_flag("--fit-music", made.fitMusic,
                   "stretch the slides so the show ends with the music");
  newCmd->add_option("--transition", made.transition,
                     "a transition family by name, default (the player's rotation) or all");
  newCmd->add_option("--motion", motion, "slow zoom and pan of photos (default on)")
      ->check(CLI::IsMember({"on", "off"}));
  newCmd->add_option("--captions", made.captions, "a caption per slide (default none)")
      ->check(CLI::IsMember({"none", "name", "date", "caption"}));
  newCmd->add_option("--title", made.title, "a title slide first");
  newCmd->add_option("--sort", made.sort, "order of the pictures (default name)")
      ->check(CLI::IsMember({"name", "date", "none"}));
  newCmd->add_option("--seed", made.seed, "chooses the motion and transitions (default 1)");
  newCmd->add_option("--background", made.background, "background colour (default #000000)");
  newCmd->add_flag("--loop", made.loop, "the show repeats (default: it stops at the end)");

  // Commands that play a show honour its password gate.
  std::string password;
  std::vector<CLI::Option*> passwordOptions;
  for (CLI::App* cmd : {renderCmd, exportCmd, audioCmd, dumpCmd, textCmd})
    passwordOptions.push_back(
        cmd->add_option("--password", password, "the show's password, when it asks for one"));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  if (verbose) lum::SetLog(std::make_unique<lum::TStdLog>());
  for (const CLI::Option* o : passwordOptions) {
    if (o->count() == 0) continue;
    render.password = exportArgs.password = audio.password = dump.password = text.password =
        password;
  }

  try {
    if (*infoCmd) return Info(info);
    if (*lsCmd) return List(list);
    if (*catCmd) return Cat(catShow, catName);
    if (*extractCmd) return Extract(extract);
    if (*packCmd) {
      if (exeOption->count() > 0 && pack.executable.empty()) pack.executable = PlayerBeside(argv[0]);
      return Pack(pack);
    }
    if (*actionCmd) return Action(action);
    if (*exprCmd) return Expr(expr);
    if (*imageCmd) return Image(image);
    if (*dumpCmd) return Dump(dump);
    if (*audioCmd) return Audio(audio);
    if (*renderCmd) return Render(render);
    if (*exportCmd) return Export(exportArgs);
    if (*textCmd) return Text(text);
    if (*thumbnailCmd) return Thumbnail(thumbnail);
    if (*controlCmd) return Control(control);
    if (*newCmd) {
      made.motion = motion == "on";
      return New(made);
    }
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "lumshow: %s\n", e.message.c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumshow: %s\n", ForTerminal(e.what()).c_str());
    return 1;
  }
  return 2;
}
