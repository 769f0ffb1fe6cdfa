#pragma once

// Reading and writing whole files in tests.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// The file's bytes, or nothing when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The text of a UTF-16 little-endian file after its byte-order mark (the empty text without one).
inline QString readUtf16File(const QString& path) {
    const QByteArray bytes = readFile(path);
    if (!bytes.startsWith("\xFF\xFE"))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                              (bytes.size() - 2) / 2);
}
