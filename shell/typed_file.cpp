#include "shell/typed_file.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cstdint>

bool ReadTextForTyping(const QString& path, QByteArray& utf8, QString& error) {
    QFileInfo info(path);
    const QString name = info.fileName();
    if (info.isDir()) {
        error = QString("%1 is a folder, not a text file.").arg(name);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QString("Cannot read %1: %2.").arg(path, file.errorString());
        return false;
    }
    if (file.size() > TypingFileLimit) {
        error = QString("%1 is too large to type in (%2 MB; the limit is %3 MB).")
                    .arg(name)
                    .arg(file.size() / (1024 * 1024))
                    .arg(TypingFileLimit / (1024 * 1024));
        return false;
    }
    QByteArray bytes = file.read(TypingFileLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        error = QString("Cannot read %1: %2.").arg(path, file.errorString());
        return false;
    }
    qsizetype control = 0;
    for (char c : bytes)
        if ((uint8_t(c) < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') || c == 0x7F)
            ++control;
    if (bytes.contains('\0') || control * 20 > bytes.size()) {
        error = QString("%1 is not a text file (it holds binary data).").arg(name);
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) text = QString::fromLatin1(bytes); // an 8-bit listing
    utf8 = text.toUtf8();
    return true;
}
