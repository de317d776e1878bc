// Stands in for a library planted beside a show: merely loading it runs its
// constructor, which appends a line to the file $LUM_TEST_MARKER names.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

__attribute__((constructor)) static void LeaveMarker() {
  const char* path = std::getenv("LUM_TEST_MARKER");
  if (!path || !*path) return;
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t n = write(fd, "loaded\n", 7);
  close(fd);
}
