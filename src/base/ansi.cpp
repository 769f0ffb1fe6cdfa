#include "base/ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <bitset>
#include <memory>

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

namespace {

// One bit per UTF-16 unit: set when the unit goes through the code page and back unchanged.
std::unique_ptr<std::bitset<0x10000>> makeHeldUnits() {
    auto held = std::make_unique<std::bitset<0x10000>>();
    QStringEncoder encoder(CodePage, QStringConverter::Flag::Stateless);
    QStringDecoder decoder(CodePage, QStringConverter::Flag::Stateless);
    if (!encoder.isValid() || !decoder.isValid()) {
        for (char16_t c = 0; c < 0x80; ++c)
            held->set(c);
        return held;
    }
    for (uint c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue;
        const QChar unit{char16_t(c)};
        const QByteArray bytes = encoder.encode(QStringView(&unit, 1));
        const QString back = decoder.decode(bytes);
        if (back.size() == 1 && back[0] == unit)
            held->set(c);
    }
    return held;
}

} // namespace

bool TAnsi::Holds(char16_t unit) {
    static const std::unique_ptr<std::bitset<0x10000>> held = makeHeldUnits();
    return held->test(unit);
}
