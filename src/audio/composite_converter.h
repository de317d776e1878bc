#pragma once
// The composite mixer: plays a composition as one 16-bit stereo 44.1 kHz
// stream, decoding its member files ahead of time (5 s) and mixing them with
// their envelopes in blocks of 2500 frames.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/composite_params.h"
#include "audio/decoders/wav_converter.h"
#include "audio/volume_params.h"

namespace lum {

// One member file of a playing composition.
class TCompositeItem {
 public:
  explicit TCompositeItem(const TCompositeItemParams& params) : params_(params) {}
  ~TCompositeItem();

  const TCompositeItemParams& Params() const { return params_; }
  int64_t StartByte() const;  // in the mixing format
  // End on the timeline in ms, for dropping items a seek has passed.
  double EndMs() const;
  // Opens the file through the stream opener and seeks its decoder to ms
  // into the file; false leaves the item silent.
  bool OpenAt(double fileMs);
  void Close();

  double playLength = 0;  // ms the item plays
  TVolumeParamsList envelopes;
  size_t blockOffset = 0;  // bytes into the current block where it starts
  TWavConverter* Decoder() { return decoder_.get(); }

 private:
  TCompositeItemParams params_;
  std::unique_ptr<TStream> stream_;
  std::unique_ptr<TWavConverter> decoder_;
  double fileLength_ = 0;
};

class TCompositeConverter : public TWavConverter {
 public:
  explicit TCompositeConverter(std::string text);
  ~TCompositeConverter() override;

  bool Open(const TMediaInfo& info) override;
  void Seek(double ms) override;
  // Mixes the next block into the input buffer; false once the composition
  // has ended.
  bool ReadRaw() override;
  bool Convert(TLocalBuffer& input) override;
  double Length() const override { return double(params_.duration); }

  const TCompositeParams& Params() const { return params_; }
  // For tests: items per list.
  size_t WaitingCount() const { return waiting_.size(); }
  size_t PlayingCount() const { return playing_.size(); }
  size_t ReadyCount() const { return ready_.size(); }

  static constexpr size_t kBlockBytes = 10000;
  static constexpr double kLookAheadMs = 5000;
  static constexpr double kAutoFadeMs = 10;
  // Items open at once (ready or playing); more stay silent, so a hostile
  // composition cannot hold unbounded files and buffers.
  static constexpr size_t kMaxOpenItems = 256;

 private:
  void MixItem(TCompositeItem& item, int32_t* acc, bool& ended);
  void OpenAhead();
  void SortWaiting();
  void PositionMain(int64_t frame);
  bool RoomToOpen() const { return ready_.size() + playing_.size() < kMaxOpenItems; }

  std::string text_;
  TCompositeParams params_;
  std::vector<std::unique_ptr<TCompositeItem>> all_;
  std::vector<TCompositeItem*> waiting_, ready_, playing_, finished_;
  std::vector<TVolumeParamsList> main_;  // per entry of params_.mainVolume
  int64_t mixPos_ = 0;                   // bytes mixed so far
  int64_t endByte_ = 0;
  std::vector<int32_t> acc_;
  std::vector<uint8_t> tmp_;
};

// Lets the decoder factory create composite mixers; idempotent.
void RegisterCompositeDecoder();

}  // namespace lum
