#include "text/font_cache.h"

#include "text/vect_text_io.h"

namespace lum {

TFontCache& TFontCache::Instance() {
  static TFontCache cache;
  return cache;
}

TFontCache::TEntry& TFontCache::EntryLocked(std::string_view key) {
  auto it = caches_.find(std::string(key));
  if (it == caches_.end()) it = caches_.emplace(std::string(key), TEntry()).first;
  return it->second;
}

void TFontCache::AddLocked(TEntry& entry, TGlyphOutline&& glyph) {
  // Whatever the source, only outlines the rasteriser can take are kept.
  if (entry.byIndex.count(glyph.index) || !GlyphOutlineUsable(glyph)) return;
  entry.byIndex.emplace(glyph.index, entry.glyphs.size());
  entry.glyphs.push_back(std::make_shared<const TGlyphOutline>(std::move(glyph)));
}

bool TFontCache::Has(std::string_view key) const {
  std::lock_guard<std::mutex> guard(lock_);
  return caches_.count(std::string(key)) != 0;
}

void TFontCache::Add(TGlyphCache cache) {
  std::lock_guard<std::mutex> guard(lock_);
  TEntry& entry = EntryLocked(cache.key);
  for (TGlyphOutline& g : cache.glyphs) AddLocked(entry, std::move(g));
}

void TFontCache::AddGlyph(std::string_view key, TGlyphOutline glyph) {
  std::lock_guard<std::mutex> guard(lock_);
  AddLocked(EntryLocked(key), std::move(glyph));
}

void TFontCache::Ensure(std::string_view key) {
  std::lock_guard<std::mutex> guard(lock_);
  EntryLocked(key);
}

TGlyphRef TFontCache::Find(std::string_view key, uint16_t index) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = caches_.find(std::string(key));
  if (it == caches_.end()) return nullptr;
  auto g = it->second.byIndex.find(index);
  return g == it->second.byIndex.end() ? nullptr : it->second.glyphs[g->second];
}

TGlyphCache TFontCache::Snapshot(std::string_view key) const {
  TGlyphCache out;
  out.key = std::string(key);
  std::lock_guard<std::mutex> guard(lock_);
  auto it = caches_.find(out.key);
  if (it != caches_.end())
    for (const TGlyphRef& g : it->second.glyphs) out.glyphs.push_back(*g);
  return out;
}

size_t TFontCache::CacheCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return caches_.size();
}

void TFontCache::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  caches_.clear();
}

}  // namespace lum
