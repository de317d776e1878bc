#include "foundation/code_page.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/utf.h"

namespace lum {

namespace {

struct TCodePageTable {
  int number = 0;
  // UTF-8 bytes of each byte value, length-prefixed.
  std::array<std::array<char, 4>, 256> utf8{};
  std::array<uint8_t, 256> length{};
};

// Windows-1252's 0x80-0x9F row; undefined cells map to the C1 control of the same value,
// as the platform's converter does.
constexpr char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void Fill(TCodePageTable& t, int byte, char32_t cp) {
  std::string s;
  AppendUtf8(s, cp);
  t.length[byte] = uint8_t(s.size());
  for (size_t i = 0; i < s.size(); ++i) t.utf8[byte][i] = s[i];
}

std::unique_ptr<TCodePageTable> Build1252() {
  auto t = std::make_unique<TCodePageTable>();
  t->number = 1252;
  for (int b = 0; b < 256; ++b)
    Fill(*t, b, b >= 0x80 && b < 0xA0 ? k1252High[b - 0x80] : char32_t(b));
  return t;
}

// Asks iconv for each byte; refuses code pages where a byte is not one character.
std::unique_ptr<TCodePageTable> BuildWithIconv(int number) {
  std::string name = number == 28591 ? "ISO-8859-1" : "CP" + std::to_string(number);
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == iconv_t(-1)) return nullptr;
  auto t = std::make_unique<TCodePageTable>();
  t->number = number;
  for (int b = 0; b < 256; ++b) {
    char in = char(b);
    char32_t out[2] = {0, 0};
    char* ip = &in;
    size_t il = 1;
    char* op = reinterpret_cast<char*>(out);
    size_t ol = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    errno = 0;
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    bool one = r != size_t(-1) && il == 0 && ol == sizeof(out) - 4;
    if (!one && (b < 0x80 || errno == EINVAL)) {
      iconv_close(cd);
      return nullptr;  // a lead byte of a multi-byte code page
    }
    Fill(*t, b, one ? out[0] : char32_t(b));
  }
  iconv_close(cd);
  return t;
}

std::mutex gMutex;
std::atomic<const TCodePageTable*> gTable{nullptr};

const TCodePageTable* Table() {
  const TCodePageTable* t = gTable.load(std::memory_order_acquire);
  if (t) return t;
  std::lock_guard<std::mutex> lock(gMutex);
  if ((t = gTable.load())) return t;
  static std::unique_ptr<TCodePageTable> fallback = Build1252();
  gTable.store(fallback.get());
  if (const char* env = std::getenv("LUM_CODEPAGE")) {
    char* end = nullptr;
    long n = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && n > 0 && n < 100000) {
      // Unknown numbers keep Windows-1252.
      static std::unique_ptr<TCodePageTable> chosen;
      if (n != 1252 && (chosen = BuildWithIconv(int(n)))) gTable.store(chosen.get());
    }
  }
  return gTable.load();
}

}  // namespace

bool SetCodePage(int number) {
  Table();
  std::lock_guard<std::mutex> lock(gMutex);
  // Tables are never freed: readers on other threads may still hold the old one.
  // They stay listed so that switching back reuses them and none is lost.
  static auto* built = new std::vector<std::unique_ptr<TCodePageTable>>();
  for (const auto& t : *built) {
    if (t->number == number) {
      gTable.store(t.get(), std::memory_order_release);
      return true;
    }
  }
  std::unique_ptr<TCodePageTable> t = number == 1252 ? Build1252() : BuildWithIconv(number);
  if (!t) return false;
  built->push_back(std::move(t));
  gTable.store(built->back().get(), std::memory_order_release);
  return true;
}

int CodePage() {
  return Table()->number;
}

std::string AnsiToUtf8(std::string_view bytes) {
  if (IsAscii(bytes)) return std::string(bytes);
  const TCodePageTable* t = Table();
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out.append(t->utf8[b].data(), t->length[b]);
    }
  }
  return out;
}

}  // namespace lum
