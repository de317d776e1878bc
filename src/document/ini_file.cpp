#include "document/ini_file.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/case_fold.h"
#include "foundation/code_page.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/utf.h"

namespace lum {

static_assert(std::is_trivially_destructible_v<TIniItem>, "items live in the document's arena");

// ---------------------------------------------------------------------------
// Items and lists

TIniObject* TIniItem::AsObject() {
  return kind_ == TIniKind::Object ? static_cast<TIniObject*>(this) : nullptr;
}

void TIniItem::SetValue(std::string_view value) {
  if (!owner_) AssertFailed("TIniItem", "item without list");
  value_ = owner_->Root().Keep(value);
}

void TIniList::EnsureHashed() const {
  if (hashed_.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(root_->hashMutex_);
  if (hashed_.load(std::memory_order_relaxed)) return;
  size_t keyed = 0;
  for (const TIniItem* it : items_) keyed += !it->key_.empty();
  size_t size = 16;
  while (size < keyed) size *= 2;
  buckets_.assign(size, nullptr);
  keyedCount_ = keyed;
  // Ascending walk pushing at the heads leaves every chain in descending index order.
  for (TIniItem* it : items_) {
    if (it->key_.empty()) continue;
    it->hash_ = FoldedHash(it->key_);
    TIniItem*& head = buckets_[it->hash_ & (size - 1)];
    it->next_ = head;
    head = it;
  }
  hashed_.store(true, std::memory_order_release);
}

void TIniList::Link(TIniItem* item) const {
  if (!hashed_.load(std::memory_order_relaxed) || item->key_.empty()) return;
  if (++keyedCount_ > buckets_.size()) {
    hashed_.store(false, std::memory_order_relaxed);  // full: drop and rebuild on the next lookup
    return;
  }
  item->hash_ = FoldedHash(item->key_);
  TIniItem** link = &buckets_[item->hash_ & (buckets_.size() - 1)];
  while (*link && (*link)->index_ > item->index_) link = &(*link)->next_;
  item->next_ = *link;
  *link = item;
}

void TIniList::Unlink(TIniItem* item) const {
  if (!hashed_.load(std::memory_order_relaxed) || item->key_.empty()) return;
  TIniItem** link = &buckets_[item->hash_ & (buckets_.size() - 1)];
  while (*link && *link != item) link = &(*link)->next_;
  if (*link) {
    *link = item->next_;
    --keyedCount_;
  }
  item->next_ = nullptr;
}

inline void TIniList::Append(TIniItem* item) {
  item->owner_ = this;
  item->index_ = int32_t(items_.size());
  if (items_.capacity() == 0) items_.reserve(16);
  items_.push_back(item);
  if (!item->key_.empty()) keyedEnd_ = item->index_ + 1;
  if (item->kind_ == TIniKind::Object) {
    if (objects_.capacity() == 0) objects_.reserve(4);
    objects_.push_back(static_cast<TIniObject*>(item));
  }
  // Lists being parsed have no table yet; spare the call for every line.
  if (hashed_.load(std::memory_order_relaxed)) Link(item);
}

void TIniList::Insert(int32_t index, TIniItem* item) {
  index = std::clamp<int32_t>(index, 0, int32_t(items_.size()));
  items_.insert(items_.begin() + index, item);
  for (size_t i = size_t(index); i < items_.size(); ++i) items_[i]->index_ = int32_t(i);
  item->owner_ = this;
  if (index < keyedEnd_) ++keyedEnd_;
  if (!item->key_.empty()) keyedEnd_ = std::max(keyedEnd_, index + 1);
  if (item->kind_ == TIniKind::Object) {
    auto at = std::upper_bound(objects_.begin(), objects_.end(), index,
                               [](int32_t i, const TIniObject* o) { return i < o->index_; });
    objects_.insert(at, static_cast<TIniObject*>(item));
  }
  Link(item);
}

void TIniList::Remove(TIniItem* item) {
  if (!item || item->owner_ != this) return;
  if (item->index_ < 0 || size_t(item->index_) >= items_.size() || items_[item->index_] != item) {
    AssertFailed("TIniFile", "TIniItem.Index mismatch");
  }
  Unlink(item);
  int32_t index = item->index_;
  items_.erase(items_.begin() + index);
  for (size_t i = size_t(index); i < items_.size(); ++i) items_[i]->index_ = int32_t(i);
  if (index < keyedEnd_) {
    --keyedEnd_;
    while (keyedEnd_ > 0 && items_[keyedEnd_ - 1]->key_.empty()) --keyedEnd_;
  }
  if (item->kind_ == TIniKind::Object) {
    auto at = std::find(objects_.begin(), objects_.end(), item);
    if (at == objects_.end()) AssertFailed("TIniFile", "TIniObject.ObjectIndex mismatch");
    objects_.erase(at);
  }
  item->owner_ = nullptr;
  item->index_ = -1;
}

void TIniList::AppendCopy(const TIniList& from) {
  struct TFrame {
    const TIniList* from;
    TIniList* to;
    size_t next;
  };
  std::vector<TFrame> stack{{&from, this, 0}};
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.next == f.from->items_.size()) {
      stack.pop_back();
      continue;
    }
    const TIniItem* item = f.from->items_[f.next++];
    const std::string_view key = root_->Keep(item->key_), value = root_->Keep(item->value_);
    if (item->kind_ == TIniKind::Object) {
      TIniObject* copy = root_->NewObject(key, value);
      f.to->Append(copy);
      stack.push_back({static_cast<const TIniList*>(item), copy, 0});
    } else {
      f.to->Append(root_->NewItem(key, value));
    }
  }
}

TIniItem* TIniList::Find(std::string_view key) const {
  if (key.empty()) return nullptr;
  EnsureHashed();
  uint32_t h = FoldedHash(key);
  for (TIniItem* n = buckets_[h & (buckets_.size() - 1)]; n; n = n->next_) {
    if (n->hash_ == h && FoldedEquals(n->key_, key)) return n;
  }
  return nullptr;
}

TIniItem* TIniList::FindOrAddItem(std::string_view key) {
  if (key.empty()) AssertFailed("TIniFile", "empty key");
  EnsureHashed();
  uint32_t h = FoldedHash(key);
  for (TIniItem* n = buckets_[h & (buckets_.size() - 1)]; n; n = n->next_) {
    if (n->hash_ == h && n->IsPlainItem() && FoldedEquals(n->key_, key)) return n;
  }
  return AddItem(key, {});
}

TIniItem* TIniList::AddItem(std::string_view key, std::string_view value) {
  if (key.empty()) AssertFailed("TIniFile", "empty key");
  TIniItem* item = root_->NewItem(root_->Keep(key), root_->Keep(value));
  Insert(keyedEnd_, item);
  return item;
}

TIniItem* TIniList::AddText(std::string_view text) {
  TIniItem* item = root_->NewItem({}, root_->Keep(text));
  Append(item);
  return item;
}

TIniObject* TIniList::AddObject(std::string_view name, std::string_view className) {
  TIniObject* obj = root_->NewObject(root_->Keep(name), root_->Keep(className));
  Append(obj);
  return obj;
}

TIniObject* TIniList::FindObject(std::string_view name) const {
  for (TIniObject* o : objects_) {
    if (FoldedEquals(o->key_, name)) return o;
  }
  return nullptr;
}

TIniObject* TIniList::FindObject(std::string_view name, std::string_view className) const {
  for (TIniObject* o : objects_) {
    if (FoldedEquals(o->key_, name) && FoldedEquals(o->value_, className)) return o;
  }
  return nullptr;
}

TIniObject* TIniList::NextObject(const TIniObject* after) const {
  auto at = std::find(objects_.begin(), objects_.end(), after);
  return at == objects_.end() || at + 1 == objects_.end() ? nullptr : *(at + 1);
}

// ---------------------------------------------------------------------------
// Parsing

namespace {

inline bool IsIdent(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// First CR or LF at or after p, or end. The first "=" before it comes along
// (nullptr when none): most lines are items, and this pass sees every byte anyway.
inline const char* FindLineEnd(const char* p, const char* end, const char*& eq) {
  eq = nullptr;
#ifdef __SSE2__
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i is = _mm_set1_epi8('=');
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned m =
        unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
    unsigned e = eq ? 0 : unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, is)));
    if (m) {
      e &= (m & -m) - 1;  // only those before the line end
      if (e) eq = p + __builtin_ctz(e);
      return p + __builtin_ctz(m);
    }
    if (e) eq = p + __builtin_ctz(e);
    p += 16;
  }
#endif
  for (; p < end && *p != '\r' && *p != '\n'; ++p) {
    if (*p == '=' && !eq) eq = p;
  }
  return p;
}

inline const char* TrimRight(const char* begin, const char* end) {
  while (end > begin && static_cast<unsigned char>(end[-1]) <= 0x20) --end;
  return end;
}

inline const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && static_cast<unsigned char>(*p) <= 0x20) ++p;
  return p;
}

// The keyword (lower case) at p, any letter case, followed by a non-identifier
// character and not by "=" as the next non-blank: returns the end of the word.
inline const char* MatchWord(const char* p, const char* end, std::string_view word) {
  if (size_t(end - p) < word.size()) return nullptr;
  for (size_t i = 0; i < word.size(); ++i) {
    if ((p[i] | 0x20) != word[i]) return nullptr;
  }
  const char* after = p + word.size();
  if (after < end && IsIdent(*after)) return nullptr;
  const char* next = SkipBlanks(after, end);
  if (next < end && *next == '=') return nullptr;
  return after;
}

inline std::string_view View(const char* b, const char* e) {
  return {b, size_t(e - b)};
}

// Just past the line break at p (CR LF and LF CR count as one).
inline const char* SkipLineBreak(const char* p, const char* end) {
  if (p < end) {
    char c = *p++;
    if (p < end && ((c == '\r' && *p == '\n') || (c == '\n' && *p == '\r'))) ++p;
  }
  return p;
}

// Whether the text has more lines than limit, counted as the parser splits them.
bool MoreLinesThan(const char* p, const char* end, size_t limit) {
  size_t lines = 0;
  while (p < end) {
    if (++lines > limit) return true;
    const char* eq;
    p = SkipLineBreak(FindLineEnd(p, end, eq), end);
  }
  return false;
}

}  // namespace

class TIniParser {
 public:
  explicit TIniParser(TIniFile& doc) : doc_(doc), section_(&doc), current_(&doc) {}

  // False when an object header would nest deeper than kMaxObjectNesting;
  // parsing stops there.
  bool Run(const char* p, const char* end) {
    while (p < end && !tooDeep_) {
      const char* eq;
      const char* eol = FindLineEnd(p, end, eq);
      Line(p, eol, eq);
      p = SkipLineBreak(eol, end);
    }
    return !tooDeep_;
  }

 private:
  void Text(const char* b, const char* e) { Push(doc_.NewItem({}, View(b, e))); }

  // Append for items and text lines of a list being parsed: it has no hash
  // table yet and the item is no object, so only the order needs keeping.
  void Push(TIniItem* item) {
    TIniList* list = current_;
    item->owner_ = list;
    item->index_ = int32_t(list->items_.size());
    if (list->items_.capacity() == 0) list->items_.reserve(16);
    list->items_.push_back(item);
    if (!item->key_.empty()) list->keyedEnd_ = item->index_ + 1;
  }

  // eq: the line's first "=", or nullptr.
  void Line(const char* p, const char* eol, const char* eq) {
    const char* s = SkipBlanks(p, eol);
    if (s == eol) return Text(s, s);
    const char* last = TrimRight(s, eol);
    char c = *s;
    if (c == ';' || c == '=') return Text(s, last);
    if (c == '[') {
      const char* close = static_cast<const char*>(std::memchr(s + 1, ']', size_t(eol - s - 1)));
      if (!close) return Text(s, last);
      const char* nb = SkipBlanks(s + 1, close);
      return SectionHeader(View(nb, TrimRight(nb, close)));
    }
    if ((c | 0x20) == 'o') {
      if (const char* after = MatchWord(s, eol, "object")) return ObjectHeader(after, last);
    } else if ((c | 0x20) == 'e') {
      if (MatchWord(s, eol, "end")) return EndLine(s, last);
    }
    if (!eq) return Text(s, last);
    const char* value = SkipBlanks(eq + 1, last);
    Push(doc_.NewItem(View(s, TrimRight(s, eq)), View(value, last)));
  }

  void SectionHeader(std::string_view name) {
    open_.clear();  // a section header ends every open object
    TIniSection* s = doc_.LookupSection(name, FoldedHash(name));
    section_ = s ? s : doc_.AddSection(name);
    current_ = section_;
  }

  void ObjectHeader(const char* after, const char* last) {
    const char* rest = SkipBlanks(after, last);
    const char* colon = static_cast<const char*>(memrchr(rest, ':', size_t(last - rest)));
    std::string_view name, cls;
    if (colon) {
      name = View(rest, TrimRight(rest, colon));
      const char* cb = SkipBlanks(colon + 1, last);
      cls = View(cb, last);
    } else {
      name = View(rest, last);
    }
    if (open_.size() >= size_t(kMaxObjectNesting)) {
      tooDeep_ = true;
      return;
    }
    TIniObject* obj = doc_.NewObject(name, cls);
    current_->Append(obj);
    open_.push_back(obj);
    current_ = obj;
  }

  void EndLine(const char* s, const char* last) {
    if (open_.empty()) return Text(s, last);  // a stray end stays as text
    open_.pop_back();
    current_ = open_.empty() ? section_ : open_.back();
  }

  TIniFile& doc_;
  TIniList* section_;
  TIniList* current_;
  std::vector<TIniList*> open_;
  bool tooDeep_ = false;
};

// ---------------------------------------------------------------------------
// The document

// The root's own arrays live on the heap: Clear empties the arena under them.
TIniFile::TIniFile() : TIniList(TIniKind::File, this, {}, {}, std::pmr::new_delete_resource()) {}
TIniFile::~TIniFile() {
  DestroyLists();
}

// Lists live in the arena with the items; only their own containers need freeing.
void TIniFile::DestroyLists() {
  for (TIniList* list : lists_) list->~TIniList();
  lists_.clear();
}

inline TIniItem* TIniFile::NewItem(std::string_view key, std::string_view value) {
  return new (arena_.Allocate(sizeof(TIniItem), alignof(TIniItem)))
      TIniItem(TIniKind::Item, key, value);
}

TIniObject* TIniFile::NewObject(std::string_view name, std::string_view cls) {
  auto* obj = new (arena_.Allocate(sizeof(TIniObject), alignof(TIniObject)))
      TIniObject(this, name, cls, &storage_);
  lists_.push_back(obj);
  return obj;
}

TIniSection* TIniFile::AddSection(std::string_view name) {
  auto* s = new (arena_.Allocate(sizeof(TIniSection), alignof(TIniSection)))
      TIniSection(this, name, &storage_);
  lists_.push_back(s);
  s->sectionIndex_ = int32_t(sections_.size());
  sections_.push_back(s);
  IndexSection(s);
  return s;
}

void TIniFile::IndexSection(TIniSection* s) {
  s->hash_ = FoldedHash(s->key_);
  if (sections_.size() > sectionBuckets_.size()) {
    size_t size = std::max<size_t>(64, sectionBuckets_.size() * 2);
    sectionBuckets_.assign(size, nullptr);
    for (TIniSection* t : sections_) {
      TIniItem*& head = sectionBuckets_[t->hash_ & (size - 1)];
      t->next_ = head;
      head = t;
    }
    return;
  }
  TIniItem*& head = sectionBuckets_[s->hash_ & (sectionBuckets_.size() - 1)];
  s->next_ = head;
  head = s;
}

TIniSection* TIniFile::LookupSection(std::string_view name, uint32_t hash) const {
  if (sectionBuckets_.empty()) return nullptr;
  for (TIniItem* n = sectionBuckets_[hash & (sectionBuckets_.size() - 1)]; n; n = n->next_) {
    if (n->hash_ == hash && FoldedEquals(n->key_, name)) return static_cast<TIniSection*>(n);
  }
  return nullptr;
}

void TIniFile::Clear() {
  items_.clear();
  objects_.clear();
  sections_.clear();
  sectionBuckets_.clear();
  DestroyLists();
  buckets_.clear();
  hashed_.store(false);
  keyedEnd_ = 0;
  keyedCount_ = 0;
  arena_.Clear();
  text_.clear();
  text_.shrink_to_fit();
  raw_ = {};
}

void TIniFile::CopyFrom(const TIniFile& from) {
  if (&from == this) return;
  Clear();
  loadError_.clear();
  AppendCopy(from);
  for (const TIniSection* s : from.sections_) AddSection(Keep(s->Name()))->AppendCopy(*s);
}

bool TIniFile::LoadText(std::string text) {
  Clear();
  text_ = std::move(text);
  return Parse(text_.data(), text_.data() + text_.size());
}

bool TIniFile::Parse(const char* begin, const char* end) {
  loadError_.clear();
  if (MoreLinesThan(begin, end, kMaxDocumentLines)) {
    loadError_ = "The document has more than " + std::to_string(kMaxDocumentLines) + " lines";
  } else if (!TIniParser(*this).Run(begin, end)) {
    loadError_ = kObjectsTooDeepMessage;
  } else {
    return true;
  }
  Clear();
  return false;
}

bool TIniFile::Load(TStream& stream) {
  loadError_.clear();
  TByteBuffer raw;
  try {
    raw = ReadRestBuffer(stream, kMaxDocumentSize - 1, "The document is 128 MB or larger");
  } catch (const std::exception& e) {
    loadError_ = e.what();
    return false;
  }
  std::string_view bytes = raw.View();
  if (bytes.substr(0, 2) == "\xFF\xFE") return LoadText(Utf16LeBytesToUtf8(bytes.substr(2)));
  if (bytes.substr(0, 3) != "\xEF\xBB\xBF" && !IsAscii(bytes)) return LoadText(AnsiToUtf8(bytes));
  // UTF-8 and plain ASCII are parsed where they were read; the mark is skipped.
  Clear();
  size_t skip = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  raw_ = std::move(raw);
  return Parse(raw_.data.get() + skip, raw_.data.get() + raw_.size);
}

bool TIniFile::LoadFromFile(const std::string& path) {
  auto f = TFileStream::TryOpenRead(path);
  if (!f) {
    loadError_ = "Cannot open file \"" + path + "\"";
    return false;
  }
  return Load(*f);
}

TIniList* TIniFile::Section(std::string_view name) const {
  if (name.empty()) return const_cast<TIniFile*>(this);
  return LookupSection(name, FoldedHash(name));
}

TIniList* TIniFile::FindOrAddSection(std::string_view name) {
  if (TIniList* s = Section(name)) return s;
  TIniSection* s = AddSection(Keep(name));
  s->AddText({});
  return s;
}

TIniItem* TIniFile::PathItem(std::string_view path) {
  TIniList* list = this;
  bool atRoot = true;
  for (;;) {
    size_t colon = path.find(':');
    if (colon == std::string_view::npos) return list->FindOrAddItem(path);
    std::string_view name = path.substr(0, colon);
    path.remove_prefix(colon + 1);
    if (atRoot) {
      list = FindOrAddSection(name);
      atRoot = false;
      continue;
    }
    TIniObject* obj = name.empty() ? list->FirstObject() : list->FindObject(name);
    list = obj ? obj : list->AddObject(name, {});
  }
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  return lum::ReadString(Section(section), key, def);
}
int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  return lum::ReadInteger(Section(section), key, def);
}
double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
  return lum::ReadFloat(Section(section), key, def);
}
bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return lum::ReadBool(Section(section), key, def);
}
void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  FindOrAddSection(section)->FindOrAddItem(key)->SetValue(value);
}
void TIniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, IntToValue(value));
}
void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FloatToValue(value));
}
void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, BoolToValue(value));
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// Indentation stops growing at this many spaces. Leading blanks mean nothing
// when read back, and unbounded indentation would make the written text grow
// with the square of the nesting depth (gigabytes from a megabyte of "object").
constexpr size_t kMaxIndent = 64;

// Writes a list's items; nested objects are walked with an explicit stack so
// that depth never threatens the call stack.
void WriteItems(std::string& out, const TIniList* top) {
  struct TFrame {
    const TIniList* list;
    size_t next;
    size_t indent;
  };
  std::vector<TFrame> stack{{top, 0, 0}};
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.next == f.list->Items().size()) {
      size_t indent = f.indent;
      bool object = f.list->Kind() == TIniKind::Object;
      stack.pop_back();
      if (object) out.append(std::min(indent - 2, kMaxIndent), ' ').append("end\r\n");
      continue;
    }
    const TIniItem* item = f.list->Items()[f.next++];
    size_t indent = std::min(f.indent, kMaxIndent);
    if (item->Kind() == TIniKind::Object) {
      out.append(indent, ' ').append("object");
      if (!item->Key().empty() || !item->Value().empty()) out += ' ';
      out.append(item->Key());
      // A name with a colon keeps a closing one even without class: the last
      // colon on the line is read as the start of the class.
      if (!item->Value().empty() || item->Key().find(':') != std::string_view::npos) {
        out.append(":").append(item->Value());
      }
      out += "\r\n";
      stack.push_back({static_cast<const TIniList*>(item), 0, indent + 2});
    } else if (item->IsText()) {
      if (!item->Value().empty()) out.append(indent, ' ').append(item->Value());
      out += "\r\n";
    } else {
      out.append(indent, ' ').append(item->Key()).append("=").append(item->Value()).append("\r\n");
    }
  }
}

}  // namespace

std::string TIniFile::ToText(bool byteOrderMark) const {
  std::string out;
  size_t loaded = text_.size() + raw_.size;
  out.reserve(loaded + loaded / 8 + 64);
  if (byteOrderMark) out += "\xEF\xBB\xBF";
  WriteItems(out, this);
  for (const TIniSection* s : sections_) {
    out.append("[").append(s->Name()).append("]\r\n");
    WriteItems(out, s);
  }
  return out;
}

bool TIniFile::Save(TStream& stream, bool byteOrderMark) const {
  try {
    std::string text = ToText(byteOrderMark);
    stream.WriteBuffer(text.data(), text.size());
    if (auto* f = dynamic_cast<TFileStream*>(&stream)) f->Flush();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TIniFile::SaveToFile(const std::string& path) const {
  try {
    TFileStream f(path, TFileStream::TMode::Create);
    return Save(f, true);
  } catch (const std::exception&) {
    return false;
  }
}

std::string TIniFile::ToOneValue() const {
  std::string text = ToText(false), out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r' || c == '\n') {
      out += "\\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

bool TIniFile::DecodeOneValue(std::string_view value, std::string& text) {
  text.clear();
  text.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
      continue;
    }
    if (++i == value.size()) return false;
    if (value[i] == '\\') {
      text += '\\';
    } else if (value[i] == 'n') {
      text += "\r\n";
    } else {
      return false;
    }
  }
  return true;
}

bool TIniFile::LoadOneValue(std::string_view value) {
  std::string text;
  if (!DecodeOneValue(value, text)) return false;
  return LoadText(std::move(text));
}

// ---------------------------------------------------------------------------
// Null-safe lookups

TIniItem* FindItem(const TIniList* list, std::string_view key) {
  return list ? list->Find(key) : nullptr;
}
TIniObject* FindObject(const TIniList* list, std::string_view name) {
  return list ? list->FindObject(name) : nullptr;
}
TIniObject* FindObject(const TIniList* list, std::string_view name, std::string_view className) {
  return list ? list->FindObject(name, className) : nullptr;
}
std::string ReadString(const TIniList* list, std::string_view key, std::string_view def) {
  const TIniItem* it = FindItem(list, key);
  return std::string(it ? it->Value() : def);
}
int32_t ReadInteger(const TIniList* list, std::string_view key, int32_t def) {
  const TIniItem* it = FindItem(list, key);
  return it ? ValueToInt(it->Value(), def) : def;
}
int64_t ReadInt64(const TIniList* list, std::string_view key, int64_t def) {
  const TIniItem* it = FindItem(list, key);
  return it ? ValueToInt64(it->Value(), def) : def;
}
double ReadFloat(const TIniList* list, std::string_view key, double def) {
  const TIniItem* it = FindItem(list, key);
  return it ? ValueToFloat(it->Value(), def) : def;
}
bool ReadBool(const TIniList* list, std::string_view key, bool def) {
  const TIniItem* it = FindItem(list, key);
  return it ? ValueToBool(it->Value(), def) : def;
}
int ReadChoice(const TIniList* list, std::string_view key,
               std::initializer_list<std::string_view> choices, bool caseSensitive, int def) {
  const TIniItem* it = FindItem(list, key);
  return it ? ValueToChoice(it->Value(), choices, caseSensitive, def) : def;
}
std::vector<std::string> ReadList(const TIniList* list, std::string_view key, char sep) {
  const TIniItem* it = FindItem(list, key);
  return it ? SplitValue(it->Value(), sep) : std::vector<std::string>{};
}

}  // namespace lum
