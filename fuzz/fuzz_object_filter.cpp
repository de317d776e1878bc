// A hostile filter section: every registered filter reads it, its parameters
// are read back and written again, and a chain of them maps a block of
// cells; nothing crashes and a chain that maps leaves every cell opaque.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "document/ini_file.h"
#include "model/object_filter.h"

namespace {

using namespace lum;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_object_filter: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  TIniFile doc;
  try {
    doc.LoadText("[S]\n" + std::string(reinterpret_cast<const char*>(data), size));
  } catch (...) {
    return 0;
  }
  const TIniList* section = doc.Section("S");
  if (!section) return 0;
  TFilterChain chain;
  for (const TIniObject* object : section->Objects()) {
    TRef<TObjectFilter> named = CreateFilter(object->Name());
    for (const std::string& name : FilterNames()) {
      TRef<TObjectFilter> f = CreateFilter(name);
      f->Load(object);
      for (int i = 0; i < f->ParamCount(); ++i) {
        const std::string text = f->GetParam(i);
        f->SetParam(i, text);
        if (f->GetParam(i) != text) Fail("parameter changed by its own text");
        f->SetParam(i, object->Name());
      }
    }
    if (named) {
      named->Load(object);
      chain.Add(named);
    }
    if (chain.Filters().size() >= 64) break;
  }
  chain.Check();
  std::vector<uint8_t> cells(256 * 4 * 4);
  for (size_t i = 0; i < cells.size(); ++i) cells[i] = uint8_t(i * 31);
  chain.Apply(cells.data(), 256, 4, 256 * 4);
  // An empty or wholly disabled chain leaves the cells alone.
  if (chain.Kind() == TFilterKind::None) return 0;
  for (size_t i = 3; i < cells.size(); i += 4)
    if (cells[i] != 255) Fail("alpha not opaque");
  return 0;
}
