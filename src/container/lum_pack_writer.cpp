#include "container/lum_pack_writer.h"

#include <memory>

#include "container/crypt_stream.h"
#include "container/lum_unpack.h"
#include "container/member_stream.h"
#include "container/scramble_key.h"
#include "container/z_stream.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/memory_stream.h"

namespace lum {

namespace {

void PutInt64(TStream& out, int64_t v) {
  unsigned char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(uint64_t(v) >> (8 * i));
  out.WriteBuffer(b, 8);
}

}  // namespace

TLumPackWriter::TLumPackWriter(TStream& out, TPackOptions options)
    : out_(out), options_(std::move(options)) {
  if (options_.key.empty()) options_.key = ScrambleKey();
  if (!options_.executable.empty()) {
    TFileStream exe(options_.executable, TFileStream::TMode::OpenRead);
    out_.CopyFrom(exe, -1);
  }
  if (options_.basePadding > 0) {
    std::string zeros(size_t(std::min<int64_t>(options_.basePadding, 1 << 20)), '\0');
    for (int64_t left = options_.basePadding; left > 0;) {
      size_t n = size_t(std::min<int64_t>(left, int64_t(zeros.size())));
      out_.WriteBuffer(zeros.data(), n);
      left -= int64_t(n);
    }
  }
  prefix_ = out_.Position();
  if (options_.protection) directory_.FindOrAddSection(kProtectionSection);
}

int64_t TLumPackWriter::AddMember(std::string_view name, TStream& data, int method) {
  if (finished_) AssertFailed("TLumPackWriter", "member after Finish");
  int64_t start = out_.Position();
  int64_t size;
  if (method == kMethodDeflate) {
    size = DeflateRaw(data, out_);
  } else if (method == kMethodScramble) {
    // The key runs from the member's first byte.
    constexpr size_t kChunk = 256 * 1024;
    auto buf = std::make_unique<char[]>(kChunk);
    size = 0;
    while (size_t n = data.Read(buf.get(), kChunk)) {
      ScrambleBytes(buf.get(), n, options_.key, size);
      out_.WriteBuffer(buf.get(), n);
      size += int64_t(n);
    }
  } else {
    size = out_.CopyFrom(data, -1);
  }
  TIniList* section = directory_.FindOrAddSection(DirectoryName(name));
  section->FindOrAddItem("_ps")->SetValue(IntToValue(start));
  section->FindOrAddItem("_sz")->SetValue(IntToValue(size));
  section->FindOrAddItem("_pm")->SetValue(IntToValue(method));
  ++members_;
  return size;
}

int64_t TLumPackWriter::AddMember(std::string_view name, std::string_view bytes, int method) {
  TMemoryStream data(bytes);
  return AddMember(name, data, method);
}

void TLumPackWriter::Finish() {
  if (finished_) return;
  finished_ = true;
  int64_t directoryPos = out_.Position();
  if (options_.protection) {
    TIniList* prot = directory_.FindOrAddSection(kProtectionSection);
    prot->FindOrAddItem("strucpos")->SetValue(IntToValue(directoryPos));
    prot->FindOrAddItem("allowmodify")->SetValue(BoolToValue(options_.allowModify));
    if (!options_.lumVersion.empty())
      prot->FindOrAddItem("lumversion")->SetValue(options_.lumVersion);
  }
  std::string packed = DeflateRaw(directory_.ToText(true));
  out_.WriteBuffer(packed.data(), packed.size());
  // The long form stores D relative to the container's own start and the
  // container's length, so the base comes out as the prefix size.
  PutInt64(out_, options_.longTrailer ? directoryPos - prefix_ : directoryPos);
  out_.WriteBuffer(".dne", 4);
  if (options_.longTrailer) PutInt64(out_, out_.Position() - prefix_);
  if (auto* f = dynamic_cast<TFileStream*>(&out_)) f->Flush();
}

}  // namespace lum
