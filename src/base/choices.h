#pragma once

#include <QString>

// The data sources and link kinds, as indexes of their choices.
inline constexpr int SourceTaobao = 0; // "淘宝"
inline constexpr int Source1688 = 1;   // "1688"
inline constexpr int SourcePaipai = 2; // "拍拍"
inline constexpr int KindItem = 0;     // "宝贝连接"
inline constexpr int KindShop = 1;     // "店铺连接"
inline constexpr int KindCategory = 2; // "店铺分类"

// The exported price is price × factor + amount. The factor is above 0 and at most
// MaxPriceFactor, the amount at most MaxPriceAmount either way; both have at most six decimals.
inline constexpr double MaxPriceFactor = 1000;
inline constexpr double MaxPriceAmount = 1000000;
inline constexpr int PriceAdjustmentDecimals = 6;
// A factor or an amount as decimal text: at most six decimals, no trailing zeros ("1.2", "-3.5",
// "5"), as the settings file keeps it and the export reckons with it.
inline QString PriceNumberText(double value) {
    QString text = QString::number(value, 'f', PriceAdjustmentDecimals);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == u"-0" ? QStringLiteral("0") : text;
}
// The checks look at the value the export reckons with (six decimals): a factor of 0.0000004 is 0
// there, so it is no factor.
inline bool IsPriceFactor(double factor) {
    const double reckoned = PriceNumberText(factor).toDouble();
    return factor > 0 && reckoned > 0 && reckoned <= MaxPriceFactor;
}
inline bool IsPriceAmount(double amount) {
    const double reckoned = PriceNumberText(amount).toDouble();
    return reckoned >= -MaxPriceAmount && reckoned <= MaxPriceAmount;
}

// The user's choices, as the window's controls hold them. The first four and the price adjustment
// are kept in the settings file; the three options start unchecked at every start.
struct TChoices {
    int DataSource = SourceTaobao; // -1 none
    int LinkKind = KindItem;       // -1 none
    QString LinkText;              // the address box
    QString WatermarkText;
    // The three options of the settings page (the window's check boxes cbDL, cbDLXX, cbDLJG).
    bool NoMainPictures = false; // "不下载商品主图": the export downloads no pictures
    bool NoProperties = false;   // "不下载商品属性": the export looks up no category properties
    bool TitleWithPrice = false; // "标题合并价格": titles and picture names take the price
    // "价格调整": the export's prices are price × PriceFactor + PriceAmount.
    double PriceFactor = 1;
    double PriceAmount = 0;
};
