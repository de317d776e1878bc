// Arbitrary bytes as a project document. Loading fails only for too deep
// nesting or too many lines, and then leaves nothing; lookups agree with the
// tree, walks see every object, a copy writes the same text, and the written
// text is stable: reading it back and writing again gives the same bytes,
// also through the one-value form.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/case_fold.h"
#include "foundation/memory_stream.h"
#include "document/ini_file.h"
#include "document/ini_values.h"

namespace {

using namespace lum;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_document: %s\n", what);
  std::abort();
}

[[noreturn]] void Differ(const char* what, const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  std::fprintf(stderr, "fuzz_document: %s differ at byte %zu (%zu vs %zu bytes)\n", what, at,
               a.size(), b.size());
  std::abort();
}

void CheckList(const TIniList& list) {
  for (size_t i = 0; i < list.Items().size(); ++i) {
    const TIniItem* it = list.Items()[i];
    if (it->Index() != int32_t(i) || it->Owner() != &list) Fail("index or owner mismatch");
    if (it->Key().empty()) continue;
    // The last item with the key wins.
    const TIniItem* found = list.Find(it->Key());
    if (!found || found->Index() < it->Index() || !FoldedEquals(found->Key(), it->Key())) {
      Fail("key lookup");
    }
    if (it->IsPlainItem()) {
      std::string_view v = it->Value();
      (void)ValueToInt(v, 0);
      (void)ValueToInt64(v, 0);
      (void)ValueToFloat(v, 0);
      (void)SplitValue(v);
    }
  }
  for (const TIniObject* o : list.Objects()) {
    if (o->Owner() != &list) Fail("object owner");
    if (!FindObject(&list, o->Name(), o->ClassName())) Fail("object lookup");
  }
}

// Objects a walk meets below the root and every section, and the deepest.
std::pair<size_t, int> CountObjects(const TIniFile& doc) {
  size_t count = 0;
  int deepest = 0;
  auto visit = [&](const TIniObject*, int depth) {
    ++count;
    deepest = std::max(deepest, depth);
    return true;
  };
  WalkObjects(&doc, visit);
  for (const TIniSection* s : doc.Sections()) WalkObjects(s, visit);
  return {count, deepest};
}

void CheckWalksAndCopies(const TIniFile& doc) {
  auto [count, deepest] = CountObjects(doc);
  if (deepest > kMaxObjectNesting) Fail("nesting beyond the limit");
  TIniFile copy;
  copy.CopyFrom(doc);
  if (CountObjects(copy).first != count) Fail("copy lost objects");
  const std::string a = doc.ToText(false), b = copy.ToText(false);
  if (a != b) Differ("copied documents", a, b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TIniFile doc;
  TMemoryStream in(bytes);
  if (!doc.Load(in)) {
    if (doc.LoadError() != kObjectsTooDeepMessage &&
        doc.LoadError().find(" lines") == std::string::npos)
      Fail("load refused");
    if (!doc.Items().empty() || !doc.Sections().empty()) Fail("a refused document kept parts");
    return 0;
  }
  CheckWalksAndCopies(doc);

  CheckList(doc);
  for (const TIniSection* s : doc.Sections()) {
    // An empty name means the root, so only named sections are found by name.
    if (!s->Name().empty() && doc.Section(s->Name()) != s) Fail("section lookup");
    CheckList(*s);
    for (const TIniObject* o = s->FirstObject(); o; o = s->NextObject(o)) CheckList(*o);
  }

  // Edits through the lookups that add what is missing.
  if (!doc.Sections().empty()) {
    TIniSection* first = doc.Sections().front();
    if (!first->Items().empty()) first->Remove(first->Items().front());
    CheckList(*first);
  }
  doc.PathItem("Main:Music::Item1")->SetValue("C:\\a\\b.mp3");
  doc.WriteInteger("Main", "opt_synchpos", -5);
  if (doc.ReadInteger("main", "OPT_SYNCHPOS", 0) != -5) Fail("written value");

  const std::string first = doc.ToText(true);
  TIniFile again;
  TMemoryStream mid(first);
  if (!again.Load(mid)) Fail("reload refused");
  const std::string second = again.ToText(true);
  if (first != second) Differ("written texts", first, second);

  TIniFile one;
  if (!one.LoadOneValue(doc.ToOneValue())) Fail("one-value form refused");
  const std::string third = one.ToText(true);
  if (third != first) Differ("one-value round trip", first, third);
  return 0;
}
