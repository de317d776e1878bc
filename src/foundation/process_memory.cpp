#include "foundation/process_memory.h"

#include <unistd.h>

#include <cstdio>

namespace lum {

int64_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  long long size = 0, resident = 0;
  const bool read = std::fscanf(f, "%lld %lld", &size, &resident) == 2;
  std::fclose(f);
  return read ? resident * sysconf(_SC_PAGESIZE) : 0;
}

}  // namespace lum
