#pragma once
// Slides of one-slide shows built from documents written by the model tests,
// with their files served from memory.
#include <map>
#include <memory>
#include <string>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "document/ini_file.h"
#include "foundation/case_fold.h"
#include "foundation/memory_stream.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/slide_producer.h"
#include "project/lum_source.h"

namespace lum::test {

// Files by exact name, as a container holds them: unlike the disk, it knows
// nothing of "|" suffixes.
class TMemorySource : public TFileSource {
 public:
  std::map<std::string, std::string> files;
  std::unique_ptr<TStream> Open(std::string_view name) override {
    auto it = files.find(FoldCase(name));
    if (it == files.end()) return nullptr;
    return std::make_unique<TMemoryStream>(it->second);
  }
  void Add(const std::string& name, std::string bytes) { files[FoldCase(name)] = std::move(bytes); }
};

inline std::string Key(int time, const std::string& keys) {
  return "object K:KeyPoint\nTime=" + std::to_string(time) + "\n" + keys + "end\n";
}

// A show of one 3-second slide of width x height design units, shown 1:1.
struct TModelShow {
  TRef<TMemorySource> files = MakeRef<TMemorySource>();
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(files, "/nowhere/");
  TRef<TLumSlideHost> host = MakeRef<TLumSlideHost>();
  TIniFile doc;
  std::unique_ptr<TLumSource> source;
  TRef<TSlideProducer> producer;
  TRef<TDrawContainer> container;
  int width, height;

  TModelShow(int width, int height) : width(width), height(height) { host->SetAccessor(accessor); }
  TLumSlide& Slide(const std::string& objects, const std::string& slideKeys = "") {
    doc.LoadText("[Main]\nMinorVersion=13\nopt_scr_width=" + std::to_string(width) +
                 "\nopt_scr_height=" + std::to_string(height) +
                 "\n[Times]\nopt_slidescount=1\nopt_synchpos1=3000\n[Slide1]\n" + slideKeys +
                 "object Container:Root\n" + objects + "end\n");
    source = std::make_unique<TLumSource>(accessor, doc, TLumSourceSettings{"x", 1});
    producer = MakeRef<TSlideProducer>(*source, host);
    producer->SetFrame(width, height);
    container = producer->ProduceOrThrow(0);
    container->slide->SetTimeAndLayout(true, 0);
    return *container->slide;
  }
};

}  // namespace lum::test
