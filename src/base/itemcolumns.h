#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The item table's columns: twelve fixed ones, then one column per attribute name.
inline constexpr int ColNo = 0;
inline constexpr int ColSelect = 1;
inline constexpr int ColTitle = 2;
inline constexpr int ColCategory = 3;
inline constexpr int ColPrice = 4;
inline constexpr int ColDelivery = 5;
inline constexpr int ColDetail = 6;
inline constexpr int ColHtml = 7;
inline constexpr int ColProps = 8;
inline constexpr int ColLink = 9;
inline constexpr int ColLocalDetail = 10;
inline constexpr int ColWatermark = 11;
inline constexpr int ColFixedCount = 12;
inline constexpr int ColFirstAttribute = ColFixedCount;

// Selection marks: one space for a selected row, the empty text for an unselected one. Every reader
// takes a mark that is not empty as selected.
inline const QString MarkSelected = QStringLiteral(" ");
inline const QString MarkUnselected;
inline bool IsSelectedMark(const QString& mark) {
    return !mark.isEmpty();
}

// The captions of the twelve fixed columns.
inline QStringList FixedCaptions() {
    return {QStringLiteral("序号"),     QStringLiteral("选择"),         QStringLiteral("商品名称"),
            QStringLiteral("商品分类"), QStringLiteral("价格"),         QStringLiteral("配送方式"),
            QStringLiteral("商品详情"), QStringLiteral("html"),         QStringLiteral("宝贝属性"),
            QStringLiteral("宝贝连接"), QStringLiteral("商品详情本地"), QStringLiteral("图片水印")};
}

// How the columns are shown unless the user changes it: the widths of the twelve fixed columns (-1
// for the hidden ones) and the width of every attribute column.
inline constexpr int DefaultColWidth = 64;
inline QList<int> FixedColWidths() {
    return {35, 35, 350, 100, 100, 80, -1, -1, -1, -1, -1, 100};
}
