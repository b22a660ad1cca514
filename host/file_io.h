// Whole-buffer reads and writes on POSIX file descriptors, for the ROM images, the font, the
// settings file and host files.
#pragma once

#include <cstddef>
#include <string>

// Opens name read-only when it is a plain file (a folder or a FIFO by that name is refused, so
// start-up cannot hang on one); -1 otherwise.
int OpenPlainFileForReading(const char* name);

// Reads until size bytes, the end of the file or an error; returns the count read.
size_t ReadUpTo(int fd, void* buffer, size_t size);

// Writes all size bytes straight to the OS; false on an error or a full disk, with errno saying
// why (part of the data may have been written).
bool WriteAll(int fd, const void* data, size_t size);

// Creates a new file for writing beside path (in its folder), named .lb<random>.tmp, with O_EXCL:
// a name no other process (or earlier run) uses, and never an existing file, link or FIFO. The name
// is short, so it fits wherever path's own name does. Returns the
// descriptor and sets temp to its name; -1 on failure.
int CreateTemporaryBeside(const std::string& path, std::string& temp, unsigned mode);

// Opens path for writing in place (a trace, a log): an existing plain file or a new one (mode
// 0666 before the umask), never through a symbolic link and without blocking on a FIFO; nothing is
// emptied yet. A folder, FIFO, device or socket is refused (-1, errno EEXIST, why says what it is);
// -1 with errno and why set on any other failure.
int OpenPlainFileForWriting(const char* path, std::string& why);

// The program's own file in the working directory that fd is (the ROM images, the font, the
// settings, the ROM's symbols), or null: an output never replaces one of these.
const char* ProgramFileOf(int fd);

// Why path may not be written as an output of the programs: empty when it is missing or a plain
// file, else what is there ("a FIFO", "a device", "a socket", "a folder", "a symbolic link").
// Outputs never replace any of these, and never write through a link (so a link to a plain file
// is refused too: what it points to may be anything, anywhere).
std::string OutputRefusal(const char* path);

// Writes the bytes to a temporary file beside path (CreateTemporaryBeside), flushes it to disk and
// renames it over path, so a crash or a full disk never leaves a half-written file: on failure path
// is as it was and the temporary file is gone. Refused (EEXIST, nothing written) when OutputRefusal
// says path is not a plain file, checked before writing and again just before the rename. False on
// any error, with errno saying why.
bool WriteFileReplacing(const char* path, const void* data, size_t size);
