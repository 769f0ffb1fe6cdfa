#pragma once

#include <QRunnable>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class TAppCore;
class TC;
class TItemTable;

// What one Taobao item link needs besides the page itself.
struct TTaobaoItemInput {
    QString link;
    QString head;      // the service value Head as read for this link
    QString watermark; // ColWatermark
    bool sendPostage = true;
    // Read after the price is known: whether the title takes "_" and the price (sequential run).
    std::function<bool()> mergeTitlePrice;
};

// The item id of a link: after "&id=", else after "?id=".
QString TaobaoItemId(const QString& link);
// The postage address of an item.
QString PostageAddress(const QString& head, const QString& itemId);
// The delivery cell from a postage reply: the reply stripped of its wrapper and markup, read as a
// JSON object, joined as location-destination;carriage;estimation ("-;;" when it is no object).
QString DeliveryFromPostage(const QString& reply);
// The description from the description script's reply, without its 10-character head and
// 3-character tail; empty for a failed fetch.
QString DescriptionFromReply(const QString& reply);
// The comma text of the title attributes between "tb-detail-hd" and the first "tb-notice".
QString CategoryFromPage(const QString& page);
// The attribute entries of the page's attribute list ("name:value" as on the page).
QStringList AttributeEntries(const QString& page);

// The item procedure: fetches the page, the postage estimate and the description, then appends
// the row (title, category, price, delivery, description, page, link, watermark, attribute
// columns, attributes) as one unit. Returns false, adding no row, when the page could not be
// fetched.
bool ScrapeTaobaoItem(TC& tc, TItemTable& grid, const TTaobaoItemInput& in);

// The sequential run over a snapshot of the link list (data source "淘宝"), on its own thread:
// stops at the first link whose page cannot be fetched; then restores the search button and
// leaves the busy state.
void InsertTaoBaoUrls(TAppCore& core);

// One per-link worker (data source "拍拍"): runs the item procedure for its link. It never merges
// title and price, always asks for the postage, and does not pause.
class TthredInsertTaoBaoUrlGrid : public QRunnable {
  public:
    QString Head;
    QString Html;   // the link
    QString Picstr; // the watermark text
    TItemTable* Grid = nullptr;
    // The program's stop flag: a request in flight is abandoned when it is set.
    const std::atomic<bool>* Stop = nullptr;
    // Runs on the worker's thread when it ends (reports the end to the user-interface thread).
    std::function<void(bool added)> OnEnd;

    void run() override;
};
