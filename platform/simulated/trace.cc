#include "platform/simulated/trace.h"

#include <errno.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sim {

void trace(const char* format, ...) {
    const char* path = std::getenv("VESKCFG_TRACE");
    if (!path || !*path) return;
    FILE* file = std::fopen(path, "a");
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
