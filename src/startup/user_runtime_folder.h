#pragma once
// The per-user folder that holds the temporary-folder root and the instance
// lock files. Other users must not be able to plant files or links there, so
// every folder of ours is checked for owner and mode and opened without
// following a link.
#include <string>

namespace lum {

// $XDG_RUNTIME_DIR when it is a folder of ours without group or other access,
// else $XDG_CACHE_HOME/lumviewer (default ~/.cache/lumviewer), made private.
// Empty when neither can be had; why (when given) then says what was wrong.
std::string UserRuntimeFolder(std::string* why = nullptr);

// Opens the folder name relative to parentFd (AT_FDCWD: name is a path)
// without following a link in its last component, creating it with mode 0700
// when missing. A folder of ours that group or others may enter is made 0700;
// someone else's folder is refused. Returns an O_DIRECTORY descriptor (the
// caller closes it), or -1 with errno (ELOOP a link, ENOTDIR not a folder,
// EPERM not ours).
int OpenPrivateFolder(int parentFd, const std::string& name);

// Removes the entry name in the folder parentFd and, for a folder, everything
// in it (at most 64 levels deep). Links are removed, never followed. True
// when nothing is left (a missing entry counts as removed).
bool RemoveTreeAt(int parentFd, const std::string& name);

}  // namespace lum
