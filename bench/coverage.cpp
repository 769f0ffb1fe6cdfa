// Which fields the scrapers take from saved pages, beside which pages hold them: runs the item
// reading (title, price, category, description address, attributes; Taobao and Tmall layouts), the
// export's readings (sale data, main pictures, sale-property pictures) and the shop crawler's item
// search over every .htm/.html file under the folders given. For each field a loose check of its
// own (markers and a value after them) says whether the page holds the data, so that a page that
// holds a field the program does not take shows as "MISSED".
//
// usage: coverage FOLDER...

#include "acquire/taobaoitem.h"
#include "base/servicekeys.h"
#include "collect/shopcrawler.h"
#include "export/csvexport.h"
#include "web/httpclient.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <array>

namespace {

constexpr std::array<const char*, 9> FieldNames = {
    "title",      "price",     "category", "desc-url",   "sale-data",
    "attributes", "main-pics", "sku-pics", "shop-items",
};

struct TFound {
    std::array<qsizetype, FieldNames.size()> taken{}; // how much the program takes (0: nothing)
    std::array<bool, FieldNames.size()> held{};       // whether the page holds it
};

bool holds(const QString& page, const char* pattern) {
    return QRegularExpression(QString::fromUtf8(pattern)).match(page).hasMatch();
}

TFound readPage(const QString& page, const TShopSite& shop) {
    const TPatterns::TPatternText text(page);
    const bool tmall = IsTmallItem(QString(), text);
    const TTaobaoPageFields item = ReadTaobaoPage(page);
    const QString cleaned = CleanPageText(page);
    const TPatterns::TPatternText cleanedText(cleaned);
    auto filled = [](const QString& value) { return qsizetype(value.isEmpty() ? 0 : 1); };
    TFound f;
    QStringList ids = ShopItemIds(shop, page);
    ids.removeDuplicates();
    f.taken = {
        filled(item.title),
        filled(item.price),
        filled(item.category),
        filled(item.descriptionAddress),
        // A Tmall page holds its stock itself; a Taobao page names where it is.
        tmall ? qsizetype(page.contains(QStringLiteral("\"skuMap\":{\";")) ? 1 : 0)
              : filled(SaleDataAddress(cleanedText)),
        item.attributes.size(),
        (tmall ? TmallMainPictureAddresses(cleanedText) : MainPictureAddresses(cleanedText)).size(),
        SalePropertyPictureAddresses(SalePropertyBlock(cleaned)).size(),
        ids.size(),
    };
    // What the page holds, by markers and a value after them, each looked for on its own.
    f.held = {
        holds(page, "<title[^>]*>\\s*[^<\\s]"),
        holds(page, "tb-rmb-num\">\\s*\\d|\"defaultItemPrice\":\"\\d"),
        holds(page, "tb-detail-hd[\\s\\S]*title=\"[^\"]+\"[\\s\\S]*tb-notice"),
        holds(page, "dynamicScript\\(\"[^\"]+|descUrl\"?\\s*:\\s*[^\\s,]"),
        holds(page, "wholeSibUrl\"?\\s*:\\s*['\"][^'\"]+|\"skuMap\":\\{\";"),
        holds(page, "(attributes-list\"|id=\"J_AttrUL\")>\\s*(<[^u/][^>]*>\\s*)*<li"),
        holds(page, "img data-src=\"[^\"]+|id=\"J_UlThumb\"[^>]*>[\\s\\S]{0,400}<img[^>]*src=\"[^\"]+"),
        holds(page, "class=\"[^\"]*(J_TSaleProp[^\"]*tb-img|tb-img[^\"]*J_TSaleProp)[^\"]*\"[^>]*>(?:(?!</"
                    "ul>)[\\s\\S])*"
                    "background:url\\("),
        // A shop's listing page as a whole (its pager around the items), not an item page that
        // links to others.
        holds(page, "下一页") && holds(page, "上一页") &&
            holds(page, "item\\.taobao\\.com/item\\.htm\\?id=\\d") &&
            !holds(page, "attributes-list|J_TSaleProp|TShop\\.Setup|tb-rmb-num"),
    };
    return f;
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
    out << qSetFieldWidth(60) << Qt::left << "page (taken; MISSED: held but not taken; -: not held)"
        << qSetFieldWidth(0);
    for (const char* name : FieldNames)
        out << qSetFieldWidth(11) << Qt::right << name << qSetFieldWidth(0);
    out << "\n";
    std::array<int, FieldNames.size()> held{}, taken{}, missed{};
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
            const TFound found = readPage(THttpClient::DecodeBody(file.readAll(), QByteArray()), shop);
            ++pages;
            out << qSetFieldWidth(60) << Qt::left << path.mid(folder.size()).right(59) << qSetFieldWidth(0);
            for (size_t f = 0; f < FieldNames.size(); ++f) {
                const bool isTaken = found.taken[f] > 0;
                held[f] += found.held[f] ? 1 : 0;
                taken[f] += isTaken ? 1 : 0;
                missed[f] += found.held[f] && !isTaken ? 1 : 0;
                const QString mark = isTaken         ? QString::number(found.taken[f])
                                     : found.held[f] ? QStringLiteral("MISSED")
                                                     : QStringLiteral("-");
                out << qSetFieldWidth(11) << Qt::right << mark << qSetFieldWidth(0);
            }
            out << "\n";
        }
    }
    auto totals = [&](const QString& caption, const std::array<int, FieldNames.size()>& counts) {
        out << qSetFieldWidth(60) << Qt::left << caption << qSetFieldWidth(0);
        for (const int n : counts)
            out << qSetFieldWidth(11) << Qt::right << n << qSetFieldWidth(0);
        out << "\n";
    };
    totals(QStringLiteral("pages that hold the field (of %1)").arg(pages), held);
    totals(QStringLiteral("pages where it is taken"), taken);
    totals(QStringLiteral("held but not taken"), missed);
    return 0;
}
