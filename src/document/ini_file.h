#pragma once
// The project document: an INI-like text of sections with key=value items,
// free text lines and nested named objects ("object Name:Class" ... "end").
// The same format serves the container directory and smaller configuration
// texts. Keys, section, object and class names compare case-insensitively.
//
// Strings are views into storage owned by the document (the loaded text, or
// copies made when values are set); they stay valid until Clear or Load.
#include <atomic>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/arena.h"
#include "foundation/stream.h"
#include "document/ini_values.h"

namespace lum {

class TIniList;
class TIniSection;
class TIniObject;
class TIniFile;

// Documents of this size or more are refused.
inline constexpr int64_t kMaxDocumentSize = 134217728;
// Documents of more lines are refused before any is parsed: whatever its
// length, a parsed line costs about 100 bytes, an object 400, a section 220.
inline constexpr size_t kMaxDocumentLines = 2000000;
// Object sections nest at most this deep; a deeper document is refused, so
// no walk over a loaded document meets more.
inline constexpr int kMaxObjectNesting = 256;
inline constexpr const char* kObjectsTooDeepMessage = "Objects nested deeper than 256 levels";

enum class TIniKind : uint8_t { Item, Section, Object, File };

// A line of a list: a keyed item, a text line (empty key), or a nested list.
class TIniItem {
 public:
  std::string_view Key() const { return key_; }
  // The value of an item, the text of a text line, the class of an object.
  std::string_view Value() const { return value_; }
  TIniKind Kind() const { return kind_; }
  bool IsText() const { return kind_ == TIniKind::Item && key_.empty(); }
  bool IsPlainItem() const { return kind_ == TIniKind::Item && !key_.empty(); }
  TIniList* Owner() const { return owner_; }
  int32_t Index() const { return index_; }
  TIniObject* AsObject();

  // Stores a copy of the text as the value.
  void SetValue(std::string_view value);

 protected:
  friend class TIniList;
  friend class TIniFile;
  friend class TIniParser;
  TIniItem(TIniKind kind, std::string_view key, std::string_view value)
      : key_(key), value_(value), kind_(kind) {}

  std::string_view key_;
  std::string_view value_;
  TIniList* owner_ = nullptr;
  TIniItem* next_ = nullptr;  // hash chain, descending index order
  int32_t index_ = -1;
  uint32_t hash_ = 0;
  TIniKind kind_;
};

// An ordered list of items with a key hash built on the first lookup.
class TIniList : public TIniItem {
 public:
  virtual ~TIniList() = default;

  const std::pmr::vector<TIniItem*>& Items() const { return items_; }
  const std::pmr::vector<TIniObject*>& Objects() const { return objects_; }
  TIniFile& Root() const { return *root_; }

  // The last keyed item with that key (later duplicates hide earlier ones).
  TIniItem* Find(std::string_view key) const;
  // The last plain item with that key, or a new one with an empty value inserted
  // just after the last keyed item.
  TIniItem* FindOrAddItem(std::string_view key);
  // Inserts a keyed item after the last keyed item (duplicates allowed).
  TIniItem* AddItem(std::string_view key, std::string_view value);
  // Appends a text line (empty text: an empty line).
  TIniItem* AddText(std::string_view text);
  // Appends a nested object.
  TIniObject* AddObject(std::string_view name, std::string_view className);
  // Unlinks an item; a removed list's items go with it.
  void Remove(TIniItem* item);
  // Appends copies of from's items, nested objects included, in document
  // order (from may belong to another document). Any depth is safe.
  void AppendCopy(const TIniList& from);

  // The first object with that name (and class, when given).
  TIniObject* FindObject(std::string_view name) const;
  TIniObject* FindObject(std::string_view name, std::string_view className) const;
  TIniObject* FirstObject() const { return objects_.empty() ? nullptr : objects_.front(); }
  // The object after the given one, in document order.
  TIniObject* NextObject(const TIniObject* after) const;

 protected:
  friend class TIniFile;
  friend class TIniParser;
  // Sections and objects keep their item arrays in the document's arena.
  TIniList(TIniKind kind, TIniFile* root, std::string_view key, std::string_view value,
           std::pmr::memory_resource* storage)
      : TIniItem(kind, key, value), root_(root), items_(storage), objects_(storage) {}

  void Append(TIniItem* item);
  void Insert(int32_t index, TIniItem* item);
  void EnsureHashed() const;
  void Link(TIniItem* item) const;
  void Unlink(TIniItem* item) const;

  TIniFile* root_;
  std::pmr::vector<TIniItem*> items_;
  std::pmr::vector<TIniObject*> objects_;
  int32_t keyedEnd_ = 0;  // index just after the last keyed item
  mutable std::vector<TIniItem*> buckets_;
  mutable size_t keyedCount_ = 0;
  mutable std::atomic<bool> hashed_{false};
};

class TIniSection : public TIniList {
 public:
  std::string_view Name() const { return key_; }
  int32_t SectionIndex() const { return sectionIndex_; }

 private:
  friend class TIniFile;
  TIniSection(TIniFile* root, std::string_view name, std::pmr::memory_resource* storage)
      : TIniList(TIniKind::Section, root, name, {}, storage) {}
  int32_t sectionIndex_ = -1;
};

class TIniObject : public TIniList {
 public:
  std::string_view Name() const { return key_; }
  std::string_view ClassName() const { return value_; }

 private:
  friend class TIniFile;
  TIniObject(TIniFile* root, std::string_view name, std::string_view cls,
             std::pmr::memory_resource* storage)
      : TIniList(TIniKind::Object, root, name, cls, storage) {}
};

class TIniFile : public TIniList {
 public:
  TIniFile();
  ~TIniFile() override;
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  // Reads the rest of the stream as a document (UTF-8 with mark, UTF-16LE with
  // mark, else the ANSI code page). False, with LoadError(), when the stream
  // cannot be read, is 128 MB or larger, has more than kMaxDocumentLines
  // lines or nests objects deeper than kMaxObjectNesting; the document is
  // then empty.
  bool Load(TStream& stream);
  bool LoadFromFile(const std::string& path);
  // Parses already decoded UTF-8 text; false as Load for too many lines or
  // too deep nesting.
  bool LoadText(std::string text);
  const std::string& LoadError() const { return loadError_; }
  void Clear();
  // Replaces the document with a copy of another, without writing and
  // reading text, so no limit of the reader applies to it twice.
  void CopyFrom(const TIniFile& from);

  // Document order, UTF-8, CR LF line ends, optional byte-order mark.
  std::string ToText(bool byteOrderMark) const;
  bool Save(TStream& stream, bool byteOrderMark) const;
  bool SaveToFile(const std::string& path) const;  // with byte-order mark

  // The whole document as one line: backslashes doubled, line breaks as "\n".
  std::string ToOneValue() const;
  // Parses the one-value form; false (document unchanged) on any other escape.
  bool LoadOneValue(std::string_view value);
  static bool DecodeOneValue(std::string_view value, std::string& text);

  const std::vector<TIniSection*>& Sections() const { return sections_; }
  // Empty name: the root itself.
  TIniList* Section(std::string_view name) const;
  TIniSection* SectionAt(size_t index) const {
    return index < sections_.size() ? sections_[index] : nullptr;
  }
  // Empty name: the root. A new section starts with one empty text line.
  TIniList* FindOrAddSection(std::string_view name);

  // "Section:Object:...:Key"; missing parts are created with empty values.
  TIniItem* PathItem(std::string_view path);

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteFloat(std::string_view section, std::string_view key, double value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // Storage for strings set after loading.
  std::string_view Keep(std::string_view s) { return arena_.Copy(s); }

 private:
  friend class TIniList;
  friend class TIniParser;
  TIniItem* NewItem(std::string_view key, std::string_view value);
  TIniObject* NewObject(std::string_view name, std::string_view cls);
  TIniSection* AddSection(std::string_view name);
  bool Parse(const char* begin, const char* end);
  void DestroyLists();
  TIniSection* LookupSection(std::string_view name, uint32_t hash) const;
  void IndexSection(TIniSection* s);

  std::string text_;  // text that had to be converted
  TByteBuffer raw_;   // text read as it was (UTF-8, ASCII)
  std::string loadError_;
  TArena arena_;
  TArenaResource storage_{arena_};
  std::vector<TIniList*> lists_;  // sections and objects, placed in the arena
  std::vector<TIniSection*> sections_;
  std::vector<TIniItem*> sectionBuckets_;  // chains through next_
  std::mutex hashMutex_;                   // first lookups may come from several threads
};

// Null-safe lookups: a missing list gives nothing or the default.
TIniItem* FindItem(const TIniList* list, std::string_view key);
TIniObject* FindObject(const TIniList* list, std::string_view name);
TIniObject* FindObject(const TIniList* list, std::string_view name, std::string_view className);
std::string ReadString(const TIniList* list, std::string_view key, std::string_view def);
int32_t ReadInteger(const TIniList* list, std::string_view key, int32_t def);
int64_t ReadInt64(const TIniList* list, std::string_view key, int64_t def);
double ReadFloat(const TIniList* list, std::string_view key, double def);
bool ReadBool(const TIniList* list, std::string_view key, bool def);
int ReadChoice(const TIniList* list, std::string_view key,
               std::initializer_list<std::string_view> choices, bool caseSensitive, int def);
std::vector<std::string> ReadList(const TIniList* list, std::string_view key, char sep = ',');

// Visits the objects below list depth first in document order, each before
// its children; visit(object, depth) gets depth 1 for list's own objects and
// returns whether to walk into the object. Keeps its own stack, so trees
// built deeper than a document may nest are safe too.
template <class TVisit>
void WalkObjects(const TIniList* list, TVisit&& visit) {
  if (!list) return;
  struct TFrame {
    const TIniList* list;
    size_t next;
  };
  std::vector<TFrame> stack{{list, 0}};
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.next == f.list->Objects().size()) {
      stack.pop_back();
      continue;
    }
    TIniObject* o = f.list->Objects()[f.next++];
    if (visit(o, int(stack.size()))) stack.push_back({o, 0});
  }
}

}  // namespace lum
