// Reading a text file the user names for typing in (F3, a dropped file, the command line).
#pragma once

#include <QByteArray>
#include <QString>

// A file's text for typing, as UTF-8: UTF-8 or 7-bit text as it is, other 8-bit text read as
// Latin-1. False with a message for a folder, a file that cannot be read, one over the size
// limit, or binary data (zero bytes, or many control bytes).
bool ReadTextForTyping(const QString& path, QByteArray& utf8, QString& error);
constexpr qint64 TypingFileLimit = 16 * 1024 * 1024;
