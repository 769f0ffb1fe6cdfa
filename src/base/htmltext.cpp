#include "base/htmltext.h"

#include <QHash>

namespace {

// The named references seen on marketplace pages and in their descriptions.
const QHash<QString, char32_t>& namedReferences() {
    static const QHash<QString, char32_t> names = {
        {QStringLiteral("nbsp"), 0xA0},     {QStringLiteral("amp"), u'&'},
        {QStringLiteral("lt"), u'<'},       {QStringLiteral("gt"), u'>'},
        {QStringLiteral("quot"), u'"'},     {QStringLiteral("apos"), u'\''},
        {QStringLiteral("yen"), 0xA5},      {QStringLiteral("middot"), 0xB7},
        {QStringLiteral("times"), 0xD7},    {QStringLiteral("divide"), 0xF7},
        {QStringLiteral("copy"), 0xA9},     {QStringLiteral("reg"), 0xAE},
        {QStringLiteral("deg"), 0xB0},      {QStringLiteral("plusmn"), 0xB1},
        {QStringLiteral("hellip"), 0x2026}, {QStringLiteral("mdash"), 0x2014},
        {QStringLiteral("ndash"), 0x2013},  {QStringLiteral("lsquo"), 0x2018},
        {QStringLiteral("rsquo"), 0x2019},  {QStringLiteral("ldquo"), 0x201C},
        {QStringLiteral("rdquo"), 0x201D},  {QStringLiteral("bull"), 0x2022},
        {QStringLiteral("trade"), 0x2122},  {QStringLiteral("ensp"), 0x2002},
        {QStringLiteral("emsp"), 0x2003},   {QStringLiteral("thinsp"), 0x2009},
        {QStringLiteral("laquo"), 0xAB},    {QStringLiteral("raquo"), 0xBB},
        {QStringLiteral("sup2"), 0xB2},     {QStringLiteral("sup3"), 0xB3},
        {QStringLiteral("frac12"), 0xBD},   {QStringLiteral("euro"), 0x20AC},
        {QStringLiteral("pound"), 0xA3},
    };
    return names;
}

// The character a reference's name stands for (without "&" and ";"); 0 for none.
char32_t referenced(QStringView name) {
    if (name.startsWith(u'#')) {
        const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
        const QStringView digits = name.mid(hex ? 2 : 1);
        if (digits.isEmpty() || digits.size() > 8)
            return 0;
        bool ok = false;
        const uint code = digits.toUInt(&ok, hex ? 16 : 10);
        // No NUL, no surrogates, nothing beyond Unicode.
        if (!ok || code == 0 || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF)
            return 0;
        return char32_t(code);
    }
    return namedReferences().value(name.toString(), 0);
}

} // namespace

QString DecodeHtmlEntities(const QString& text) {
    if (!text.contains(u'&'))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype amp = text.indexOf(u'&', i);
        if (amp < 0) {
            out += QStringView(text).mid(i);
            break;
        }
        out += QStringView(text).mid(i, amp - i);
        const qsizetype semicolon = text.indexOf(u';', amp + 1);
        const char32_t c = semicolon > amp + 1 && semicolon - amp <= 12
                               ? referenced(QStringView(text).mid(amp + 1, semicolon - amp - 1))
                               : 0;
        if (c == 0) {
            out += u'&';
            i = amp + 1;
            continue;
        }
        const char32_t units[] = {c};
        out += QString::fromUcs4(units, 1);
        i = semicolon + 1;
    }
    return out;
}

QString MarkupText(const QString& text) {
    return DecodeHtmlEntities(text).trimmed();
}

QString MarkupAddress(const QString& address) {
    return QString(address).replace(QStringLiteral("&amp;"), QStringLiteral("&"), Qt::CaseInsensitive);
}
