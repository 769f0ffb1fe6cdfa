#include "app/settings.h"

#include "base/inifile.h"
#include "base/text.h"

#include <QRegularExpression>

namespace {

const QString Section = QStringLiteral("select");

} // namespace

void ReadSettings(TChoices& choices, const QString& fileName) {
    const TIniFile ini(fileName);
    const int source = ini.ReadInteger(Section, QStringLiteral("shoptype"), 0);
    choices.DataSource = source > 2 ? 2 : source < 0 ? -1 : source;
    const int kind = ini.ReadInteger(Section, QStringLiteral("linktype"), 0);
    choices.LinkKind = kind >= 0 && kind <= 2 ? kind : -1;
    choices.LinkText = ini.ReadString(Section, QStringLiteral("linkstr"), QString());
    choices.WatermarkText = ini.ReadString(Section, QStringLiteral("picstr"), QString());
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
    if (!written)
        return MakeError(TErrc::Io, QStringLiteral("Unable to write to ") + fileName + QStringLiteral(": ") +
                                        written.error().Detail);
    return {};
}
