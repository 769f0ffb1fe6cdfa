#pragma once

#include "base/result.h"
#include "web/patterns.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <atomic>
#include <optional>
#include <utility>

typedef void CURL;

// How long a request may wait and how much it may receive. A request that passes a limit fails like
// one that got no response.
struct TRequestLimits {
    // The four phases a request may wait in, in milliseconds: name resolution, connection, and no
    // data moving while sending or receiving.
    int ResolveMs = 10000;
    int ConnectMs = 10000;
    int SendMs = 60000;
    int ReceiveMs = 60000;
    // The whole request, however steadily data arrives: enough for a large picture on a slow line.
    int TotalMs = 300000;
    // The largest reply body: a page (the text profiles) and a file (HOpen: pictures, text files).
    qint64 MaxPageBytes = 16 << 20;
    qint64 MaxFileBytes = 32 << 20;
};

// The web helper a worker uses for its requests and for reading pages: a fixed set of request
// profiles (method, headers in a fixed order, redirect rule, how the body becomes the result) and
// the pattern operations. One TC belongs to one thread; each worker creates its own.
//
// No profile looks at the response status: a 404 or 500 page is returned like any other. The
// text profiles return "error" only when no response arrived at all.
class TC {
  public:
    // Create. Raises std::runtime_error when the HTTP client cannot be set up. While `abandon`
    // (when given) is set, a request in flight is given up at once and fails like a lost connection.
    explicit TC(const TRequestLimits& timeouts = TRequestLimits(),
                const std::atomic<bool>* abandon = nullptr);
    // Destroy.
    ~TC();
    TC(const TC&) = delete;
    TC& operator=(const TC&) = delete;

    static inline const QString Error = QStringLiteral("error");

    // Text profiles: the body decoded by its declared charset, or "error". Redirects are not followed.
    QString HGetText(const QString& url);
    QString HGetTextNew(const QString& url);
    QString HGetTextLib(const QString& url);
    QString HGetTextPage(const QString& url);
    QString Htaobao_curl_detail(const QString& url);
    // A form post (the form text sent as UTF-8); the empty text on failure.
    QString HPost(const QString& PostUrl, const QString& Post);
    // The body read as UTF-16 little-endian text up to its first zero unit; the empty text on failure.
    QString HGet(const QString& url);
    QString HGetN(const QString& url);
    // The body bytes of a GET (redirects followed); no result on failure. Htype is always "GET".
    std::optional<QByteArray> HOpen(const QString& Htype, const QString& Url);
    // A text file from the publisher's server in the ANSI code page, trimmed; "error" on failure.
    QString HGetTextFileStr(const QString& url);
    // The bytes of a response body held as a byte array; no result for anything else.
    static std::optional<QByteArray> OleVariantToMemoryStream(const QVariant& OV);

    // Pattern operations.
    QString FindsStr(const QString& pattern, const QString& html, bool AddMatch) const {
        return TPatterns::FindsStr(pattern, html, AddMatch);
    }
    QStringList FindSList(const QString& pattern, const QString& html, bool AddMatch) const {
        return TPatterns::FindSList(pattern, html, AddMatch);
    }
    QString FindSItem(const QString& pattern, const QString& html, int d, bool AddMatch) const {
        return TPatterns::FindSItem(pattern, html, d, AddMatch);
    }
    QString MergeString(const QString& pattern, const QString& html, int s, int d) const {
        return TPatterns::MergeString(pattern, html, s, d);
    }
    QStringList FindSListNew(const QString& pattern, const QString& text, bool AddMatch) const {
        return TPatterns::FindSListNew(pattern, text, AddMatch);
    }
    QStringList SplitString(const QString& Source, const QString& Deli) const {
        return TPatterns::SplitString(Source, Deli);
    }

    // Why the last request failed (TErrc::NoReply, or TErrc::BadReply for a reply over the size
    // limit); meaningful after a request that failed.
    TError LastError() const { return m_lastError; }
    // The HTTP status of the last response (of the last hop when redirects were followed); 0 when
    // none arrived. The profiles return a body whatever its status; callers that must not take an
    // error page for content check it.
    int LastStatus() const { return m_lastStatus; }
    static bool IsSuccess(int status) { return status >= 200 && status < 300; }

    // Decodes a response body: by the charset its Content-Type declares; without one by a
    // byte-order mark, then a <meta> charset in the page, then UTF-8 when the bytes are valid
    // UTF-8, else GBK.
    static QString DecodeBody(const QByteArray& body, const QByteArray& contentType);

  private:
    using THeaders = QList<std::pair<QByteArray, QByteArray>>;
    struct TResponse {
        bool ok = false;
        QByteArray body;
        QByteArray contentType;
        qint64 limit = 0;      // the most body bytes taken
        bool tooLarge = false; // the body passed the limit (or could not be held)
    };
    TResponse perform(const QByteArray& method, const QString& url, const THeaders& headers,
                      const std::optional<QByteArray>& body, bool followRedirects, qint64 maxBytes);
    QString textProfile(const QByteArray& method, const QString& url, const THeaders& headers);
    QString utf16Body(const QString& url);

    CURL* Http = nullptr;
    TRequestLimits m_limits;
    TError m_lastError;
    int m_lastStatus = 0;
    const std::atomic<bool>* m_abandon;
};
