#include "audio/silenced_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace morvane {

void RunWithStderrSilenced(const std::function<void()>& work) {
    std::fflush(stderr);
    int savedStderr = ::dup(STDERR_FILENO);
    int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (savedStderr >= 0 && devNull >= 0)
        ::dup2(devNull, STDERR_FILENO);
    work();
    std::fflush(stderr);
    if (savedStderr >= 0 && devNull >= 0)
        ::dup2(savedStderr, STDERR_FILENO);
    if (devNull >= 0)
        ::close(devNull);
    if (savedStderr >= 0)
        ::close(savedStderr);
}

} // namespace morvane
