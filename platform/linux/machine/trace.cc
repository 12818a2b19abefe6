#include "platform/linux/machine/trace.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sim {

// The trace names accounts and servers: readable by its owner only.
FILE* openTrace() {
    const char* path = std::getenv("VESKCFG_TRACE");
    int fd = path && *path ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1;
    FILE* file = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (!file && fd >= 0) close(fd);
    return file;
}

void trace(const char* format, ...) {
    FILE* file = openTrace();
    if (!file) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file, format, arguments);
    va_end(arguments);
    std::fputc('\n', file);
    std::fclose(file);
}

}  // namespace sim

namespace sim {

void diagnose(const char* format, ...) {
    std::fflush(stdout);  // keep the order in which a terminal shows both
    std::fprintf(stderr, "%s: ", program_invocation_short_name);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

}  // namespace sim
