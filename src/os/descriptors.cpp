#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "os/os.hpp"

namespace fotolume::os {

ClosedAtStart guardStandardDescriptors() {
    bool closed[3] = {false, false, false};
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed[fd] = true;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
        if (opened != fd) _exit(1);  // nothing safe to write to
    }
    return ClosedAtStart{closed[0], closed[1], closed[2]};
}

}  // namespace fotolume::os
