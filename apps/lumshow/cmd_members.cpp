#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "container/member_extract.h"
#include "container/member_stream.h"
#include "foundation/errors.h"
#include "foundation/paths.h"
#include "show_open.h"

namespace lum::lumshow {

namespace {

std::string MethodText(int method) {
  const char* name = MethodName(method);
  return name ? name : std::to_string(method);
}

void WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw ELumError("cannot write the output");
    p += w;
    n -= size_t(w);
  }
}

}  // namespace

int List(const TListArgs& args) {
  std::vector<TMemberEntry> members = OpenContainerReader(args.show)->Members();
  if (args.json) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const TMemberEntry& m : members) {
      rows.push_back({{"name", MemberNameOf(m.sectionName, true)},
                      {"position", m.position},
                      {"size", m.size},
                      {"method", MethodText(m.method)}});
    }
    std::puts(JsonText(rows).c_str());
    return 0;
  }
  for (const TMemberEntry& m : members) {
    // C0 controls keep their "#XX" form, which cat and extract accept too;
    // DEL and C1 controls are escaped.
    std::printf("%12lld %12lld %-8s %s\n", static_cast<long long>(m.position),
                static_cast<long long>(m.size), MethodText(m.method).c_str(),
                Printable(MemberNameOf(m.sectionName, false)).c_str());
  }
  return 0;
}

int Cat(const std::string& show, const std::string& name) {
  TMemberSource members = OpenMembers(show);
  std::unique_ptr<TStream> s;
  try {
    s = members.Open(name);
  } catch (const std::exception& e) {
    throw ELumError("cannot open \"" + name + "\": " + e.what());
  }
  if (!s) throw ELumError("no member \"" + name + "\" in the show");
  std::vector<char> buf(256 * 1024);
  while (size_t n = s->Read(buf.data(), buf.size())) WriteAll(1, buf.data(), n);
  return 0;
}

int Extract(const TExtractArgs& args) {
  // Everything: straight from the container, so a show with a damaged project
  // can still be salvaged. Named files: as the show opens them.
  std::unique_ptr<TLumUnpack> container;
  TMemberSource members;
  if (args.names.empty()) {
    container = OpenContainerReader(args.show);
  } else {
    members = OpenMembers(args.show);
  }
  if (!ForceDirectories(args.folder)) {
    throw ELumError("cannot create the folder \"" + args.folder + "\": " + std::strerror(errno));
  }
  int failures = 0, kept = 0;
  // Names that differ only in their drive land on one path; the first one keeps it.
  std::map<std::string, std::string> written;
  auto one = [&](const std::string& name, const std::function<std::unique_ptr<TStream>()>& open) {
    std::string rel, reason;
    try {
      if (!SafeMemberPath(name, rel, reason)) throw ELumError(reason);
      auto [at, fresh] = written.emplace(rel, name);
      if (!fresh)
        throw ELumError("it would overwrite \"" + at->second + "\"; extract it on its own");
      std::unique_ptr<TStream> s = open();
      if (!s) throw ELumError("no such member");
      TExtracted out = WriteUnderFolder(args.folder, rel, *s, args.overwrite);
      if (!out.existed) {
        std::printf("%s\n", PrintablePath(out.path).c_str());
        return;
      }
      std::fprintf(stderr, "lumshow: skipped \"%s\": \"%s\" exists\n", Printable(name).c_str(),
                   Printable(out.path).c_str());
      ++kept;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "lumshow: skipped \"%s\": %s\n", Printable(name).c_str(),
                   ForTerminal(e.what()).c_str());
      ++failures;
    }
  };
  if (container) {
    for (const TMemberEntry& m : container->Members()) {
      one(MemberNameOf(m.sectionName, true), [&] { return container->OpenEntry(m); });
    }
  } else {
    for (const std::string& n : args.names) one(n, [&] { return members.Open(n); });
  }
  std::fflush(stdout);
  if (kept)
    std::fprintf(stderr, "lumshow: kept %d existing file(s); --overwrite replaces them\n", kept);
  if (failures) throw ELumError(fmt::format("{} member(s) could not be extracted", failures));
  // Kept files need not hold what the show holds: the status says so.
  return kept ? 1 : 0;
}

}  // namespace lum::lumshow
