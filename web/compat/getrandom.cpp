// Emscripten's C library declares getrandom but this release ships no body for it. Its callers
// (the names of temporary files, e.g. beside a state being saved) fall back to the clock when it
// fails, which is plenty inside the page's in-memory file system.
#include <cerrno>
#include <cstddef>
#include <sys/types.h>

extern "C" ssize_t getrandom(void*, size_t, unsigned) {
    errno = ENOSYS;
    return -1;
}
