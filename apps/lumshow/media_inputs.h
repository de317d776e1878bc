#pragma once
// The inputs of `lumshow new`: files and folders walked, each file told apart
// by its header alone (nothing is decoded), duplicates by content found, and
// readable member names chosen.
#include <string>
#include <vector>

#include "show_maker.h"

namespace lum::lumshow {

// Every usable input in --sort order: pictures and videos (the slides), then
// music (--music files in the order given, then music met among the inputs).
// Files that are none of these are skipped with one line each on stderr.
// Throws ELumError when no picture or video is left.
std::vector<TMediaItem> CollectMedia(const TNewArgs& args);

}  // namespace lum::lumshow
