// Host text files typed into the machine (the command line's program file, File > Type in file,
// a dropped file): read whole, checked and turned into UTF-8 for the typist.
#pragma once

#include <QByteArray>
#include <QString>

// A file's text for typing, as UTF-8: UTF-8 or 7-bit text as it is, other 8-bit text read as
// Latin-1. False with a message for a folder, a file that cannot be read, one over the size
// limit, or binary data (zero bytes, or many control bytes).
bool ReadTextForTyping(const QString& path, QByteArray& utf8, QString& error);
constexpr qint64 TypingFileLimit = 16 * 1024 * 1024;
