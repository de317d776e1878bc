#pragma once
// What the player's end-to-end tests share: starting a player or failing the
// test, and small windowed shows packed with lumshow.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include <string>
#include <vector>

#include "support/lumshow_run.h"
#include "support/temp_dir.h"

#define START(player)                                         \
  do {                                                        \
    std::string start_error;                                  \
    ASSERT_TRUE((player).Start(&start_error)) << start_error; \
  } while (0)

namespace lum::test {

// A 320 x 240 windowed, repeating show of one-second slides packed into
// dir/name. main's keys come after the defaults (a later key wins);
// slideKeys[i] goes into slide i's section.
inline std::string PackedShow(const TTempDir& dir, const std::string& name, int slides,
                              const std::string& main = "",
                              const std::vector<std::string>& slideKeys = {}) {
  std::string s =
      "[Main]\nLumVersion=5.6\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\n"
      "opt_scr_height=240\nopt_withoutborder=1\nopt_repeat=repeat\n" +
      main + "[Times]\nopt_slidescount=" + std::to_string(slides) + "\n";
  for (int i = 0; i < slides; ++i)
    s += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(1000 * (i + 1)) + "\n";
  for (int i = 0; i < slides; ++i)
    s += "[Slide" + std::to_string(i + 1) +
         "]\nbstyle=1\nbcolor=" + std::to_string(0x102030 * (i + 1)) + "\n" +
         (size_t(i) < slideKeys.size() ? slideKeys[size_t(i)] : "") +
         "object Container:Root\nend\n";
  const std::string project = dir.Write("src-" + name + "/Project.lum", s);
  const TCommandResult r = Lumshow({"pack", project, "-o", dir / name});
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / name;
}

// A program standing in for a real one at dir/name: it appends one line, its
// name and its arguments in brackets, to the file $RECORD (in one write, since
// programs started together run in any order).
inline void WriteRecorder(const TTempDir& dir, const std::string& name) {
  const std::string program = name.substr(name.rfind('/') + 1);
  const std::string path =
      dir.Write(name, "#!/bin/sh\nline=\"" + program +
                          "\"\nfor a in \"$@\"; do line=\"$line [$a]\"; done\n"
                          "printf '%s\\n' \"$line\" >> \"$RECORD\"\n");
  chmod(path.c_str(), 0755);
}

// The lines of a text, sorted.
inline std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace lum::test
