#include "app/settings.h"

#include "base/text.h"
#include "config/inifile.h"

#include <QRegularExpression>

namespace {

const QString Section = QStringLiteral("select");
// The price adjustment's keys; a reader that does not know them passes them by.
const QString PriceFactorKey = QStringLiteral("pricefactor");
const QString PriceAmountKey = QStringLiteral("priceadd");

// A stored number within its range, else `fallback`.
double readNumber(const TIniFile& ini, const QString& key, double fallback, bool (*usable)(double)) {
    bool ok = false;
    const double value = ini.ReadString(Section, key, QString()).trimmed().toDouble(&ok);
    return ok && usable(value) ? value : fallback;
}

} // namespace

void ReadSettings(TChoices& choices, const QString& fileName) {
    const TIniFile ini(fileName);
    const int source = ini.ReadInteger(Section, QStringLiteral("shoptype"), 0);
    choices.DataSource = source > 2 ? 2 : source < 0 ? -1 : source;
    const int kind = ini.ReadInteger(Section, QStringLiteral("linktype"), 0);
    choices.LinkKind = kind >= 0 && kind <= 2 ? kind : -1;
    choices.LinkText = ini.ReadString(Section, QStringLiteral("linkstr"), QString());
    choices.WatermarkText = ini.ReadString(Section, QStringLiteral("picstr"), QString());
    choices.PriceFactor = readNumber(ini, PriceFactorKey, 1, IsPriceFactor);
    choices.PriceAmount = readNumber(ini, PriceAmountKey, 0, IsPriceAmount);
}

TStatus WriteSettings(const TChoices& choices, const QString& fileName) {
    TIniFile ini(fileName);
    QString link = TrimText(choices.LinkText);
    link.replace(QRegularExpression(QStringLiteral("[\r\n]+")), QStringLiteral(" "));
    TStatus written = ini.WriteInteger(Section, QStringLiteral("shoptype"), choices.DataSource);
    if (written)
        written = ini.WriteInteger(Section, QStringLiteral("linktype"), choices.LinkKind);
    if (written)
        written = ini.WriteString(Section, QStringLiteral("linkstr"), link);
    if (written)
        written = ini.WriteString(Section, QStringLiteral("picstr"), TrimText(choices.WatermarkText));
    // The price keys are written once the user has changed them: the file of a user who never did
    // stays as it always was.
    auto writePrice = [&](const QString& key, double value, double byDefault) {
        static const QString Missing = QStringLiteral("\x01");
        if (written && (value != byDefault || ini.ReadString(Section, key, Missing) != Missing))
            written = ini.WriteString(Section, key, PriceNumberText(value));
    };
    writePrice(PriceFactorKey, choices.PriceFactor, 1);
    writePrice(PriceAmountKey, choices.PriceAmount, 0);
    if (!written)
        return MakeError(TErrc::Io, QStringLiteral("无法写入 ") + fileName + QStringLiteral("：") +
                                        written.error().Detail);
    return {};
}
