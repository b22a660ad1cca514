// Whole-buffer reads and writes on POSIX file descriptors, for the ROM images, the font, the
// settings file and host files.
#pragma once

#include <cstddef>

// Opens name read-only when it is a plain file (a folder or a FIFO by that name is refused, so
// start-up cannot hang on one); -1 otherwise.
int OpenPlainFileForReading(const char* name);

// Reads until size bytes, the end of the file or an error; returns the count read.
size_t ReadUpTo(int fd, void* buffer, size_t size);

// Writes all size bytes straight to the OS; false on an error or a full disk, with errno saying
// why (part of the data may have been written).
bool WriteAll(int fd, const void* data, size_t size);

// Writes the bytes to a temporary file beside path (path.<pid>.tmp), flushes it to disk and renames
// it over path, so a crash or a full disk never leaves a half-written file: on failure path is as
// it was and the temporary file is gone. False on any error.
bool WriteFileReplacing(const char* path, const void* data, size_t size);
