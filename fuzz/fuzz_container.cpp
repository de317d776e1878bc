// Fuzzes the container reader: trailer, directory inflation and parsing,
// protection rules, member lookup and member streams.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "container/lum_show_locator.h"
#include "container/lum_unpack.h"
#include "foundation/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("container", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size && write(fd, data, size) != ssize_t(size)) {
    close(fd);
    return 0;
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::string message;
  if (auto loc = lum::TLumShowLocator::OpenContainer(path, message)) {
    const lum::TLumUnpack* u = loc->Unpack();
    for (const lum::TMemberEntry& e : u->Members()) {
      // Small packed members only: a deflated one may legitimately unpack 1000-fold.
      if (e.size > (64 << 10)) continue;
      try {
        auto s = u->OpenEntry(e);
        char buf[4096];
        while (s && s->Read(buf, sizeof buf) > 0) {
        }
      } catch (const lum::ELumError&) {
      }
    }
    loc->Accessor()->OpenMember("Project.lum");
  }
  close(fd);
  return 0;
}
