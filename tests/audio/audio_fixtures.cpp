#include "audio/audio_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <unistd.h>

#include "audio/decoders/converter_factory.h"
#include "audio/decoders/stream_opener.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace lum::test {

namespace {
// The runner takes a path; tools are looked up on PATH.
std::string Which(const std::string& tool) {
  if (tool.find('/') != std::string::npos) return tool;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + tool;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return tool;
}
}  // namespace

bool Tool(const std::vector<std::string>& argvIn) {
  std::vector<std::string> argv = argvIn;
  argv[0] = Which(argv[0]);
  TCommandResult r = RunCommand(argv);
  if (r.status != 0) {
    ADD_FAILURE() << argv[0] << " failed: " << r.err;
    return false;
  }
  return true;
}

std::vector<int16_t> ReadRaw16(const std::string& path) {
  std::string bytes = ReadFile(path);
  std::vector<int16_t> out(bytes.size() / 2);
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::vector<int16_t> SoxDecode(const std::string& path, int rate, int channels,
                               const std::vector<std::string>& inputType) {
  std::string raw = path + ".ref.raw";
  std::vector<std::string> argv = {"sox", "-D"};
  argv.insert(argv.end(), inputType.begin(), inputType.end());
  argv.insert(argv.end(), {path, "-t", "raw", "-e", "signed-integer", "-b", "16", "-c",
                           std::to_string(channels), "-r", std::to_string(rate), raw});
  if (!Tool(argv)) return {};
  return ReadRaw16(raw);
}

TDecoded DecodeFile(const std::string& path, const TWaveFormatEx* outFormat, double seekMs,
                    size_t fillBytes) {
  TDecoded d;
  std::unique_ptr<TStream> s = OpenSoundStream(path);
  if (!s) return d;
  d.detected = DetectMediaInfo(s.get(), path, d.info);
  if (d.detected) {
    TMediaInfo info = d.info;
    CloseSoundStream(std::move(s));
    s = OpenSourceStream(path, info);
    std::unique_ptr<TWavConverter> conv = CreateWavConverter(s.get(), path, info);
    if (conv && conv->Open(info)) {
      d.opened = true;
      if (outFormat) conv->SetOutputFormat(*outFormat);
      if (seekMs >= 0) conv->Seek(seekMs);
      d.format = conv->OutputFormat();
      // Bounded: never more than ten minutes of output.
      for (int guard = 0; guard < 1 << 16; ++guard) {
        bool more = conv->Fill(fillBytes);
        TLocalBuffer& out = conv->Output();
        size_t real = out.Size() - conv->Padded();
        d.bytes.insert(d.bytes.end(), out.Data(), out.Data() + real);
        out.Consume(out.Size());
        if (!more) break;
      }
    }
  }
  CloseSoundStream(std::move(s));
  if (d.format.bitsPerSample == 8) {
    for (uint8_t b : d.bytes) d.samples.push_back(int16_t((int(b) - 128) << 8));
  } else {
    d.samples.resize(d.bytes.size() / 2);
    if (!d.samples.empty()) std::memcpy(d.samples.data(), d.bytes.data(), d.samples.size() * 2);
  }
  return d;
}

TDiff Compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t offsetA) {
  TDiff d;
  size_t n = a.size() > offsetA ? std::min(a.size() - offsetA, b.size()) : 0;
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    int diff = std::abs(int(a[i + offsetA]) - int(b[i]));
    d.maxAbs = std::max(d.maxAbs, diff);
    sum += diff;
  }
  d.compared = n;
  d.meanAbs = n ? sum / n : 0;
  return d;
}

std::string Le16(uint16_t v) {
  return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string Le32(uint32_t v) {
  return Le16(uint16_t(v)) + Le16(uint16_t(v >> 16));
}

std::string FmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign, uint32_t byteRate) {
  if (!blockAlign) blockAlign = uint16_t(channels * bits / 8);
  if (!byteRate) byteRate = blockAlign * rate;
  return Le16(tag) + Le16(channels) + Le32(rate) + Le32(byteRate) + Le16(blockAlign) + Le16(bits) +
         Le16(0);
}

std::string RiffWave(const std::vector<std::pair<std::string, std::string>>& chunks) {
  std::string body = "WAVE";
  for (const auto& [id, data] : chunks) {
    body += id + Le32(uint32_t(data.size())) + data;
    if (data.size() & 1) body += '\0';
  }
  return "RIFF" + Le32(uint32_t(body.size())) + body;
}

}  // namespace lum::test
