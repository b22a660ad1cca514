// Emscripten's C library declares getrandom but this release ships no body for it. The one caller
// (the name of a temporary file beside a state being saved) falls back to the clock when it
// fails, which is plenty inside the page's in-memory file system.
#include <cerrno>
#include <sys/random.h>

extern "C" ssize_t getrandom(void*, size_t, unsigned) {
    errno = ENOSYS;
    return -1;
}
