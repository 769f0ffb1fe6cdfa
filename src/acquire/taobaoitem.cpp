#include "acquire/taobaoitem.h"

#include "acquire/itemrow.h"

#include "base/commatext.h"
#include "base/htmltext.h"
#include "base/servicekeys.h"
#include "base/text.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QThread>
#include <QThreadPool>
#include <QUrl>

#include <future>
#include <memory>
#include <utility>

namespace {

// A member of the postage reply as text: a string as it is, a missing member empty, anything
// else as its JSON text (null as "null").
QString memberText(const QJsonObject& object, const QString& name) {
    const QJsonValue v = object.value(name);
    switch (v.type()) {
    case QJsonValue::Undefined:
        return {};
    case QJsonValue::String:
        return v.toString();
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    }
    return {};
}

} // namespace

QString TaobaoItemId(const QString& link) {
    const QString id = TPatterns::FindsStr(QStringLiteral("[&]id=([^&]*)"), link, false);
    return id.isEmpty() ? TPatterns::FindsStr(QStringLiteral("[?]id=([^?]*)"), link, false) : id;
}

QString PostageAddress(const QString& head, const QString& host, const QString& itemId) {
    return head + host + QStringLiteral("/json/postageFee.htm?itemId=") + itemId +
           QStringLiteral("&al=false&ap=false&ss=false&free=true");
}

QString DeliveryFromPostage(const QString& reply) {
    // The JSONP wrapper and the markup inside the values; removed from the reply before it is
    // read, and again from each member read, since markup written with escaped quotes inside a
    // JSON string only shows once the string is read.
    const QString removals[] = {QStringLiteral("<span>"),
                                QStringLiteral("</em>"),
                                QStringLiteral("<em class=\"tb-rmb\">&yen;"),
                                QStringLiteral("<em class=\"tb-rmb-num\">"),
                                QStringLiteral("</span>"),
                                QStringLiteral("&nbsp;"),
                                QStringLiteral("$callback("),
                                QStringLiteral(");")};
    auto clean = [&removals](QString text) {
        for (const QString& markup : removals)
            text.remove(markup, Qt::CaseInsensitive);
        return text;
    };
    // A reply that is no JSON object (the fetch failure "error", an HTML page, a truncated object)
    // gives four empty members.
    const QJsonObject object = QJsonDocument::fromJson(clean(reply).toUtf8()).object();
    auto member = [&](const char* name) { return clean(memberText(object, QLatin1String(name))); };
    return member("location") + QLatin1Char('-') + member("destination") + QLatin1Char(';') +
           member("carriage") + QLatin1Char(';') + member("estimation");
}

QString CategoryFromPage(const QString& page) {
    const qsizetype notice = TPatterns::FindLiteral(page, u"tb-notice");
    if (notice < 0)
        return {};
    const qsizetype header = TPatterns::FindLiteral(page, u"tb-detail-hd");
    if (header < 0)
        return {};
    // From the character after the first of "tb-detail-hd" up to the first character of "tb-notice".
    const QString segment = header < notice ? page.mid(header + 1, notice - header) : QString();
    QStringList captions = TPatterns::FindSList(QStringLiteral("title=\"([^\"]*)"), segment, false);
    for (QString& caption : captions)
        caption = MarkupText(caption);
    return ToCommaText(captions);
}

QString TitleFromPage(const TPatterns::TPatternText& page) {
    QString title = MarkupText(TPatterns::FindsStr(QStringLiteral("<title[^>]*>([^<]*)"), page, false));
    // The marketplace's own name after the item's.
    static const QString Suffixes[] = {QStringLiteral("-淘宝网"),        QStringLiteral("-tmall.com天猫"),
                                       QStringLiteral("-天猫Tmall.com"), QStringLiteral("-天猫tmall.com"),
                                       QStringLiteral("- 阿里巴巴"),     QStringLiteral("-阿里巴巴"),
                                       QStringLiteral("_阿里巴巴"),      QStringLiteral("-淘宝")};
    for (const QString& suffix : Suffixes)
        if (title.endsWith(suffix, Qt::CaseInsensitive)) {
            title.chop(suffix.size());
            break;
        }
    return title.trimmed();
}

QStringList AttributeEntries(const TPatterns::TPatternText& page) {
    // The list runs to its own end: the first closing ul tag after its start (the page's later
    // lists are no attributes).
    const QStringView text = page.View();
    const QStringView marker = u"attributes-list\">";
    const qsizetype start = TPatterns::FindLiteral(text, marker);
    if (start < 0)
        return {};
    const qsizetype from = start + marker.size();
    const qsizetype end = TPatterns::FindLiteral(text.mid(from), u"</ul>");
    if (end < 0)
        return {};
    return AttributeEntriesOfList(page.Part(from, end));
}

QStringList AttributeEntriesOfList(const TPatterns::TPatternText& list) {
    QStringList entries;
    for (const QString& raw : TPatterns::FindSList(QStringLiteral("\">([^<]*)"), list, false)) {
        // "name:&nbsp;value" as the page writes it: the name and the value, each decoded and
        // trimmed; an entry without ":" is all value.
        const QString entry = DecodeHtmlEntities(raw);
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        entries.append(colon < 0
                           ? entry.trimmed()
                           : entry.left(colon).trimmed() + QLatin1Char(':') + entry.mid(colon + 1).trimmed());
    }
    return entries;
}

QString DescriptionAddress(const TPatterns::TPatternText& page) {
    const QString script =
        TPatterns::FindsStr(QStringLiteral("g_config.dynamicScript\\(\"([^\"]*)"), page, false);
    if (!script.isEmpty())
        return MarkupAddress(script);
    // descUrl : location.protocol==='http:' ? '//dsc...' : '//desc...'   or   descUrl : '//dsc...'
    QString address = TPatterns::FindsStr(
        QStringLiteral(
            "descUrl\\s*:\\s*location\\.protocol\\s*===?\\s*['\"]http:['\"]\\s*\\?\\s*['\"]([^'\"]*)"),
        page, false);
    if (address.isEmpty())
        address = TPatterns::FindsStr(QStringLiteral("descUrl\"?\\s*:\\s*['\"]([^'\"]*)"), page, false);
    return AbsoluteAddress(MarkupAddress(address));
}

QString DescriptionAddressGuess(const QByteArray& bytes, const QByteArray& contentType) {
    // From "g_config." (and a character) before "dynamicScript(", else from "descUrl".
    qsizetype at = TPatterns::FindBytes(bytes, "dynamicScript(");
    at = at >= 0 ? std::max<qsizetype>(at - 64, 0) : TPatterns::FindBytes(bytes, "descUrl");
    if (at < 0)
        return {};
    constexpr qsizetype Window = 4096;
    return DescriptionAddress(
        TPatterns::TPatternText(THttpClient::DecodeBody(bytes.mid(at, Window), contentType)));
}

QString SaleDataAddress(const TPatterns::TPatternText& page) {
    const QString address = TPatterns::FindsStr(QStringLiteral("\"wholeSibUrl\":\"([^\"]*)"), page, false);
    if (!address.isEmpty())
        return MarkupAddress(address);
    return AbsoluteAddress(
        MarkupAddress(TPatterns::FindsStr(QStringLiteral("wholeSibUrl\\s*:\\s*'([^']*)"), page, false)));
}

bool IsTmallItem(const QString& link, const TPatterns::TPatternText& page) {
    const QString host = QUrl(link.trimmed()).host().toLower();
    if (host == u"tmall.com" || host.endsWith(QLatin1String(".tmall.com")))
        return true;
    const QStringView text = page.View();
    return TPatterns::FindLiteral(text, u"TShop.Setup(") >= 0 ||
           TPatterns::FindLiteral(text, u"-tmall.com天猫</title>") >= 0;
}

QString TmallPrice(const TPatterns::TPatternText& page) {
    const QString price = TPatterns::FindsStr(QStringLiteral("\"defaultItemPrice\":\"([^\"]*)"), page, false);
    return MarkupText(
        price.isEmpty() ? TPatterns::FindsStr(QStringLiteral("\"price\":\"([^\"]*)"), page, false) : price);
}

QString TmallCategoryId(const TPatterns::TPatternText& page) {
    const QString id = TPatterns::FindsStr(QStringLiteral("\"categoryId\":\"?(\\d+)"), page, false);
    return id.isEmpty() ? TPatterns::FindsStr(QStringLiteral("categoryId[=:](\\d+)"), page, false) : id;
}

namespace {

// The part of a page from the end of `marker` to the first "</ul>" after it; empty without both.
TPatterns::TPatternText listAfter(const TPatterns::TPatternText& page, QStringView marker) {
    const QStringView text = page.View();
    const qsizetype start = TPatterns::FindLiteral(text, marker);
    if (start < 0)
        return QString();
    const qsizetype from = start + marker.size();
    const qsizetype end = TPatterns::FindLiteral(text.mid(from), u"</ul>");
    return end < 0 ? TPatterns::TPatternText(QString()) : page.Part(from, end);
}

} // namespace

QStringList TmallAttributeEntries(const TPatterns::TPatternText& page) {
    return AttributeEntriesOfList(listAfter(page, u"id=\"J_AttrUL\""));
}

QStringList TmallMainPictureAddresses(const TPatterns::TPatternText& page) {
    return TPatterns::FindSList(QStringLiteral("<img[^>]*\\ssrc=\"([^\"]*)"),
                                listAfter(page, u"id=\"J_UlThumb\""), false);
}

namespace {

// The fields of a page other than its description address.
void readPageFields(const TPatterns::TPatternText& text, const QString& page, bool tmall,
                    TTaobaoPageFields& fields) {
    fields.title = TitleFromPage(text);
    fields.category = CategoryFromPage(page);
    fields.price = tmall ? TmallPrice(text)
                         : MarkupText(TPatterns::FindsStr(QStringLiteral("<em class=\"tb-rmb-num\">([^<]*)"),
                                                          text, false));
    fields.attributes = tmall ? TmallAttributeEntries(text) : AttributeEntries(text);
}

} // namespace

TTaobaoPageFields ReadTaobaoPage(const QString& page, const QString& link) {
    // The page is made ready for the patterns once, for all of them.
    const TPatterns::TPatternText text(page);
    TTaobaoPageFields fields;
    fields.descriptionAddress = DescriptionAddress(text);
    readPageFields(text, page, IsTmallItem(link, text), fields);
    return fields;
}

std::optional<TItemRowValues> ReadTaobaoItem(THttpClient& tc, const TTaobaoItemInput& in) {
    // The postage request needs only the item's id: it goes out beside the page's, on a client of
    // its own, and its reply is read when the page is in (with that client, whose last request
    // counts for the pause after the link).
    std::future<std::pair<QString, std::unique_ptr<THttpClient>>> postage;
    if (in.sendPostage)
        postage = std::async(
            std::launch::async, [&tc, url = PostageAddress(in.head, in.postageHost, TaobaoItemId(in.link))] {
                auto side = std::make_unique<THttpClient>(tc.Limits(), tc.AbandonFlag(), tc.Service());
                QString reply = side->FetchPage(TProfile::Of("HGetText"), url).value_or(QString());
                return std::make_pair(std::move(reply), std::move(side));
            });
    // An error page (404, 500) or a redirect's own body is no item page: the fetch failed.
    THttpClient::TUndecodedText reply = tc.HGetTextUndecoded(in.link);
    if (!reply.Answered || !THttpClient::IsSuccess(reply.Status) || reply.Bytes.isEmpty())
        return std::nullopt;

    // The requests come first, the decoding and reading of the page after them, so a sequential
    // run's pause after the last request covers that work. The description's address, all they
    // need of the page, is read from the page as it came; the whole page checks it afterwards,
    // and a wrong one is followed by a request for the right one.
    const QString guessedAddress = DescriptionAddressGuess(reply.Bytes, reply.ContentType);
    TItemRowValues item;
    // The guess is only a guess: what it says about a failed fetch waits for the page's word.
    QStringList notes;
    auto note = [&notes](const QString& line) { notes.append(line); };
    std::optional<QString> detail = FetchDescription(tc, guessedAddress, note);
    const QString page = tc.DecodeText(std::move(reply));
    if (page.isEmpty())
        return std::nullopt;
    const TPatterns::TPatternText text(page);
    TTaobaoPageFields fields;
    fields.descriptionAddress = DescriptionAddress(text);
    if (fields.descriptionAddress != guessedAddress) {
        notes.clear();
        detail = FetchDescription(tc, fields.descriptionAddress, note);
    }
    item.detail = detail.value_or(QString());
    if (postage.valid()) {
        auto [reply, side] = postage.get();
        tc.NoteRequestOf(*side);
        item.delivery = DeliveryFromPostage(reply);
    }
    if (!detail && in.incomplete)
        ++*in.incomplete;
    if (in.note)
        for (const QString& line : std::as_const(notes))
            in.note(in.link + QStringLiteral("：") + line);
    readPageFields(text, page, IsTmallItem(in.link, text), fields);
    const bool merge = in.mergeTitlePrice && in.mergeTitlePrice();
    item.title = merge ? fields.title + QLatin1Char('_') + fields.price : fields.title;
    item.category = fields.category;
    item.price = fields.price;
    item.attributes = fields.attributes;
    item.page = page;
    item.link = in.link;
    item.watermark = in.watermark;
    return item;
}

bool ScrapeTaobaoItem(THttpClient& tc, TItemTable& grid, const TTaobaoItemInput& in) {
    const std::optional<TItemRowValues> item = ReadTaobaoItem(tc, in);
    if (item)
        AppendItemRow(grid, *item);
    return item.has_value();
}

TJobResult InsertTaoBaoUrls(const TJobContext& job, TTableChanges& table, const QStringList& links) {
    std::atomic<int> incomplete{0};
    TJobResult result =
        RunLinksInOrder(job, links, [&job, &table, &incomplete](THttpClient& tc, const QString& link) {
            const QString head = job.Service().Head();
            TTaobaoItemInput in;
            in.link = link;
            in.head = head;
            in.postageHost = job.Service().Value(TServiceKey::DetailDataHost);
            in.watermark = job.Choices().WatermarkText;
            in.sendPostage = !TrimText(head).isEmpty();
            in.mergeTitlePrice = [&job] { return job.Choices().TitleWithPrice; };
            in.note = [&job](const QString& line) { job.Report().Log(line); };
            in.incomplete = &incomplete;
            std::optional<TItemRowValues> item = ReadTaobaoItem(tc, in);
            if (item)
                HandOverRow(table, std::move(*item));
            return item.has_value();
        });
    CountIncompleteRows(result, incomplete);
    return result;
}

TJobResult InsertTaoBaoUrlsPerLink(const TJobContext& job, TTableChanges& table, const QStringList& links,
                                   const QString& head, const QString& watermark) {
    QThreadPool pool;
    pool.setMaxThreadCount(MaxLinkWorkers);
    const int total = int(links.size());
    job.Report().Advance(0, total);
    std::atomic<int> done{0};
    std::atomic<int> added{0};
    std::atomic<int> failed{0};
    std::atomic<int> incomplete{0};
    for (const QString& link : links) {
        auto* worker = new TPerLinkItemWorker;
        worker->Head = head;
        worker->PostageHost = job.Service().Value(TServiceKey::DetailDataHost);
        worker->Link = link;
        worker->Picstr = watermark;
        worker->Table = &table;
        worker->Stop = job.StopFlag();
        worker->Service = job.Service();
        worker->Incomplete = &incomplete;
        worker->Note = [&job](const QString& line) { job.Report().Log(line); };
        worker->setAutoDelete(true);
        worker->OnEnd = [&job, &done, &added, &failed, link, total](const QString& failure) {
            added += failure.isEmpty() ? 1 : 0;
            // A link abandoned because the search was stopped did not fail.
            const bool abandoned = !failure.isEmpty() && job.Stopped();
            failed += failure.isEmpty() || abandoned ? 0 : 1;
            const QString detail = failure.isEmpty() ? link
                                   : abandoned       ? QString(link + QStringLiteral("：已停止"))
                                                     : QString(link + QStringLiteral("：") + failure);
            job.Report().Advance(++done, total, detail);
        };
        pool.start(worker);
    }
    pool.waitForDone();
    TJobResult result;
    result.Failures = failed;
    result.Count = added;
    if (job.Stopped()) {
        result.Outcome = TJobOutcome::Stopped;
    } else if (failed > 0) {
        result.Outcome = TJobOutcome::Failed;
        result.Summary = QStringLiteral("%1 个连接无法下载").arg(failed.load());
    }
    CountIncompleteRows(result, incomplete);
    return result;
}

void TPerLinkItemWorker::run() {
    QString failure = QStringLiteral("无法下载");
    try {
        THttpClient tc(TRequestLimits(), Stop, Service);
        TTaobaoItemInput in;
        in.link = Link;
        in.head = Head;
        in.postageHost = PostageHost;
        in.watermark = Picstr;
        in.sendPostage = true;
        in.incomplete = Incomplete;
        in.note = Note;
        if (std::optional<TItemRowValues> item = ReadTaobaoItem(tc, in)) {
            HandOverRow(*Table, std::move(*item));
            failure.clear();
        }
    } catch (const std::exception& e) {
        // A worker on a pool thread cannot hand an exception on; its reason goes with its end.
        failure = QString::fromLocal8Bit(e.what());
    }
    if (OnEnd)
        OnEnd(failure);
}
