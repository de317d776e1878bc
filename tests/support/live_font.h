#pragma once
// Texts drawn with the installed fonts are compared with pictures made from
// one known face; whether that face is installed is the environment's
// business, but once it is, the player must find and use it.
#include <gtest/gtest.h>

#include <string>

#include "support/environment.h"
#include "text/live_vectorizer.h"

namespace lum::test {

// Fails unless the family resolves to exactly the file fontconfig names.
inline void ExpectLiveFontIs(const std::string& family, const std::string& file) {
  TLiveFont f;
  ASSERT_TRUE(ResolveLiveFont(family, 0, f));
  ASSERT_TRUE(f.requestedFound);
  ASSERT_EQ(f.file, file);
}

}  // namespace lum::test

// In a fixture's SetUp: skips without Liberation Sans, else insists on it.
#define REQUIRE_LIBERATION_SANS()                                                        \
  do {                                                                                   \
    const std::string font_file = test::InstalledFontFile("Liberation Sans", "Regular"); \
    if (font_file.empty()) GTEST_SKIP() << "Liberation Sans is not installed";           \
    ASSERT_NO_FATAL_FAILURE(test::ExpectLiveFontIs("Liberation Sans", font_file));       \
  } while (0)
