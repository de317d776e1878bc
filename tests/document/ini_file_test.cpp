#include "document/ini_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/code_page.h"
#include "foundation/errors.h"
#include "foundation/memory_stream.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

// A list's items in one line: "key=value", 'text', <name:class>{children}.
std::string Shape(const TIniList& list) {
  std::string out;
  for (const TIniItem* it : list.Items()) {
    if (!out.empty()) out += '|';
    if (it->Kind() == TIniKind::Object) {
      auto* o = static_cast<const TIniObject*>(it);
      out.append("<").append(o->Name()).append(":").append(o->ClassName()).append(">{");
      out.append(Shape(*o)).append("}");
    } else if (it->IsText()) {
      out.append("'").append(it->Value()).append("'");
    } else {
      out.append(it->Key()).append("=").append(it->Value());
    }
  }
  return out;
}

bool LoadBytes(TIniFile& doc, std::string_view bytes) {
  TMemoryStream s(bytes);
  return doc.Load(s);
}

// Checks every item's index and the list's object order against its items.
void ExpectConsistent(const TIniList& list) {
  std::vector<const TIniObject*> objects;
  for (size_t i = 0; i < list.Items().size(); ++i) {
    const TIniItem* it = list.Items()[i];
    EXPECT_EQ(it->Index(), int32_t(i));
    EXPECT_EQ(it->Owner(), &list);
    if (it->Kind() == TIniKind::Object) objects.push_back(static_cast<const TIniObject*>(it));
  }
  EXPECT_TRUE(
      std::equal(objects.begin(), objects.end(), list.Objects().begin(), list.Objects().end()));
}

// A stream that claims a size and serves the given bytes, counting what is read.
class TClaimedSizeStream : public TStream {
 public:
  TClaimedSizeStream(int64_t claimed, std::string bytes)
      : claimed_(claimed), bytes_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t count) override {
    size_t n = std::min(count, bytes_.size() - pos_);
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    bytesRead_ += n;
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    int64_t base = origin == TSeekOrigin::Begin     ? 0
                   : origin == TSeekOrigin::Current ? pos_
                                                    : claimed_;
    pos_ = size_t(std::clamp<int64_t>(base + offset, 0, int64_t(bytes_.size())));
    return int64_t(pos_);
  }
  int64_t Position() override { return int64_t(pos_); }
  int64_t Size() override { return claimed_; }

  size_t BytesRead() const { return bytesRead_; }

 private:
  int64_t claimed_;
  std::string bytes_;
  size_t pos_ = 0;
  size_t bytesRead_ = 0;
};

class TFailingStream : public TStream {
 public:
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

// ---------------------------------------------------------------------------
// Lines

TEST(IniFileLines, ClassifiedByFirstNonBlankCharacter) {
  TIniFile doc;
  doc.LoadText(
      "\r\n"
      "  ; a comment ; \r\n"
      "=not a key\r\n"
      "  key = value = more ; \"quoted\" \\ \r\n"
      "empty=\r\n"
      "object=5\r\n"
      "OBJECT =6\r\n"
      "end=7\r\n"
      "objects\r\n"
      "ending\r\n"
      "[unclosed\r\n"
      "  plain text line \r\n");
  EXPECT_EQ(Shape(doc),
            "''|'; a comment ;'|'=not a key'|key=value = more ; \"quoted\" \\|empty=|object=5|"
            "OBJECT=6|end=7|'objects'|'ending'|'[unclosed'|'plain text line'");
  EXPECT_TRUE(doc.Sections().empty());
  EXPECT_TRUE(doc.Objects().empty());
}

TEST(IniFileLines, SectionHeaders) {
  TIniFile doc;
  doc.LoadText("[ Main Part ]  ignored=1 ]\r\n[]\r\n[x[y]\r\n");
  ASSERT_EQ(doc.Sections().size(), 3u);
  EXPECT_EQ(doc.Sections()[0]->Name(), "Main Part");
  EXPECT_EQ(doc.Sections()[0]->Kind(), TIniKind::Section);
  EXPECT_TRUE(doc.Sections()[0]->Items().empty());  // the rest after "]" is dropped
  EXPECT_EQ(doc.Sections()[1]->Name(), "");
  EXPECT_EQ(doc.Sections()[2]->Name(), "x[y");
  EXPECT_EQ(doc.SectionAt(2), doc.Sections()[2]);
  EXPECT_EQ(doc.SectionAt(2)->SectionIndex(), 2);
  EXPECT_EQ(doc.SectionAt(3), nullptr);
}

TEST(IniFileLines, ObjectHeadersAndEnds) {
  TIniFile doc;
  doc.LoadText(
      "object Music:TMusic\r\n"
      "End\r\n"
      "Object  Track : One : TTrack \r\n"
      "end  trailing words\r\n"
      "object NameOnly\r\n"
      "end\r\n"
      "object\r\n"
      "end\r\n"
      "object :ClassOnly\r\n"
      "end\r\n"
      "object\tTabbed:\r\n"
      "end\r\n"
      "object-dash\r\n"
      "end\r\n");
  EXPECT_EQ(Shape(doc),
            "<Music:TMusic>{}|<Track : One:TTrack>{}|<NameOnly:>{}|<:>{}|<:ClassOnly>{}|"
            "<Tabbed:>{}|<-dash:>{}");
  EXPECT_EQ(doc.Objects().size(), 7u);
  EXPECT_EQ(doc.Objects()[0]->Kind(), TIniKind::Object);
}

TEST(IniFileLines, AllFourLineEndsAndTheEndOfText) {
  TIniFile doc;
  doc.LoadText("a=1\r\nb=2\n\rc=3\rd=4\ne=5");
  EXPECT_EQ(Shape(doc), "a=1|b=2|c=3|d=4|e=5");

  // Two breaks of the same kind, or CR then CR LF, make an empty line between.
  doc.LoadText("a\r\rb\n\nc\r\r\nd\n\n\re");
  EXPECT_EQ(Shape(doc), "'a'|''|'b'|''|'c'|''|'d'|''|'e'");

  doc.LoadText("");
  EXPECT_TRUE(doc.Items().empty());
  doc.LoadText("\r\n");
  EXPECT_EQ(Shape(doc), "''");
}

TEST(IniFileLines, BlankCharactersAreControlBytesAndSpace) {
  TIniFile doc;
  doc.LoadText("\x01\x1f key\x00\t=\x0b value\x7f \x20\x00\r\n\x00\x08\r\n  \t;x\x05y\t\r\n"s);
  EXPECT_EQ(Shape(doc), "key=value\x7f|''|';x\x05y'");
}

// ---------------------------------------------------------------------------
// The tree

TEST(IniFileTree, SectionsObjectsAndTheRoot) {
  TIniFile doc;
  doc.LoadText(
      "before=1\n"
      "; root comment\n"
      "[A]\n"
      "a1=1\n"
      "object Outer:TOuter\n"
      "  o=1\n"
      "  object Inner:TInner\n"
      "    i=1\n"
      "  end\n"
      "  o2=2\n"
      "end\n"
      "end\n"
      "[B]\n"
      "b=1\n"
      "object Open:TOpen\n"
      "  inside=1\n"
      "[a]\n"
      "a2=2\n"
      "end\n"
      "object Last\n"
      "x=1\n"
      "end\n"
      "y=2\n");
  EXPECT_EQ(Shape(doc), "before=1|'; root comment'");
  ASSERT_EQ(doc.Sections().size(), 2u);
  // The repeated header continues A; the header inside Open ends it; a stray end is text.
  EXPECT_EQ(Shape(*doc.Sections()[0]),
            "a1=1|<Outer:TOuter>{o=1|<Inner:TInner>{i=1}|o2=2}|'end'|a2=2|'end'|<Last:>{x=1}|y=2");
  EXPECT_EQ(Shape(*doc.Sections()[1]), "b=1|<Open:TOpen>{inside=1}");
  ExpectConsistent(doc);
  ExpectConsistent(*doc.Sections()[0]);

  TIniList* a = doc.Section("A");
  TIniObject* outer = a->FirstObject();
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->Owner(), a);
  EXPECT_EQ(&outer->Root(), &doc);
  EXPECT_EQ(a->NextObject(outer), FindObject(a, "last"));
  EXPECT_EQ(a->NextObject(a->NextObject(outer)), nullptr);
  EXPECT_EQ(FindObject(outer, "INNER", "tinner"), outer->FirstObject());
  EXPECT_EQ(FindObject(outer, "Inner", "TOther"), nullptr);
  EXPECT_EQ(FindObject(outer, "Missing"), nullptr);
  EXPECT_EQ(ReadInteger(outer->FirstObject(), "i", 0), 1);
  EXPECT_EQ(ReadInteger(a, "i", 0), 0);  // nested items are not the section's
  EXPECT_EQ(doc.ReadInteger("", "before", 0), 1);
}

TEST(IniFileTree, ObjectsWithTheSameNameAreFoundByClass) {
  TIniFile doc;
  doc.LoadText("[S]\nobject Fx:TFade\nend\nobject Fx:TWipe\nn=2\nend\n");
  TIniList* s = doc.Section("S");
  EXPECT_EQ(FindObject(s, "fx")->ClassName(), "TFade");
  EXPECT_EQ(ReadInteger(FindObject(s, "FX", "twipe"), "n", 0), 2);
  EXPECT_EQ(FindObject(nullptr, "Fx"), nullptr);
}

// ---------------------------------------------------------------------------
// Lookups

TEST(IniFileLookup, NamesAndKeysIgnoreLetterCase) {
  TIniFile doc;
  doc.LoadText(
      "[main]\n"
      "opt_exefn=show.exe\n"
      "ÄRGER=1\n"
      "ΟΔΟΣ=2\n"
      "КЛЮЧ=3\n"
      "[Ärger]\n"
      "x=4\n"
      "object ΜΟΥΣΙΚΗ:TMusik\n"
      "end\n");
  EXPECT_EQ(doc.Section("Main"), doc.Sections()[0]);
  EXPECT_EQ(doc.Section(""), &doc);
  EXPECT_EQ(doc.Section("mainx"), nullptr);
  EXPECT_EQ(doc.ReadString("MAIN", "opt_ExeFn", "-"), "show.exe");
  EXPECT_EQ(doc.ReadInteger("main", "ärger", 0), 1);
  EXPECT_EQ(doc.ReadInteger("main", "\u03bf\u03b4\u03bf\u03c2", 0), 2);  // final sigma too
  EXPECT_EQ(doc.ReadInteger("main", "ключ", 0), 3);
  EXPECT_EQ(doc.ReadInteger("main", "ключи", 0), 0);
  EXPECT_EQ(doc.ReadInteger("äRGER", "X", 0), 4);
  EXPECT_NE(FindObject(doc.Section("ÄRGER"), "μουσικη", "tmusik"), nullptr);
}

TEST(IniFileLookup, MissingListsGiveDefaults) {
  TIniFile doc;
  doc.LoadText("[S]\nk=5\n");
  EXPECT_EQ(FindItem(nullptr, "k"), nullptr);
  EXPECT_EQ(ReadString(nullptr, "k", "def"), "def");
  EXPECT_EQ(ReadInteger(nullptr, "k", 7), 7);
  EXPECT_EQ(ReadInt64(nullptr, "k", 8), 8);
  EXPECT_EQ(ReadFloat(nullptr, "k", 1.5), 1.5);
  EXPECT_TRUE(ReadBool(nullptr, "k", true));
  EXPECT_EQ(ReadChoice(nullptr, "k", {"a"}, true, 3), 3);
  EXPECT_TRUE(ReadList(nullptr, "k").empty());
  EXPECT_EQ(doc.ReadInteger("T", "k", 9), 9);
  EXPECT_EQ(doc.ReadInteger("S", "", 9), 9);
  EXPECT_EQ(FindItem(doc.Section("S"), ""), nullptr);
  EXPECT_EQ(doc.Section("T"), nullptr);  // reads never create sections
}

TEST(IniFileLookup, DuplicateKeysLastWinsAndBothAreWritten) {
  TIniFile doc;
  doc.LoadText("[S]\r\nkey=first\r\nother=x\r\nKEY=second\r\n");
  TIniList* s = doc.Section("S");
  EXPECT_EQ(doc.ReadString("S", "key", ""), "second");
  EXPECT_EQ(s->FindOrAddItem("Key")->Value(), "second");
  EXPECT_EQ(doc.ToText(false), "[S]\r\nkey=first\r\nother=x\r\nKEY=second\r\n");

  // Removing the later one uncovers the earlier.
  s->Remove(s->Find("key"));
  EXPECT_EQ(doc.ReadString("S", "key", ""), "first");
  ExpectConsistent(*s);
}

TEST(IniFileLookup, FindOrAddInsertsAfterTheLastKeyedItem) {
  TIniFile doc;
  doc.LoadText("[S]\r\n; head\r\na=1\r\n; mid\r\nb=2\r\n\r\n; tail\r\n[T]\r\n");
  TIniList* s = doc.Section("S");
  EXPECT_EQ(s->FindOrAddItem("A")->Value(), "1");
  TIniItem* c = s->FindOrAddItem("c");
  EXPECT_EQ(c->Value(), "");
  EXPECT_EQ(c->Index(), 4);
  c->SetValue("3");
  s->AddItem("d", "4");
  ExpectConsistent(*s);
  EXPECT_EQ(doc.ToText(false),
            "[S]\r\n; head\r\na=1\r\n; mid\r\nb=2\r\nc=3\r\nd=4\r\n\r\n; tail\r\n[T]\r\n");

  // A new section starts with an empty line, so the next section stays apart.
  doc.WriteInteger("New", "n", -5);
  doc.WriteBool("New", "flag", true);
  doc.WriteFloat("New", "f", 0.5);
  doc.WriteString("New", "n", "6");
  EXPECT_EQ(doc.ToText(false).substr(doc.ToText(false).find("[New]")),
            "[New]\r\nn=6\r\nflag=1\r\nf=0.5\r\n\r\n");
  EXPECT_EQ(doc.ReadInteger("new", "N", 0), 6);
  EXPECT_TRUE(doc.ReadBool("new", "flag", false));
  EXPECT_EQ(doc.ReadFloat("new", "f", 0), 0.5);
}

TEST(IniFileLookup, FindOrAddSkipsObjectsOfTheSameName) {
  TIniFile doc;
  doc.LoadText("[S]\r\nobject Pos:TPos\r\nend\r\n");
  TIniList* s = doc.Section("S");
  TIniItem* pos = s->FindOrAddItem("pos");
  EXPECT_EQ(pos->Kind(), TIniKind::Item);
  EXPECT_EQ(pos->Index(), 1);
  EXPECT_EQ(s->FindOrAddItem("POS"), pos);
  EXPECT_EQ(s->Objects().size(), 1u);
}

TEST(IniFileLookup, RemoveKeepsIndicesAndLookupsRight) {
  TIniFile doc;
  doc.LoadText(
      "[S]\r\na=1\r\n; c\r\nobject O1\r\nend\r\nb=2\r\nobject O2\r\nend\r\nc=3\r\n\r\n; tail\r\n");
  TIniList* s = doc.Section("S");
  ASSERT_NE(s->Find("c"), nullptr);  // builds the hash before the removals

  s->Remove(s->Find("b"));
  ExpectConsistent(*s);
  EXPECT_EQ(s->Find("b"), nullptr);
  EXPECT_EQ(s->Find("c")->Index(), 4);
  EXPECT_EQ(s->Find("a")->Value(), "1");

  s->Remove(s->FindObject("o1"));
  ExpectConsistent(*s);
  EXPECT_EQ(s->FirstObject()->Name(), "O2");
  EXPECT_EQ(s->NextObject(s->FirstObject()), nullptr);

  // After the last keyed item goes, new keys follow the one before it.
  s->Remove(s->Find("c"));
  s->Remove(s->FindObject("O2"));
  ExpectConsistent(*s);
  TIniItem* n = s->FindOrAddItem("n");
  EXPECT_EQ(n->Index(), 1);
  EXPECT_EQ(doc.ToText(false), "[S]\r\na=1\r\nn=\r\n; c\r\n\r\n; tail\r\n");

  // Items of another list and already removed ones are left alone.
  TIniItem* a = s->Find("a");
  doc.Remove(a);
  EXPECT_EQ(s->Find("a"), a);
  s->Remove(a);
  s->Remove(a);
  s->Remove(nullptr);
  ExpectConsistent(*s);
  EXPECT_EQ(Shape(*s), "n=|'; c'|''|'; tail'");
}

TEST(IniFileLookup, HashTableGrowsWithAddedKeys) {
  TIniFile doc;
  doc.LoadText("[S]\r\nk0=loaded\r\n; comment\r\nk1=1\r\n");
  TIniList* s = doc.Section("S");
  EXPECT_EQ(s->Find("k1")->Value(), "1");
  for (int i = 2; i < 600; ++i) {
    s->AddItem("k" + std::to_string(i), std::to_string(i));
    // Lookups in between make the table fill and be rebuilt several times.
    if (i % 50 == 0) {
      ASSERT_NE(s->Find("K" + std::to_string(i / 2)), nullptr) << i;
    }
  }
  for (int i = 0; i < 600; i += 7) s->AddItem("K" + std::to_string(i), "dup");
  for (int i = 1; i < 600; ++i) {
    TIniItem* it = s->Find("k" + std::to_string(i));
    ASSERT_NE(it, nullptr) << i;
    EXPECT_EQ(it->Value(), i % 7 == 0 ? "dup" : std::to_string(i)) << i;
  }
  EXPECT_EQ(s->Find("k0")->Value(), "dup");
  ExpectConsistent(*s);
  EXPECT_EQ(s->Items()[1]->Value(), "; comment");

  // Removals of duplicates uncover the earlier ones.
  for (int i = 0; i < 600; i += 7) s->Remove(s->Find("k" + std::to_string(i)));
  EXPECT_EQ(s->Find("k0")->Value(), "loaded");
  EXPECT_EQ(s->Find("k595")->Value(), "595");
}

TEST(IniFileLookup, PathsCreateMissingParts) {
  TIniFile doc;
  TIniItem* item = doc.PathItem("Music:Track1:Item1");
  ASSERT_NE(item, nullptr);
  item->SetValue("song.mp3");
  EXPECT_EQ(doc.PathItem("music:TRACK1:item1"), item);
  EXPECT_EQ(doc.ToText(false), "[Music]\r\n\r\nobject Track1\r\n  Item1=song.mp3\r\nend\r\n");

  // An empty object name selects the first object, or makes a nameless one.
  EXPECT_EQ(doc.PathItem("Music::Item1"), item);
  TIniItem* other = doc.PathItem("Other::Key");
  EXPECT_EQ(other->Owner()->Kind(), TIniKind::Object);
  EXPECT_EQ(other->Owner()->Key(), "");
  EXPECT_EQ(other->Owner()->Owner(), doc.Section("Other"));

  // A single name is a key of the root.
  TIniItem* top = doc.PathItem("Top");
  EXPECT_EQ(top->Owner(), &doc);
  EXPECT_EQ(doc.PathItem(":Top"), top);
}

// ---------------------------------------------------------------------------
// Writing

TEST(IniFileWrite, WritesTheTreeWithCrLfAndIndentation) {
  TIniFile doc;
  doc.LoadText(
      "top=1\n"
      "   \n"
      "[Main]\n"
      "opt_exefn = C:\\Program Files\\Lum\\lum.exe\n"
      "\t; comment\n"
      "object Music : TMusic\n"
      "object Track1:TTrack\n"
      "Item1=a.mp3\n"
      "; note\n"
      "end\n"
      "object\n"
      "END\n"
      "object : OnlyClass\n"
      "end\n"
      "end\n"
      "[Second]\n"
      "x=1\n");
  const std::string expected =
      "top=1\r\n"
      "\r\n"
      "[Main]\r\n"
      "opt_exefn=C:\\Program Files\\Lum\\lum.exe\r\n"
      "; comment\r\n"
      "object Music:TMusic\r\n"
      "  object Track1:TTrack\r\n"
      "    Item1=a.mp3\r\n"
      "    ; note\r\n"
      "  end\r\n"
      "  object\r\n"
      "  end\r\n"
      "  object :OnlyClass\r\n"
      "  end\r\n"
      "end\r\n"
      "[Second]\r\n"
      "x=1\r\n";
  EXPECT_EQ(doc.ToText(false), expected);
  EXPECT_EQ(doc.ToText(true), "\xEF\xBB\xBF" + expected);

  TMemoryStream plain, marked;
  EXPECT_TRUE(doc.Save(plain, false));
  EXPECT_TRUE(doc.Save(marked, true));
  EXPECT_EQ(plain.View(), expected);
  EXPECT_EQ(marked.View(), "\xEF\xBB\xBF" + expected);

  TFailingStream broken;
  EXPECT_FALSE(doc.Save(broken, true));
}

TEST(IniFileWrite, ObjectNamesWithColonsReadBackUnchanged) {
  TIniFile doc;
  doc.LoadText("object a: b:\r\nend\r\nobject Track:One:TTrack\r\nend\r\n");
  doc.AddObject("x:y", "");
  ASSERT_EQ(Shape(doc), "<a: b:>{}|<Track:One:TTrack>{}|<x:y:>{}");
  const std::string text = doc.ToText(false);
  EXPECT_EQ(text,
            "object a: b:\r\nend\r\nobject Track:One:TTrack\r\nend\r\nobject x:y:\r\nend\r\n");
  TIniFile back;
  back.LoadText(text);
  EXPECT_EQ(Shape(back), Shape(doc));
}

TEST(IniFileWrite, FilesRoundTripAndAreTruncated) {
  test::TTempDir dir;
  const std::string path = dir.Write("project.lum", std::string(4000, 'x'));
  TIniFile doc;
  doc.WriteString("Main", "Path", "C:\\Shows\\Tour\\a\\\\b.jpg");
  doc.WriteString("Main", "Quoted", "\"a;b\" = c");
  ASSERT_TRUE(doc.SaveToFile(path));
  EXPECT_EQ(test::ReadFile(path),
            "\xEF\xBB\xBF[Main]\r\nPath=C:\\Shows\\Tour\\a\\\\b.jpg\r\nQuoted=\"a;b\" = c\r\n\r\n");

  TIniFile back;
  ASSERT_TRUE(back.LoadFromFile(path));
  EXPECT_EQ(back.ReadString("main", "path", ""), "C:\\Shows\\Tour\\a\\\\b.jpg");
  EXPECT_EQ(back.ReadString("main", "quoted", ""), "\"a;b\" = c");

  EXPECT_FALSE(back.LoadFromFile(dir / "missing.lum"));
  EXPECT_NE(back.LoadError().find("missing.lum"), std::string::npos);
  EXPECT_FALSE(doc.SaveToFile(dir / "no/such/folder/x.lum"));
}

TEST(IniFileWrite, DocumentAsOneValue) {
  TIniFile doc;
  doc.LoadText("[S]\r\npath=C:\\dir\\n.txt\r\nobject O:C\r\nk=v\r\nend\r\n");
  const std::string one = doc.ToOneValue();
  EXPECT_EQ(one, "[S]\\npath=C:\\\\dir\\\\n.txt\\nobject O:C\\n  k=v\\nend\\n");
  EXPECT_EQ(one.find_first_of("\r\n"), std::string::npos);

  TIniFile back;
  ASSERT_TRUE(back.LoadOneValue(one));
  EXPECT_EQ(back.ReadString("S", "path", ""), "C:\\dir\\n.txt");
  EXPECT_EQ(back.ToText(false), doc.ToText(false));

  // Any other escape fails and leaves the document as it was.
  for (std::string_view bad : {"[T]\\nx=1\\t"sv, "[T]\\r"sv, "[T]\\"sv, "\\N"sv}) {
    EXPECT_FALSE(back.LoadOneValue(bad)) << bad;
    EXPECT_EQ(back.ToText(false), doc.ToText(false));
  }
  std::string text;
  EXPECT_TRUE(TIniFile::DecodeOneValue("a\\\\n\\nb", text));
  EXPECT_EQ(text, "a\\n\r\nb");
}

// ---------------------------------------------------------------------------
// Encodings and limits

TEST(IniFileEncoding, ByteOrderMarksAndTheAnsiCodePage) {
  ASSERT_TRUE(SetCodePage(1252));
  TIniFile doc;
  ASSERT_TRUE(LoadBytes(doc, "\xEF\xBB\xBF[\xC3\x84]\r\nk=\xE2\x82\xAC"));
  EXPECT_EQ(doc.Sections()[0]->Name(), "Ä");
  EXPECT_EQ(doc.ReadString("ä", "k", ""), "€");

  // UTF-16LE: "[S]\r\nk=é😀" with the emoji as a surrogate pair.
  ASSERT_TRUE(LoadBytes(doc, "\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE9\0\x3D\xD8\x00\xDE"sv));
  EXPECT_EQ(doc.ReadString("S", "k", ""), "é\xF0\x9F\x98\x80");

  // No mark: bytes above 127 are Windows-1252.
  ASSERT_TRUE(LoadBytes(doc, "[S]\r\nk=\x80 caf\xE9\r\n\xC4=1"));
  EXPECT_EQ(doc.ReadString("S", "k", ""), "€ café");
  EXPECT_EQ(doc.ReadInteger("S", "ä", 0), 1);
  // Valid UTF-8 without a mark is still read in the code page.
  ASSERT_TRUE(LoadBytes(doc, "k=\xC3\xA9"));
  EXPECT_EQ(doc.ReadString("", "k", ""), "Ã©");

  ASSERT_TRUE(LoadBytes(doc, "\xEF\xBB\xBF"));
  EXPECT_TRUE(doc.Items().empty());
  ASSERT_TRUE(LoadBytes(doc, ""));
  EXPECT_TRUE(doc.Items().empty());
}

TEST(IniFileEncoding, LoadReplacesThePreviousDocument) {
  TIniFile doc;
  doc.LoadText("[Old]\r\nold=1\r\nobject O\r\nend\r\n");
  ASSERT_NE(doc.Section("old")->Find("old"), nullptr);
  ASSERT_TRUE(LoadBytes(doc, "[New]\r\nnew=2\r\n"));
  EXPECT_EQ(doc.Section("Old"), nullptr);
  EXPECT_EQ(doc.Sections().size(), 1u);
  EXPECT_EQ(doc.ReadInteger("New", "new", 0), 2);
  doc.Clear();
  EXPECT_EQ(doc.ToText(true), "\xEF\xBB\xBF");
  EXPECT_EQ(doc.Section("New"), nullptr);
}

TEST(IniFileLimits, StreamsOf128MegabytesAreRefusedUnread) {
  TIniFile doc;
  doc.LoadText("[Kept]\r\n");
  TClaimedSizeStream huge(kMaxDocumentSize, std::string(4096, 'x'));
  EXPECT_FALSE(doc.Load(huge));
  EXPECT_EQ(doc.LoadError(), "The document is 128 MB or larger");
  EXPECT_EQ(huge.BytesRead(), 0u);

  TClaimedSizeStream larger(int64_t(1) << 40, "x");
  EXPECT_FALSE(doc.Load(larger));
  EXPECT_EQ(larger.BytesRead(), 0u);

  // One byte less is read; the stream here holds fewer bytes than it claims.
  TClaimedSizeStream justBelow(kMaxDocumentSize - 1, "[S]\r\nk=v\r\n");
  ASSERT_TRUE(doc.Load(justBelow)) << doc.LoadError();
  EXPECT_EQ(doc.LoadError(), "");
  EXPECT_EQ(doc.ReadString("S", "k", ""), "v");

  // A stream of unknown size is read up to its end.
  TClaimedSizeStream unknown(-1, "[S]\r\nk=w\r\n");
  ASSERT_TRUE(doc.Load(unknown));
  EXPECT_EQ(doc.ReadString("S", "k", ""), "w");
}

// "object" lines nested n deep, each opened with a line of its own.
std::string Nested(int n) {
  std::string text = "[S]\n";
  for (int i = 0; i < n; ++i) text += "object\n";
  return text + "leaf=1\n";
}

TEST(IniFileLimits, NestingDeeperThan256IsRefusedWhateverTheEncoding) {
  TIniFile doc;
  ASSERT_TRUE(doc.LoadText(Nested(kMaxObjectNesting)));
  int depth = 0;
  WalkObjects(doc.Section("S"), [&](const TIniObject*, int d) {
    depth = std::max(depth, d);
    return true;
  });
  EXPECT_EQ(depth, kMaxObjectNesting);
  // Depth is what is open at once: ends, and section headers, close objects.
  std::string siblings = "[S]\n";
  for (int i = 0; i < 2 * kMaxObjectNesting; ++i) siblings += "object\nend\n";
  siblings += Nested(kMaxObjectNesting) + Nested(kMaxObjectNesting);
  EXPECT_TRUE(doc.LoadText(siblings)) << doc.LoadError();

  const std::string deep = Nested(kMaxObjectNesting + 1);
  const std::string ansi = "k=caf\xE9\n" + deep;
  std::string utf16 = "\xFF\xFE";
  for (char c : deep) utf16 += {c, '\0'};
  for (const std::string& bytes : {deep, "\xEF\xBB\xBF" + deep, ansi, utf16}) {
    doc.LoadText("[Kept]\nk=v\n");
    TMemoryStream in(bytes);
    EXPECT_FALSE(doc.Load(in));
    EXPECT_EQ(doc.LoadError(), kObjectsTooDeepMessage);
    // Nothing of it, nor of the document before, is left for a walk to meet.
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_TRUE(doc.Items().empty());
  }
  EXPECT_FALSE(doc.LoadText(Nested(100000)));
  // The one-value form goes through the same reader.
  std::string oneValue;
  for (int i = 0; i <= kMaxObjectNesting; ++i) oneValue += "object\\n";
  EXPECT_FALSE(doc.LoadOneValue(oneValue));
  EXPECT_EQ(doc.LoadError(), kObjectsTooDeepMessage);
}

TEST(IniFileLimits, DocumentsOfMoreThanTwoMillionLinesAreRefusedUnparsed) {
  TIniFile doc;
  // Exactly the limit, counted as lines are split: the last needs no break.
  std::string text(kMaxDocumentLines - 1, '\n');
  text += "k=v";
  ASSERT_TRUE(doc.LoadText(text)) << doc.LoadError();
  EXPECT_EQ(doc.ReadString("", "k", ""), "v");
  EXPECT_EQ(doc.Items().size(), kMaxDocumentLines);
  // CR LF and LF CR are one break each, lone CRs and LFs one each.
  std::string breaks;
  for (size_t i = 0; i < kMaxDocumentLines / 4; ++i) breaks += "a\r\nb\n\rc\rd\n";
  ASSERT_TRUE(doc.LoadText(breaks)) << doc.LoadError();
  EXPECT_EQ(doc.Items().size(), kMaxDocumentLines);
  breaks += "x";
  TMemoryStream in(breaks);
  EXPECT_FALSE(doc.Load(in));
  EXPECT_EQ(doc.LoadError(), "The document has more than 2000000 lines");
  EXPECT_TRUE(doc.Items().empty());
}

TEST(IniFileLimits, TreesBuiltDeeperThanADocumentWalkCopyWriteAndFree) {
  constexpr int kDepth = 200000;
  auto doc = std::make_unique<TIniFile>();
  doc->LoadText("top=1\n; note\n[A]\n; c\nk=1\nobject o:c\nx=1\nend\nk=2\n[S]\n");
  TIniList* list = doc->Section("S");
  for (int i = 0; i < kDepth; ++i) list = list->AddObject({}, {});
  list->AddItem("leaf", "1");

  int deepest = 0, objects = 0;
  WalkObjects(doc->Section("S"), [&](const TIniObject*, int d) {
    deepest = std::max(deepest, d);
    ++objects;
    return true;
  });
  EXPECT_EQ(deepest, kDepth);
  EXPECT_EQ(objects, kDepth);
  // A walk goes into only what its visitor asks for.
  objects = 0;
  WalkObjects(doc->Section("S"), [&](const TIniObject*, int d) {
    ++objects;
    return d < 10;
  });
  EXPECT_EQ(objects, 10);

  // A copy keeps every line in its place and outlives its original.
  TIniFile copy;
  copy.CopyFrom(*doc);
  const std::string out = doc->ToText(false);
  doc.reset();
  EXPECT_EQ(copy.ToText(false), out);
  EXPECT_EQ(copy.ReadInteger("A", "k", 0), 2);
  // Indentation stops growing, so the written text stays linear in the depth.
  EXPECT_LT(out.size(), size_t(kDepth) * 200);
  EXPECT_NE(
      out.find("\r\n" + std::string(64, ' ') + "leaf=1\r\n" + std::string(64, ' ') + "end\r\n"),
      std::string::npos);
  EXPECT_EQ(out.find(std::string(65, ' ')), std::string::npos);
  // Read back, it is a document like any other: too deep.
  EXPECT_FALSE(copy.LoadText(out));
}

}  // namespace
}  // namespace lum
