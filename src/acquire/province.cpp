#include "acquire/province.h"

#include "base/text.h"

QStringList ProvinceListEntries() {
    // Three values equal their names: 山西, 台湾 and 海外.
    return QStringLiteral(
               "北京=北京市,天津=天津市,河北=河北省,山西=山西,内蒙=内蒙古自治区,辽宁=辽宁省,吉林=吉林省,"
               "黑龙=黑龙江省,上海=上海市,江苏=江苏省,浙江=浙江省,安徽=安徽省,福建=福建省,江西=江西省,"
               "山东=山东省,河南=河南省,湖北=湖北省,湖南=湖南省,广东=广东省,广西=广西壮族自治区,"
               "海南=海南省,重庆=重庆市,四川=四川省,贵州=贵州省,云南=云南省,西藏=西藏自治区,"
               "陕西=陕西省,甘肃=甘肃省,青海=青海省,宁夏=宁夏回族自治区,新疆=新疆维吾尔自治区,"
               "台湾=台湾,香港=香港特别行政区,澳门=澳门特别行政区,海外=海外")
        .split(QLatin1Char(','));
}

std::pair<QString, QString> SplitLocation(const QStringList& ProvinceList, const QString& location) {
    const QString s = TrimText(location);
    if (s.size() < 2)
        return {s, QString()};
    const QString key = s.left(2);
    QString full;
    bool found = false;
    for (const QString& entry : ProvinceList) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq >= 0 && entry.left(eq).compare(key, Qt::CaseInsensitive) == 0) {
            full = entry.mid(eq + 1);
            found = true;
            break;
        }
    }
    if (!found)
        return {};
    qsizetype k = 2; // 0-based: the third character
    while (k < s.size() && k < full.size() && s[k] == full[k])
        ++k;
    return {s.left(k), s.mid(k)};
}
