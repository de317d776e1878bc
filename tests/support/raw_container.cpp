#include "support/raw_container.h"

#include <zlib.h>

#include <stdexcept>

namespace lum::test {

std::string RawDeflate(const std::string& bytes) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflate");
  std::string out(deflateBound(&z, uLong(bytes.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = uInt(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string LittleEndian64(int64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = char((uint64_t(v) >> (8 * i)) & 0xFF);
  return s;
}

std::string Scramble(const std::string& bytes, const std::string& key) {
  std::string out = bytes;
  for (size_t i = 0; i < out.size(); ++i) out[i] ^= key[i % key.size()];
  return out;
}

std::string TRawContainer::Build(int64_t* directoryPos) const {
  std::string file = prefix;
  std::string dir = "\xEF\xBB\xBF";
  for (const TRawMember& m : members) {
    int64_t pos = int64_t(file.size()) - (positionsRelative ? int64_t(prefix.size()) : 0);
    dir += "[" + m.section + "]\r\n_ps=" + std::to_string(pos) +
           "\r\n_sz=" + std::to_string(m.stored.size()) + "\r\n_pm=" + std::to_string(m.method) +
           "\r\n" + m.extraKeys;
    file += m.stored;
  }
  int64_t d = int64_t(file.size());
  if (directoryPos) *directoryPos = d;
  if (!protection.empty()) dir += "[$protection$]\r\n" + protection;
  file += RawDeflate(dir);
  if (longTrailer) {
    // D relative to the container start; L = container bytes before the last int64.
    file += LittleEndian64(d - int64_t(prefix.size())) + ".dne";
    file += LittleEndian64(int64_t(file.size()) - int64_t(prefix.size()));
  } else {
    file += LittleEndian64(d) + ".dne";
  }
  return file;
}

}  // namespace lum::test
