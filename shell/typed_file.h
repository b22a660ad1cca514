// Host text files typed into the machine (the command line's program file, File > Type in file,
// a dropped file): read whole, checked and turned into UTF-8 for the typist.
#pragma once

#include <QByteArray>
#include <QString>

// A file's text for typing, as UTF-8: decoded one character at a time, UTF-8 where the bytes are
// UTF-8, and a byte that is not taken alone as a Latin-1 character (so 7-bit ABC80 text, UTF-8
// and whole Latin-1 files all read as written); latin1_bytes says how many such bytes there were.
// The file is opened without blocking and read only when it is a plain file. False with a message
// for a folder, FIFO, device or socket, a file that cannot be read, one over the size limit, or
// binary data (zero bytes, or many control bytes).
bool ReadTextForTyping(const QString& path, QByteArray& utf8, QString& error,
                       qsizetype* latin1_bytes = nullptr);
constexpr qint64 TypingFileLimit = 16 * 1024 * 1024;
