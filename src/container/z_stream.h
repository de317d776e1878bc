#pragma once
// Decompression over a source stream: TZDecompressionStream reads the zlib
// format, TInflateStream raw deflate. Both read forward only; the source may
// be moved by others between reads (its position is restored before each).
#include <zlib.h>

#include <functional>
#include <memory>
#include <string>

#include "foundation/memory_stream.h"
#include "foundation/stream.h"

namespace lum {

using TProgressNotifier = std::function<void()>;

class TCustomZStream : public TStream {
 public:
  ~TCustomZStream() override;

  size_t Read(void* buffer, size_t count) override;
  // Always throws "Invalid ZStream operation!".
  size_t Write(const void* buffer, size_t count) override;
  // 0 from the start rewinds; forward seeks read and discard; (0, End) reads to
  // the end; anything else throws "Invalid ZStream operation!".
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Position() override { return int64_t(z_.total_out); }

  void SetProgress(TProgressNotifier progress) { progress_ = std::move(progress); }
  // True once the end of the compressed data was reached.
  bool Ended() const { return ended_; }

 protected:
  TCustomZStream(TStream& source, int windowBits);
  void Reset();
  void Skip(int64_t count, bool exact);

 private:
  TStream& source_;
  int64_t start_;      // source position where compressed data starts
  int64_t sourcePos_;  // source position after our last read
  z_stream z_{};
  std::unique_ptr<unsigned char[]> in_;
  TProgressNotifier progress_;
  bool ended_ = false;
};

class TZDecompressionStream : public TCustomZStream {
 public:
  explicit TZDecompressionStream(TStream& source) : TCustomZStream(source, 15) {}
  int64_t Size() override { return -1; }
  void SetSize(int64_t) override {}  // ignored for the zlib format
};

class TInflateStream : public TCustomZStream {
 public:
  // knownSize: the uncompressed size, or -1 when unknown.
  explicit TInflateStream(TStream& source, int64_t knownSize = -1)
      : TCustomZStream(source, -15), knownSize_(knownSize) {}
  int64_t Size() override { return knownSize_; }
  // Throws "Invalid ZStream operation!".
  void SetSize(int64_t size) override;
  // A seek to the current position is ignored.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  int64_t knownSize_;
};

// Inflates the raw-deflate data at the source's position completely into memory.
// More than limit bytes of output, damaged or truncated data throw
// EZDecompressionError; limitMessage is the text for the first case.
std::unique_ptr<TMemoryStream> InflateToMemory(TStream& source, int64_t limit,
                                               const std::string& limitMessage);

// Callback inflater: inflates a whole raw-deflate source (window bits 15) with
// zlib's callback interface, 32 KB buffers, appending to dest and calling
// progress for every piece. Failures and more than limit bytes throw EZDecompressionError.
void InflateWithCallbacks(TStream& source, TMemoryStream& dest, const TProgressNotifier& progress,
                          int64_t limit);

// Raw-deflate compression (the writing side): the rest of source into dest;
// returns the packed size.
int64_t DeflateRaw(TStream& source, TStream& dest, int level = Z_DEFAULT_COMPRESSION);
std::string DeflateRaw(std::string_view data, int level = Z_DEFAULT_COMPRESSION);

}  // namespace lum
