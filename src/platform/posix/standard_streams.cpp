// SPDX-License-Identifier: MIT
#include "platform/posix/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace brivelton {

void OpenMissingStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: the lower ones are open by now.
    const int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

}  // namespace brivelton
