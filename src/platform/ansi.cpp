#include "platform/ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr const char* CodePage = "GBK";

} // namespace

QString TAnsi::Decode(const QByteArray& bytes) {
    QStringDecoder decoder(CodePage);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

QByteArray TAnsi::Encode(const QString& text) {
    // The converter writes "?" for each character the code page cannot hold.
    QStringEncoder encoder(CodePage);
    if (!encoder.isValid())
        return text.toLatin1();
    return encoder.encode(text);
}
