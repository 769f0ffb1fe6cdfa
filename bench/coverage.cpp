// Which fields the scrapers find on saved pages: runs the item reading (title, price, category,
// description address, attributes), the export's readings (sale-data address, main pictures,
// sale-property pictures) and the shop crawler's item search over every .htm/.html file under
// the folders given, and prints a line per page and the totals.
//
// usage: coverage FOLDER...

#include "acquire/taobaoitem.h"
#include "base/servicevalues.h"
#include "collect/shopcrawler.h"
#include "export/csvexport.h"
#include "web/httpclient.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTextStream>

#include <array>

namespace {

constexpr std::array<const char*, 9> FieldNames = {
    "title", "price", "category", "desc-url", "sale-url", "attributes", "main-pics", "sku-pics", "shop-items",
};

// How much of each field a page gave: 0 when nothing, else the count (1 for a text; the shop
// items counted once each).
std::array<qsizetype, FieldNames.size()> readPage(const QString& page, const TShopSite& shop) {
    const TTaobaoPageFields item = ReadTaobaoPage(page);
    const QString cleaned = CleanPageText(page);
    const TPatterns::TPatternText cleanedText(cleaned);
    auto filled = [](const QString& text) { return qsizetype(text.isEmpty() ? 0 : 1); };
    return {
        filled(item.title),
        filled(item.price),
        filled(item.category),
        filled(item.descriptionAddress),
        filled(SaleDataAddress(cleanedText)),
        item.attributes.size(),
        MainPictureAddresses(cleanedText).size(),
        SalePropertyPictureAddresses(SalePropertyBlock(cleaned)).size(),
        [&] {
            QStringList ids = ShopItemIds(shop, page);
            ids.removeDuplicates();
            return ids.size();
        }(),
    };
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList folders = app.arguments().mid(1);
    if (folders.isEmpty()) {
        QTextStream(stderr) << "usage: coverage FOLDER...\n";
        return 2;
    }
    const TShopSite shop = TaobaoShopSite(TServiceSnapshot());
    out << qSetFieldWidth(60) << Qt::left << "page" << qSetFieldWidth(0);
    for (const char* name : FieldNames)
        out << qSetFieldWidth(11) << Qt::right << name << qSetFieldWidth(0);
    out << "\n";
    std::array<int, FieldNames.size()> pagesWith{};
    int pages = 0;
    for (const QString& folder : folders) {
        QStringList files;
        QDirIterator it(folder, {QStringLiteral("*.html"), QStringLiteral("*.htm")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        for (const QString& path : files) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                QTextStream(stderr) << path << ": " << file.errorString() << "\n";
                continue;
            }
            const auto found = readPage(TC::DecodeBody(file.readAll(), QByteArray()), shop);
            ++pages;
            out << qSetFieldWidth(60) << Qt::left << path.mid(folder.size()).right(59) << qSetFieldWidth(0);
            for (size_t f = 0; f < found.size(); ++f) {
                pagesWith[f] += found[f] > 0 ? 1 : 0;
                out << qSetFieldWidth(11) << Qt::right
                    << (found[f] > 0 ? QString::number(found[f]) : QStringLiteral("-")) << qSetFieldWidth(0);
            }
            out << "\n";
        }
    }
    out << qSetFieldWidth(60) << Qt::left << QStringLiteral("pages with the field (of %1)").arg(pages)
        << qSetFieldWidth(0);
    for (const int n : pagesWith)
        out << qSetFieldWidth(11) << Qt::right << n << qSetFieldWidth(0);
    out << "\n";
    return 0;
}
