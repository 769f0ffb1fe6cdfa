#include "web/httpclient.h"

#include "base/ansi.h"
#include "base/text.h"
#include "config/servicevalues.h"
#include "web/netaddress.h"
#include "web/requestslots.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace {

// Why no response came, in the seller's words; libcurl's own words for the rarer causes.
QString noResponseText(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("找不到服务器（域名无法解析）");
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("找不到代理服务器");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("无法连接到服务器");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("连接超时");
    case CURLE_GOT_NOTHING:
        return QStringLiteral("服务器没有回复");
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return QStringLiteral("网络连接中断");
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("安全连接（HTTPS）失败");
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("服务器的证书无法验证");
    case CURLE_TOO_MANY_REDIRECTS:
        return QStringLiteral("重定向次数过多");
    case CURLE_ABORTED_BY_CALLBACK:
        return QStringLiteral("已停止");
    default:
        return QStringLiteral("网络错误（") + QString::fromUtf8(curl_easy_strerror(code)) +
               QStringLiteral("）");
    }
}

// What a transfer's progress callback looks at: the flag that abandons it, and whom to tell how
// far it is.
struct TProgressWatch {
    const std::atomic<bool>* abandon;
    const std::function<void(qint64, qint64)>* progress;
};

int progressCheck(void* data, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
    const auto* watch = static_cast<const TProgressWatch*>(data);
    if (watch->progress && *watch->progress)
        (*watch->progress)(qint64(received), qint64(total));
    return watch->abandon && watch->abandon->load() ? 1 : 0;
}

// Name lookups, open connections and TLS sessions shared by every request of the process: the
// workers of a search each make a client of their own, and without this each of them would open a
// new connection (and, over https, make a new handshake) for every link. libcurl takes the locks
// below around each use, so any thread may use it.
struct TSharedConnections {
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];

    TSharedConnections() : share(curl_share_init()) {
        if (!share)
            return;
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<TSharedConnections*>(self)->locks[data].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<TSharedConnections*>(self)->locks[data].unlock();
    }
};

// Made once, after libcurl's own set-up, and kept for the life of the process (requests may run
// until the very end).
CURLSH* sharedConnections() {
    static TSharedConnections* shared = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        shared = new TSharedConnections;
    });
    return shared->share;
}

void initCurlOnce() {
    sharedConnections();
}

// Where a transfer's body goes, and how much of it may come.
struct TBodySink {
    QByteArray* body;
    qint64 limit;
    bool* tooLarge;
    CURL* http;
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
        // Room for the whole body the server announced, made once (within the limit), rather than
        // grown and copied chunk by chunk.
        if (response->body->isEmpty()) {
            curl_off_t announced = -1;
            if (curl_easy_getinfo(response->http, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                    CURLE_OK &&
                announced > 0 && announced <= response->limit)
                response->body->reserve(qsizetype(announced));
        }
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

// A header value with its service values filled in: each {Key} becomes the value of that key in
// `service`.
QByteArray expand(const QByteArray& value, const TServiceSnapshot& service) {
    QByteArray out;
    qsizetype i = 0;
    while (i < value.size()) {
        const qsizetype open = value.indexOf('{', i);
        const qsizetype close = open >= 0 ? value.indexOf('}', open) : -1;
        if (close < 0) {
            out += value.mid(i);
            break;
        }
        out += value.mid(i, open - i);
        out += service.Value(QString::fromLatin1(value.mid(open + 1, close - open - 1))).toUtf8();
        i = close + 1;
    }
    return out;
}

// The scheme and host of an address as libcurl itself reads them (so that what is checked is what
// would be requested); empty texts when libcurl cannot read the address.
std::pair<QString, QString> schemeAndHost(const char* address) {
    std::unique_ptr<CURLU, void (*)(CURLU*)> url(curl_url(), curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address, 0) != CURLUE_OK)
        return {};
    auto part = [&url](CURLUPart which) {
        char* text = nullptr;
        if (curl_url_get(url.get(), which, &text, 0) != CURLUE_OK || !text)
            return QString();
        const QString value = QString::fromUtf8(text);
        curl_free(text);
        return value;
    };
    return {part(CURLUPART_SCHEME).toLower(), part(CURLUPART_HOST)};
}

// The check of a page's address at each request of a transfer (the first and every redirect):
// its host, and the address libcurl connected to when no proxy stands between.
struct TPageAddressCheck {
    CURL* http = nullptr;
    bool refused = false;
    QString host;
};

int checkPageAddress(void* data, char* primaryIp, char*, int, int) {
    auto* check = static_cast<TPageAddressCheck*>(data);
    char* effective = nullptr;
    if (curl_easy_getinfo(check->http, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective) {
        check->refused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    const auto [scheme, host] = schemeAndHost(effective);
    check->host = host;
    bool local = IsLocalHost(host);
    if (!local && !ProxyAppliesTo(scheme, host)) {
        const std::optional<TIpAddress> connected =
            IpLiteral(QString::fromLatin1(primaryIp ? primaryIp : ""));
        local = !connected || IsPrivateAddress(*connected);
    }
    check->refused = local;
    return local ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

TError refusedPageAddress(const QString& host) {
    return MakeError(TErrc::Refused, host);
}

const QByteArray BrowserA = "Mozilla/5.0 (Windows NT 6.1; rv:19.0) Gecko/20100101 Firefox/19.0";
const QByteArray BrowserB = "Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:23.0) Gecko/20100101 Firefox/23.0";
const QByteArray PageAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const QByteArray LanguageList = "zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3";

using TBody = TProfile::TBody;

// The request profiles. The double quotes inside three values of Htaobao_curl_detail belong to the
// values and are sent; HGetText sends its Content-Type although it sends no body.
const TProfile Profiles[] = {
    {"HGetText",
     "GET",
     false,
     TBody::Text,
     {{"Accept-Language", "zh-cn"}, {"Content-Type", "text/html; charset=UTF-8"}},
     QStringLiteral("error")},
    {"HGetTextNew",
     "GET",
     false,
     TBody::Text,
     {{"User-Agent", BrowserA},
      {"Accept", PageAccept},
      {"Accept-Language", LanguageList},
      {"Cookie", "{CookieNew}"},
      {"Connection", "keep-alive"}},
     QStringLiteral("error")},
    {"HGetTextLib",
     "GET",
     false,
     TBody::Text,
     {{"Host", "{DetailDataHost}"},
      {"User-Agent", BrowserA},
      {"Accept", "*/*"},
      {"Accept-Language", "zh-CN,zh;q=0.8"},
      {"Referer", "http://{ItemHost}/item.htm"},
      {"Cookie", "{CookieLib}"},
      {"Connection", "keep-alive"}},
     QStringLiteral("error")},
    {"HGetTextPage",
     "GET",
     false,
     TBody::Text,
     {{"User-Agent", BrowserA},
      {"Accept", PageAccept},
      {"Accept-Language", LanguageList},
      {"Cookie", "{CookiePage}"},
      {"Connection", "keep-alive"}},
     QStringLiteral("error")},
    {"Htaobao_curl_detail",
     "POST",
     false,
     TBody::Text,
     {{"Host", "{DetailPageHost}"},
      {"User-Agent", BrowserB},
      {"Accept", PageAccept},
      {"Accept-Language", "\"en-Us,en;q=0.5\""},
      {"Accept-Encoding", "\"deflate\""},
      {"Referer", "\"{HomePage}\""},
      {"Cookie", "{CookieDetail}"},
      {"Connection", "keep-alive"}},
     QStringLiteral("error")},
    {"HPost",
     "POST",
     false,
     TBody::Text,
     {{"Accept-Language", "zh-cn"}, {"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"}},
     QString()},
    {"HGet", "GET", false, TBody::Utf16, {}, QString()},
    {"HGetN", "GET", false, TBody::Utf16, {}, QString()},
    {"HOpen", "GET", true, TBody::Bytes, {}, QString()},
    {"HGetTextFileStr", "GET", true, TBody::TrimmedAnsi, {}, QStringLiteral("error")},
};

const TProfile& profile(const char* name) {
    return TProfile::Of(name);
}

// A named operation's text: the profile's result, or its failure text.
QString textOf(THttpClient& tc, const char* name, const QString& url, const QByteArray& form = QByteArray()) {
    const TProfile& p = profile(name);
    return tc.FetchText(p, url, form).value_or(p.Failure);
}

// The body read as UTF-16 little-endian text up to its first zero unit (an odd last byte is no
// unit).
QString utf16Text(const QByteArray& bytes) {
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = char16_t(uchar(bytes[2 * i]) | (uchar(bytes[2 * i + 1]) << 8));
        if (unit == 0) {
            text.truncate(i);
            break;
        }
        text[i] = QChar(unit);
    }
    return text;
}

// The charset a Content-Type names: the first "charset" (any letter case) followed by blanks, "=",
// blanks and an optional quote, then the name's letters, digits and "_.:-". Read by hand: it runs
// for every reply.
QString charsetOf(const QByteArray& contentType) {
    const QByteArray lower = contentType.toLower();
    const qsizetype n = lower.size();
    auto isNameByte = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || QByteArrayView("_.:-").contains(c);
    };
    auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    for (qsizetype at = lower.indexOf("charset"); at >= 0; at = lower.indexOf("charset", at + 1)) {
        qsizetype i = at + 7;
        auto skipBlanks = [&] {
            while (i < n && isBlank(lower[i]))
                ++i;
        };
        skipBlanks();
        if (i >= n || lower[i] != '=')
            continue;
        ++i;
        skipBlanks();
        if (i < n && (lower[i] == '"' || lower[i] == '\''))
            ++i;
        const qsizetype from = i;
        while (i < n && isNameByte(lower[i]))
            ++i;
        if (i > from)
            return QString::fromLatin1(contentType.mid(from, i - from));
    }
    return {};
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

const TProfile* TProfile::Named(const QString& name) {
    for (const TProfile& p : Profiles)
        if (name.compare(QLatin1String(p.Name), Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

const TProfile& TProfile::Of(const char* name) {
    const TProfile* found = Named(QLatin1String(name));
    Q_ASSERT_X(found, "TProfile::Of", name);
    return found ? *found : Profiles[0];
}

QStringList TProfile::Names() {
    QStringList names;
    for (const TProfile& p : Profiles)
        names.append(QLatin1String(p.Name));
    return names;
}

bool ProxyAppliesTo(const QString& scheme, const QString& host) {
    auto either = [](const char* lower, const char* upper) {
        const QByteArray value = qgetenv(lower);
        return value.isEmpty() ? qgetenv(upper) : value;
    };
    // libcurl reads http_proxy only in lower case (a CGI program's HTTP_PROXY may come from a
    // request header).
    QByteArray proxy = scheme == u"https" ? either("https_proxy", "HTTPS_PROXY") : qgetenv("http_proxy");
    if (proxy.trimmed().isEmpty())
        proxy = either("all_proxy", "ALL_PROXY");
    if (proxy.trimmed().isEmpty())
        return false;
    QString name = host.toLower();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    const QString exempt = QString::fromUtf8(either("no_proxy", "NO_PROXY")).toLower();
    for (QString entry : exempt.split(separators, Qt::SkipEmptyParts)) {
        if (entry == u"*")
            return false;
        while (entry.startsWith(QLatin1Char('.')))
            entry.remove(0, 1);
        if (entry.startsWith(QLatin1Char('[')) && entry.endsWith(QLatin1Char(']')))
            entry = entry.mid(1, entry.size() - 2);
        if (!entry.isEmpty() && (name == entry || name.endsWith(QLatin1Char('.') + entry)))
            return false;
    }
    return true;
}

THttpClient::THttpClient(const TRequestLimits& limits, const std::atomic<bool>* abandon)
    : THttpClient(limits, abandon, TServiceValues::Snapshot()) {}

THttpClient::THttpClient(const TRequestLimits& limits, const std::atomic<bool>* abandon,
                         TServiceSnapshot service)
    : Http(nullptr, curl_easy_cleanup), m_limits(limits), m_abandon(abandon), m_service(std::move(service)) {
    initCurlOnce();
    Http.reset(curl_easy_init());
}

THttpClient::~THttpClient() = default;

TResult<QByteArray> THttpClient::perform(const TProfile& profile, const QString& url,
                                         const QByteArray& form) {
    m_lastStatus = 0;
    m_lastAnnounced = -1;
    m_lastError = MakeError(TErrc::NoReply, QStringLiteral("不是完整的网址"));
    // Only an absolute address is requested: libcurl would guess a scheme for "host/path", which
    // the request profiles never do.
    if (!url.contains(QStringLiteral("://")))
        return m_lastError;
    CURL* http = Http.get();
    if (!http) {
        m_lastError = MakeError(TErrc::NoReply, QStringLiteral("无法建立网络连接"));
        return m_lastError;
    }
    const QByteArray address = url.toUtf8();
    // An address read out of a page may not lead to this machine or a private network: its host
    // is checked before anything is sent, and again (with the address connected to) at every
    // request of the transfer.
    const bool fromPage = m_pageAddresses > 0;
    TPageAddressCheck pageCheck;
    if (fromPage) {
        const QString host = schemeAndHost(address.constData()).second;
        if (IsLocalHost(host)) {
            m_lastError = refusedPageAddress(host);
            return m_lastError;
        }
    }
    // The handle is reset for each request (its connections stay cached for the next one).
    curl_easy_reset(http);
    const bool post = profile.Method == "POST";
    const qint64 maxBytes = m_download.limit > 0 ? m_download.limit
                            : profile.Body == TBody::Text || profile.Body == TBody::Utf16
                                ? m_limits.MaxPageBytes
                                : m_limits.MaxFileBytes;
    QByteArray contentType;
    // The room of the last text body is used again; a body handed over left none.
    m_body.resize(0);
    bool tooLarge = false;

    curl_easy_setopt(http, CURLOPT_URL, address.constData());
    if (fromPage) {
        pageCheck.http = http;
        curl_easy_setopt(http, CURLOPT_PREREQFUNCTION, checkPageAddress);
        curl_easy_setopt(http, CURLOPT_PREREQDATA, &pageCheck);
    }
    if (CURLSH* shared = sharedConnections())
        curl_easy_setopt(http, CURLOPT_SHARE, shared);
    curl_easy_setopt(http, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(http, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(http, CURLOPT_FOLLOWLOCATION, profile.FollowRedirects ? 1L : 0L);
    curl_easy_setopt(http, CURLOPT_MAXREDIRS, 10L);
    // Only the web: an address of any other scheme (file, gopher, ...) from a page, or a redirect
    // to one, is refused like an unreachable address, so no local file and no local service is
    // ever reached.
    curl_easy_setopt(http, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(http, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    TBodySink sink{&m_body, maxBytes, &tooLarge, http};
    curl_easy_setopt(http, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(http, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(http, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    // Reads of up to 128 KB rather than libcurl's 16 KB: an item page of 300 KB comes in three
    // reads instead of twenty (each a system call and a wait), as the curl program does it.
    curl_easy_setopt(http, CURLOPT_BUFFERSIZE, 128L * 1024);
    curl_easy_setopt(http, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(http, CURLOPT_HEADERDATA, &contentType);
    TProgressWatch watch{m_abandon, &m_download.progress};
    curl_easy_setopt(http, CURLOPT_XFERINFOFUNCTION, progressCheck);
    curl_easy_setopt(http, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(http, CURLOPT_NOPROGRESS, m_abandon || m_download.progress ? 0L : 1L);
    // Proxies: libcurl reads http_proxy, https_proxy and no_proxy from the environment itself.

    // Timeouts. libcurl waits for name resolution and connection under one limit, so that limit is
    // the sum of the two phases. It has no per-phase limit for sending and receiving; the
    // equivalent of "no progress for that long" is a transfer slower than one byte per second for
    // the longer of the two phases, rounded up to whole seconds (libcurl's unit for it).
    curl_easy_setopt(http, CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.ResolveMs) + long(m_limits.ConnectMs));
    curl_easy_setopt(http, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(http, CURLOPT_LOW_SPEED_TIME,
                     long((std::max(m_limits.SendMs, m_limits.ReceiveMs) + 999) / 1000));
    // And a deadline for the whole request, so a server that trickles a byte now and then cannot
    // hold it (and the job waiting for it) for ever.
    curl_easy_setopt(http, CURLOPT_TIMEOUT_MS, long(m_limits.TotalMs));

    // The profile's headers in their order. libcurl adds Host (unless the profile sets it) and,
    // for a POST, Content-Length; it would add "Accept: */*" and a form Content-Type of its own,
    // which the profiles do not send, so those are switched off unless the profile sets them.
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> list(nullptr, curl_slist_free_all);
    auto append = [&list](const QByteArray& line) {
        if (curl_slist* longer = curl_slist_append(list.get(), line.constData())) {
            (void)list.release();
            list.reset(longer);
        }
    };
    bool hasAccept = false, hasContentType = false;
    for (const TProfile::THeader& header : profile.Headers) {
        const QByteArray value = expand(header.Value, m_service);
        if (value.isEmpty())
            continue;
        append(header.Name + ": " + value);
        hasAccept = hasAccept || header.Name.compare("Accept", Qt::CaseInsensitive) == 0;
        hasContentType = hasContentType || header.Name.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    if (!hasAccept)
        append("Accept:");
    if (post && !hasContentType)
        append("Content-Type:");
    if (post)
        append("Expect:");
    curl_easy_setopt(http, CURLOPT_HTTPHEADER, list.get());

    if (post) {
        curl_easy_setopt(http, CURLOPT_POST, 1L);
        curl_easy_setopt(http, CURLOPT_POSTFIELDSIZE, long(form.size()));
        curl_easy_setopt(http, CURLOPT_COPYPOSTFIELDS, form.constData());
    } else {
        curl_easy_setopt(http, CURLOPT_HTTPGET, 1L);
    }

    // A place among the job's requests in flight, held until the reply is in.
    const QString slotHost = m_slots ? schemeAndHost(address.constData()).second : QString();
    if (m_slots && !m_slots->Acquire(slotHost, m_abandon)) {
        curl_easy_setopt(http, CURLOPT_HTTPHEADER, nullptr);
        m_lastError = MakeError(TErrc::NoReply, QStringLiteral("已停止"));
        return m_lastError;
    }
    const CURLcode result = curl_easy_perform(http);
    if (m_slots)
        m_slots->Release(slotHost);
    m_lastRequestEnd.start();
    curl_easy_setopt(http, CURLOPT_HTTPHEADER, nullptr);
    long status = 0;
    if (curl_easy_getinfo(http, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        m_lastStatus = int(status);
    curl_off_t announced = -1;
    m_lastAnnounced = curl_easy_getinfo(http, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK
                          ? qint64(announced)
                          : -1;
    if (pageCheck.refused) {
        m_lastStatus = 0;
        m_lastError = refusedPageAddress(pageCheck.host);
        return m_lastError;
    }
    if (tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        m_lastError = MakeError(TErrc::BadReply, QStringLiteral("回复大于 %1 MB").arg(maxBytes >> 20));
        return m_lastError;
    }
    if (result != CURLE_OK) {
        m_lastError = MakeError(TErrc::NoReply, noResponseText(result));
        return m_lastError;
    }
    return contentType;
}

QString THttpClient::DecodeBody(const QByteArray& body, const QByteArray& contentType) {
    QString text;
    decodeBodyInto(body, contentType, text);
    return text;
}

// Decodes into `text`, using its room where it has enough.
void THttpClient::decodeBodyInto(const QByteArray& body, const QByteArray& contentType, QString& text) {
    QString charset = charsetOf(contentType);
    if (charset.isEmpty()) {
        if (body.startsWith("\xEF\xBB\xBF")) {
            text = QString::fromUtf8(body.mid(3));
            return;
        }
        if (body.startsWith("\xFF\xFE") || body.startsWith("\xFE\xFF")) {
            QStringDecoder decoder(body.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                               : QStringDecoder::Utf16BE);
            text = decoder.decode(body.mid(2));
            return;
        }
        const QRegularExpression meta(QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                      QRegularExpression::CaseInsensitiveOption);
        charset = meta.match(QString::fromLatin1(body.left(4096))).captured(1);
    }
    if (!charset.isEmpty()) {
        const QByteArray name = decoderName(charset);
        // The code page's own table reads a well-formed GBK page many times faster than the
        // converter, with the same result; anything else goes through the converter.
        if (name == "GBK" && TAnsi::DecodeWellFormed(body, text))
            return;
        QStringDecoder decoder(name.constData());
        if (decoder.isValid()) {
            text.resize(decoder.requiredSpace(body.size()));
            const QChar* end = decoder.appendToBuffer(text.data(), body);
            text.truncate(end - text.constData());
            return;
        }
    }
    if (isValidUtf8(body)) {
        text = QString::fromUtf8(body);
        return;
    }
    if (!TAnsi::DecodeWellFormed(body, text))
        text = TAnsi::Decode(body);
}

QString THttpClient::decodeText(const QByteArray& body, const QByteArray& contentType) {
    QString text;
    decodeBodyInto(body, contentType, text);
    // The text keeps no more room than it needs: a code page's two bytes for one character would
    // otherwise leave a unit of room per byte with it wherever it is kept (a row's page).
    if (text.capacity() - text.size() > text.size() / 8)
        text.squeeze();
    return text;
}

THttpClient::TUndecodedText THttpClient::HGetTextUndecoded(const QString& url) {
    TUndecodedText reply;
    TResult<QByteArray> contentType = perform(profile("HGetText"), url, QByteArray());
    reply.Status = m_lastStatus;
    if (!contentType)
        return reply;
    reply.Answered = true;
    reply.ContentType = std::move(contentType).value();
    // The body is handed over; the requests until it comes back make bodies of their own.
    reply.Bytes = std::exchange(m_body, QByteArray());
    return reply;
}

QString THttpClient::DecodeText(TUndecodedText&& reply) {
    if (!reply.Answered)
        return profile("HGetText").Failure;
    QString text = decodeText(reply.Bytes, reply.ContentType);
    // The larger room serves the next reply.
    if (m_body.capacity() < reply.Bytes.capacity()) {
        m_body = std::move(reply.Bytes);
        m_body.resize(0);
    }
    return text;
}

TResult<QByteArray> THttpClient::FetchBytes(const TProfile& profile, const QString& url,
                                            const QByteArray& form) {
    TResult<QByteArray> contentType = perform(profile, url, form);
    if (!contentType)
        return contentType.error();
    return std::exchange(m_body, QByteArray());
}

TResult<QString> THttpClient::FetchText(const TProfile& profile, const QString& url, const QByteArray& form) {
    TResult<QByteArray> contentType = perform(profile, url, form);
    if (!contentType)
        return contentType.error();
    QString text;
    switch (profile.Body) {
    case TBody::Text:
        text = decodeText(m_body, *contentType);
        break;
    case TBody::Utf16:
        text = utf16Text(m_body);
        break;
    case TBody::TrimmedAnsi:
        text = TrimText(TAnsi::Decode(m_body));
        break;
    case TBody::Bytes:
        text = QString::fromLatin1(m_body);
        break;
    }
    return text;
}

TResult<THttpClient::TTextReply> THttpClient::FetchReply(const TProfile& profile, const QString& url,
                                                         const QByteArray& form) {
    TResult<QString> text = FetchText(profile, url, form);
    if (!text)
        return text.error();
    return TTextReply{std::move(text).value(), m_lastStatus};
}

TResult<QString> THttpClient::FetchPage(const TProfile& profile, const QString& url, const QByteArray& form) {
    TResult<TTextReply> reply = FetchReply(profile, url, form);
    if (!reply)
        return reply.error();
    if (!IsSuccess(reply->Status))
        return MakeError(TErrc::BadReply, QStringLiteral("HTTP %1").arg(reply->Status));
    return std::move(reply).value().Text;
}

TResult<QByteArray> THttpClient::FetchFile(const QString& url) {
    TResult<QByteArray> bytes = FetchBytes(profile("HOpen"), url);
    if (!bytes)
        return bytes;
    if (!IsSuccess(m_lastStatus))
        return m_lastError = MakeError(TErrc::BadReply, QStringLiteral("HTTP %1").arg(m_lastStatus));
    return bytes;
}

QString THttpClient::HGetText(const QString& url) {
    return textOf(*this, "HGetText", url);
}

QString THttpClient::HGetTextNew(const QString& url) {
    return textOf(*this, "HGetTextNew", url);
}

QString THttpClient::HGetTextPage(const QString& url) {
    return textOf(*this, "HGetTextPage", url);
}

QString THttpClient::HGetTextLib(const QString& url) {
    return textOf(*this, "HGetTextLib", url);
}

QString THttpClient::Htaobao_curl_detail(const QString& url) {
    return textOf(*this, "Htaobao_curl_detail", url);
}

QString THttpClient::HPost(const QString& PostUrl, const QString& Post) {
    return textOf(*this, "HPost", PostUrl, Post.toUtf8());
}

QString THttpClient::HGet(const QString& url) {
    return textOf(*this, "HGet", url);
}

QString THttpClient::HGetN(const QString& url) {
    return textOf(*this, "HGetN", url);
}

TResult<QByteArray> THttpClient::HOpen(const QString& Htype, const QString& Url) {
    Q_UNUSED(Htype); // every caller asks for a GET
    return FetchBytes(profile("HOpen"), Url);
}

QString THttpClient::HGetTextFileStr(const QString& url) {
    return textOf(*this, "HGetTextFileStr", url);
}

TResult<QByteArray>
THttpClient::Download(const QString& url, qint64 maxBytes,
                      const std::function<void(qint64 received, qint64 total)>& progress) {
    m_download = TDownload{maxBytes, progress};
    TResult<QByteArray> bytes = FetchBytes(profile("HOpen"), url);
    m_download = TDownload();
    if (!bytes)
        return bytes;
    // What arrived with an error status (a 404 page, a proxy's login page) is no file.
    if (!IsSuccess(m_lastStatus))
        return m_lastError = MakeError(TErrc::BadReply, QStringLiteral("HTTP %1").arg(m_lastStatus));
    return bytes;
}
