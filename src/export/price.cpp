#include "export/price.h"

#include "base/choices.h"

#include <QRegularExpression>

#include <optional>

namespace {

// A decimal number: units / 10^scale. With at most 12 + 6 digits in a price and 10 + 6 in the
// factor and the amount, every product and sum below stays far inside 128 bits.
struct TDecimal {
    __int128 units = 0;
    int scale = 0;
};

__int128 powerOfTen(int n) {
    __int128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// Digits with an optional fraction ("28", "35.5"); nothing when too long for a price.
std::optional<TDecimal> parseDecimal(QStringView text, int maxWhole, int maxFraction) {
    const qsizetype point = text.indexOf(u'.');
    const QStringView whole = point >= 0 ? text.left(point) : text;
    const QStringView fraction = point >= 0 ? text.mid(point + 1) : QStringView();
    if (whole.isEmpty() || whole.size() > maxWhole || fraction.size() > maxFraction)
        return std::nullopt;
    TDecimal d;
    for (QChar c : whole)
        d.units = d.units * 10 + (c.unicode() - u'0');
    for (QChar c : fraction)
        d.units = d.units * 10 + (c.unicode() - u'0');
    d.scale = int(fraction.size());
    return d;
}

// A factor or an amount, at most six decimals.
TDecimal fromDouble(double value) {
    const QString text = PriceNumberText(value);
    const bool negative = text.startsWith(u'-');
    TDecimal d = parseDecimal(QStringView(text).sliced(negative ? 1 : 0), 10, PriceAdjustmentDecimals)
                     .value_or(TDecimal());
    if (negative)
        d.units = -d.units;
    return d;
}

QString adjusted(const TDecimal& price, const TDecimal& factor, const TDecimal& amount) {
    // price × factor at scale ps + fs, and the amount brought to the same scale as the product.
    TDecimal product{price.units * factor.units, price.scale + factor.scale};
    const int scale = std::max(product.scale, amount.scale);
    __int128 sum =
        product.units * powerOfTen(scale - product.scale) + amount.units * powerOfTen(scale - amount.scale);
    if (sum < 0)
        sum = 0;
    // To hundredths, half away from zero (the sum is not negative here).
    __int128 cents;
    if (scale > 2) {
        const __int128 unit = powerOfTen(scale - 2);
        cents = (sum + unit / 2) / unit;
    } else {
        cents = sum * powerOfTen(2 - scale);
    }
    QString whole;
    for (__int128 w = cents / 100; whole.isEmpty() || w > 0; w /= 10)
        whole.prepend(QChar(u'0' + int(w % 10)));
    const int hundredths = int(cents % 100);
    return whole + QLatin1Char('.') + QChar(u'0' + hundredths / 10) + QChar(u'0' + hundredths % 10);
}

} // namespace

QString AdjustPrice(const QString& price, const TPriceAdjustment& adjustment) {
    // Values outside their ranges never reach here from the settings or the command line; a caller
    // that passes them gets the price as written rather than a wrong one.
    if (adjustment.IsIdentity() || !IsPriceFactor(adjustment.Factor) || !IsPriceAmount(adjustment.Amount))
        return price;
    const TDecimal factor = fromDouble(adjustment.Factor);
    const TDecimal amount = fromDouble(adjustment.Amount);
    static const QRegularExpression number(QStringLiteral("\\d+(?:\\.\\d+)?"));
    QString out;
    qsizetype from = 0;
    for (QRegularExpressionMatchIterator it = number.globalMatch(price); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(price).mid(from, m.capturedStart() - from);
        const std::optional<TDecimal> value = parseDecimal(m.capturedView(), 12, 6);
        out += value ? adjusted(*value, factor, amount) : m.captured();
        from = m.capturedEnd();
    }
    out += QStringView(price).mid(from);
    return out;
}
