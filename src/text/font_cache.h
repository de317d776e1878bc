#pragma once
// The process-wide font cache: glyph outlines by glyph-cache key (font +
// ":" + style field) and glyph index. Texts are prepared on loader threads
// while others draw, so every call is thread-safe; outlines handed out are
// shared and immutable, and stay valid whatever happens to the cache later.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/vector_text.h"

namespace lum {

using TGlyphRef = std::shared_ptr<const TGlyphOutline>;

class TFontCache {
 public:
  static TFontCache& Instance();

  // True when a cache of exactly that key exists.
  bool Has(std::string_view key) const;
  // Adds the glyphs of a cache read from a member (creating the cache); an
  // index already present keeps its first outline.
  void Add(TGlyphCache cache);
  // Adds one glyph under a key, creating the cache on demand. Glyphs that
  // GlyphOutlineUsable refuses are not added (the cache is still created).
  void AddGlyph(std::string_view key, TGlyphOutline glyph);
  // Creates an empty cache unless one exists.
  void Ensure(std::string_view key);
  // The outline of a glyph; null when the cache or the index is missing.
  TGlyphRef Find(std::string_view key, uint16_t index) const;
  bool HasGlyph(std::string_view key, uint16_t index) const { return Find(key, index) != nullptr; }
  // A copy of one cache (for writing it out); empty glyphs when missing.
  TGlyphCache Snapshot(std::string_view key) const;

  size_t CacheCount() const;
  // Forgets everything (tests; outlines already handed out stay valid).
  void Clear();

 private:
  struct TEntry {
    std::vector<TGlyphRef> glyphs;  // in the order added
    std::unordered_map<uint16_t, size_t> byIndex;
  };
  void AddLocked(TEntry& entry, TGlyphOutline&& glyph);
  TEntry& EntryLocked(std::string_view key);

  mutable std::mutex lock_;
  std::unordered_map<std::string, TEntry> caches_;
};

}  // namespace lum
