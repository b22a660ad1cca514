// emscripten's C library declares getrandom() but does not define it. The page never writes a file
// through a temporary one (it enters no data folder and saves no settings), but start-up links the
// code that would: without randomness that code names its temporary files from the clock.
#include <cerrno>
#include <cstddef>
#include <sys/types.h>

extern "C" ssize_t getrandom(void*, size_t, unsigned) {
    errno = ENOSYS;
    return -1;
}
