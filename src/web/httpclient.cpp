#include "web/httpclient.h"

#include "base/servicevalues.h"
#include "base/text.h"
#include "base/ansi.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <curl/curl.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

namespace {

const QByteArray BrowserA = "Mozilla/5.0 (Windows NT 6.1; rv:19.0) Gecko/20100101 Firefox/19.0";
const QByteArray BrowserB = "Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:23.0) Gecko/20100101 Firefox/23.0";
const QByteArray PageAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const QByteArray LanguageList = "zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3";

int progressCheck(void* abandon, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return abandon && static_cast<const std::atomic<bool>*>(abandon)->load() ? 1 : 0;
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Where a transfer's body goes, and how much of it may come.
struct TBodySink {
    QByteArray* body;
    qint64 limit;
    bool* tooLarge;
};

// Takes the body up to the response's limit; a body beyond it (or one that cannot be held) ends the
// transfer, and the request fails.
size_t collectBody(char* data, size_t size, size_t count, void* target) {
    auto* response = static_cast<TBodySink*>(target);
    const size_t n = size * count;
    if (response->body->size() + qint64(n) > response->limit) {
        *response->tooLarge = true;
        return 0;
    }
    try {
        response->body->append(data, qsizetype(n));
    } catch (const std::bad_alloc&) {
        *response->tooLarge = true;
        return 0;
    }
    return n;
}

// Keeps the Content-Type of the last response (a followed redirect starts a new one).
size_t collectHeader(char* data, size_t size, size_t count, void* target) {
    auto* contentType = static_cast<QByteArray*>(target);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/"))
        contentType->clear();
    else if (line.toLower().startsWith("content-type:"))
        *contentType = line.mid(13).trimmed();
    return size * count;
}

QByteArray service(TServiceKey key) {
    return TServiceValues::Value(key).toUtf8();
}

// The two headers that end four profiles: the profile's fixed Cookie (an empty value sends none)
// and "Connection: keep-alive".
QList<std::pair<QByteArray, QByteArray>> endingWithCookie(QList<std::pair<QByteArray, QByteArray>> headers,
                                                          TServiceKey cookieKey) {
    const QByteArray cookie = service(cookieKey);
    if (!cookie.isEmpty())
        headers.append(std::pair<QByteArray, QByteArray>("Cookie", cookie));
    headers.append(std::pair<QByteArray, QByteArray>("Connection", "keep-alive"));
    return headers;
}

QString charsetOf(const QByteArray& contentType) {
    const QRegularExpression charset(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                     QRegularExpression::CaseInsensitiveOption);
    return charset.match(QString::fromLatin1(contentType)).captured(1);
}

// Names the decoder for a declared charset. Pages that declare GB2312 routinely hold GBK
// characters, so the larger code page reads them.
QByteArray decoderName(QString charset) {
    charset = charset.trimmed().toLower();
    if (charset == u"gb2312" || charset == u"gbk" || charset == u"x-gbk" || charset == u"cp936" ||
        charset == u"windows-936")
        return "GBK";
    return charset.toLatin1();
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

} // namespace

TC::TC(const TRequestLimits& limits, const std::atomic<bool>* abandon)
    : m_limits(limits), m_abandon(abandon) {
    initCurlOnce();
    Http = curl_easy_init();
    if (!Http)
        throw std::runtime_error("the HTTP client could not be created");
}

TC::~TC() {
    if (Http)
        curl_easy_cleanup(Http);
}

TC::TResponse TC::perform(const QByteArray& method, const QString& url, const THeaders& headers,
                          const std::optional<QByteArray>& body, bool followRedirects, qint64 maxBytes) {
    TResponse response;
    response.limit = maxBytes;
    m_lastError = MakeError(TErrc::NoReply, QStringLiteral("not an absolute address"));
    m_lastStatus = 0;
    // Only an absolute address is requested: libcurl would guess a scheme for "host/path", which
    // the request profiles never do.
    if (!url.contains(QStringLiteral("://")))
        return response;
    // The handle is reset for each request (its connections stay cached for the next one).
    curl_easy_reset(Http);

    const QByteArray address = url.toUtf8();
    curl_easy_setopt(Http, CURLOPT_URL, address.constData());
    curl_easy_setopt(Http, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(Http, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Http, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(Http, CURLOPT_MAXREDIRS, 10L);
    // Only the web: an address of any other scheme (file, gopher, ...) from a page, or a redirect
    // to one, is refused like an unreachable address, so no local file and no local service is
    // ever reached.
    curl_easy_setopt(Http, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(Http, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    TBodySink sink{&response.body, maxBytes, &response.tooLarge};
    curl_easy_setopt(Http, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(Http, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(Http, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    curl_easy_setopt(Http, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(Http, CURLOPT_HEADERDATA, &response.contentType);
    curl_easy_setopt(Http, CURLOPT_XFERINFOFUNCTION, progressCheck);
    curl_easy_setopt(Http, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(m_abandon));
    curl_easy_setopt(Http, CURLOPT_NOPROGRESS, m_abandon ? 0L : 1L);
    // Proxies: libcurl reads http_proxy, https_proxy and no_proxy from the environment itself.

    // Timeouts. libcurl waits for name resolution and connection under one limit, so that limit is
    // the sum of the two phases. It has no per-phase limit for sending and receiving; the
    // equivalent of "no progress for that long" is a transfer slower than one byte per second for
    // the longer of the two phases, rounded up to whole seconds (libcurl's unit for it).
    curl_easy_setopt(Http, CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.ResolveMs) + long(m_limits.ConnectMs));
    curl_easy_setopt(Http, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(Http, CURLOPT_LOW_SPEED_TIME,
                     long((std::max(m_limits.SendMs, m_limits.ReceiveMs) + 999) / 1000));
    // And a deadline for the whole request, so a server that trickles a byte now and then cannot
    // hold it (and the job waiting for it) for ever.
    curl_easy_setopt(Http, CURLOPT_TIMEOUT_MS, long(m_limits.TotalMs));

    // The profile's headers in their order. libcurl adds Host (unless the profile sets it) and,
    // for a POST, Content-Length; it would add "Accept: */*" and a form Content-Type of its own,
    // which the profiles do not send, so those are switched off unless the profile sets them.
    curl_slist* list = nullptr;
    bool hasAccept = false, hasContentType = false;
    for (const auto& [name, value] : headers) {
        list = curl_slist_append(list, QByteArray(name + ": " + value).constData());
        hasAccept = hasAccept || name.compare("Accept", Qt::CaseInsensitive) == 0;
        hasContentType = hasContentType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    if (!hasAccept)
        list = curl_slist_append(list, "Accept:");
    if (body && !hasContentType)
        list = curl_slist_append(list, "Content-Type:");
    if (body)
        list = curl_slist_append(list, "Expect:");
    curl_easy_setopt(Http, CURLOPT_HTTPHEADER, list);

    if (method == "POST") {
        curl_easy_setopt(Http, CURLOPT_POST, 1L);
        const QByteArray& data = body ? *body : QByteArray();
        curl_easy_setopt(Http, CURLOPT_POSTFIELDSIZE, long(data.size()));
        curl_easy_setopt(Http, CURLOPT_COPYPOSTFIELDS, data.constData());
    } else {
        curl_easy_setopt(Http, CURLOPT_HTTPGET, 1L);
    }

    const CURLcode result = curl_easy_perform(Http);
    curl_easy_setopt(Http, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    response.ok = result == CURLE_OK;
    long status = 0;
    if (curl_easy_getinfo(Http, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        m_lastStatus = int(status);
    if (response.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        response.ok = false;
        response.tooLarge = true;
        m_lastError =
            MakeError(TErrc::BadReply, QStringLiteral("the reply is larger than %1 MB").arg(maxBytes >> 20));
        response.body.clear();
    } else if (!response.ok) {
        m_lastError = MakeError(TErrc::NoReply, QString::fromUtf8(curl_easy_strerror(result)));
    }
    return response;
}

QString TC::DecodeBody(const QByteArray& body, const QByteArray& contentType) {
    QString charset = charsetOf(contentType);
    if (charset.isEmpty()) {
        if (body.startsWith("\xEF\xBB\xBF"))
            return QString::fromUtf8(body.mid(3));
        if (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF")) {
            QStringDecoder decoder(body.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                               : QStringDecoder::Utf16BE);
            return decoder.decode(body.mid(2));
        }
        const QRegularExpression meta(QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                      QRegularExpression::CaseInsensitiveOption);
        charset = meta.match(QString::fromLatin1(body.left(4096))).captured(1);
    }
    if (!charset.isEmpty()) {
        QStringDecoder decoder(decoderName(charset).constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return isValidUtf8(body) ? QString::fromUtf8(body) : TAnsi::Decode(body);
}

QString TC::textProfile(const QByteArray& method, const QString& url, const THeaders& headers) {
    const TResponse r = perform(method, url, headers,
                                method == "POST" ? std::optional<QByteArray>(QByteArray()) : std::nullopt,
                                false, m_limits.MaxPageBytes);
    return r.ok ? DecodeBody(r.body, r.contentType) : Error;
}

QString TC::HGetText(const QString& url) {
    return textProfile("GET", url,
                       {{"Accept-Language", "zh-cn"}, {"Content-Type", "text/html; charset=UTF-8"}});
}

QString TC::HGetTextNew(const QString& url) {
    return textProfile(
        "GET", url,
        endingWithCookie(
            {{"User-Agent", BrowserA}, {"Accept", PageAccept}, {"Accept-Language", LanguageList}},
            TServiceKey::CookieNew));
}

QString TC::HGetTextPage(const QString& url) {
    return textProfile(
        "GET", url,
        endingWithCookie(
            {{"User-Agent", BrowserA}, {"Accept", PageAccept}, {"Accept-Language", LanguageList}},
            TServiceKey::CookiePage));
}

QString TC::HGetTextLib(const QString& url) {
    return textProfile(
        "GET", url,
        endingWithCookie({{"Host", service(TServiceKey::DetailDataHost)},
                          {"User-Agent", BrowserA},
                          {"Accept", "*/*"},
                          {"Accept-Language", "zh-CN,zh;q=0.8"},
                          {"Referer", "http://" + service(TServiceKey::ItemHost) + "/item.htm"}},
                         TServiceKey::CookieLib));
}

QString TC::Htaobao_curl_detail(const QString& url) {
    // The double quotes around three of the values are part of the values and are sent.
    return textProfile("POST", url,
                       endingWithCookie({{"Host", service(TServiceKey::DetailPageHost)},
                                         {"User-Agent", BrowserB},
                                         {"Accept", PageAccept},
                                         {"Accept-Language", "\"en-Us,en;q=0.5\""},
                                         {"Accept-Encoding", "\"deflate\""},
                                         {"Referer", '"' + service(TServiceKey::HomePage) + '"'}},
                                        TServiceKey::CookieDetail));
}

QString TC::HPost(const QString& PostUrl, const QString& Post) {
    const TResponse r = perform(
        "POST", PostUrl,
        {{"Accept-Language", "zh-cn"}, {"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"}},
        Post.toUtf8(), false, m_limits.MaxPageBytes);
    return r.ok ? DecodeBody(r.body, r.contentType) : QString();
}

QString TC::utf16Body(const QString& url) {
    const TResponse r = perform("GET", url, {}, std::nullopt, false, m_limits.MaxPageBytes);
    if (!r.ok)
        return {};
    const std::optional<QByteArray> bytes = OleVariantToMemoryStream(QVariant(r.body));
    if (!bytes)
        return {};
    QString text(bytes->size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = char16_t(uchar((*bytes)[2 * i]) | (uchar((*bytes)[2 * i + 1]) << 8));
        if (unit == 0) {
            text.truncate(i);
            break;
        }
        text[i] = QChar(unit);
    }
    return text;
}

QString TC::HGet(const QString& url) {
    return utf16Body(url);
}

QString TC::HGetN(const QString& url) {
    return utf16Body(url);
}

std::optional<QByteArray> TC::HOpen(const QString& Htype, const QString& Url) {
    Q_UNUSED(Htype); // every caller asks for a GET
    const TResponse r = perform("GET", Url, {}, std::nullopt, true, m_limits.MaxFileBytes);
    if (!r.ok)
        return std::nullopt;
    return OleVariantToMemoryStream(QVariant(r.body));
}

QString TC::HGetTextFileStr(const QString& url) {
    const std::optional<QByteArray> bytes = HOpen(QStringLiteral("GET"), url);
    if (!bytes)
        return Error;
    return TrimText(TAnsi::Decode(*bytes));
}

std::optional<QByteArray> TC::OleVariantToMemoryStream(const QVariant& OV) {
    if (OV.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return OV.toByteArray();
}
