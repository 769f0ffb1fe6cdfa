#pragma once

#include "base/result.h"
#include "base/servicekeys.h"
#include "web/patterns.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class TRequestSlots;
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

// A request profile: the fixed way one fetch operation asks and what it makes of the answer. The
// marketplaces answer differently depending on these headers, so each profile is kept exactly.
struct TProfile {
    // What the body becomes.
    enum class TBody {
        Text,        // decoded by its declared charset (see THttpClient::DecodeBody)
        Utf16,       // read as UTF-16 little-endian text up to its first zero unit
        Bytes,       // the bytes as they came
        TrimmedAnsi, // decoded from the ANSI code page and trimmed (a text file of the publisher)
    };
    // One header. Its value may hold service values, written {Key} (a key of service.ini); a
    // header whose value comes out empty is not sent.
    struct THeader {
        QByteArray Name;
        QByteArray Value;
    };
    const char* Name;
    QByteArray Method;
    bool FollowRedirects;
    TBody Body;
    QList<THeader> Headers; // in the order they are set
    // What a request that got no response gives ("error", or the empty text); Bytes: no result.
    QString Failure;

    // The profile of a fetch operation by its name (ignoring letter case); nullptr for none.
    static const TProfile* Named(const QString& name);
    // The profile of one of the program's own operations ("HGetText", ...), which always exists.
    static const TProfile& Of(const char* name);
    static QStringList Names();
};

// The web helper a worker uses for its requests and for reading pages: the request profiles and
// the pattern operations. One THttpClient belongs to one thread; each worker creates its own.
//
// No profile looks at the response status: a 404 or 500 page is returned like any other (callers
// that must not take an error page for content check LastStatus). The text profiles return
// "error" only when no response arrived at all.
class THttpClient {
  public:
    friend class TPageAddresses;
    // Create. While `abandon` (when given) is set, a request in flight is given up at once and
    // fails like a lost connection. The profiles' headers take their service values (the cookies,
    // the hosts of Host and Referer) from `service`: a job's client gets the values the job started
    // with; without them, the values service.ini holds now.
    explicit THttpClient(const TRequestLimits& limits = TRequestLimits(),
                         const std::atomic<bool>* abandon = nullptr);
    THttpClient(const TRequestLimits& limits, const std::atomic<bool>* abandon, TServiceSnapshot service);
    // Destroy.
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    static inline const QString Error = QStringLiteral("error");

    // Text profiles: the body decoded by its declared charset, or "error". Redirects are not followed.
    QString HGetText(const QString& url);
    // HGetText in two steps, for a caller that has other requests to make before it needs the
    // text: the request, its body left undecoded (`Answered` false when no response came, with
    // LastError telling why), and later the text as HGetText would have given it.
    struct TUndecodedText {
        QByteArray Bytes;
        QByteArray ContentType;
        int Status = 0;
        bool Answered = false;
    };
    TUndecodedText HGetTextUndecoded(const QString& url);
    QString DecodeText(TUndecodedText&& reply);
    QString HGetTextNew(const QString& url);
    QString HGetTextLib(const QString& url);
    QString HGetTextPage(const QString& url);
    QString Htaobao_curl_detail(const QString& url);
    // A form post (the form text sent as UTF-8); the empty text on failure.
    QString HPost(const QString& PostUrl, const QString& Post);
    // The body read as UTF-16 little-endian text up to its first zero unit; the empty text on failure.
    QString HGet(const QString& url);
    QString HGetN(const QString& url);
    // The body bytes of a GET (redirects followed); fails (see LastError) when no response came.
    // Htype is always "GET".
    TResult<QByteArray> HOpen(const QString& Htype, const QString& Url);
    // A text file from the publisher's server in the ANSI code page, trimmed; "error" on failure.
    QString HGetTextFileStr(const QString& url);

    // Any profile, its result as text (the bytes of HOpen as Latin-1); fails (see LastError) when no
    // response came. The named operations give the profile's Failure text then.
    TResult<QString> FetchText(const TProfile& profile, const QString& url,
                               const QByteArray& form = QByteArray());
    // A reply as a profile reads it, with the HTTP status it came with.
    struct TTextReply {
        QString Text;
        int Status = 0;
    };
    // Any profile, its text and its status; fails when no response came (TErrc::NoReply, BadReply
    // for a reply over its size limit, Refused for an address a page may not name).
    TResult<TTextReply> FetchReply(const TProfile& profile, const QString& url,
                                   const QByteArray& form = QByteArray());
    // The text of a reply with a success status; a reply with any other status (its error page is
    // not what was asked for) fails with TErrc::BadReply ("HTTP 404"), as does no response.
    TResult<QString> FetchPage(const TProfile& profile, const QString& url,
                               const QByteArray& form = QByteArray());
    // The bytes of a reply with a success status (redirects followed, as HOpen), failing as
    // FetchPage does.
    TResult<QByteArray> FetchFile(const QString& url);
    // A file of up to `maxBytes`, fetched like HOpen (redirects followed), with `progress` told the
    // bytes received and the total the server announced (0 when it announced none) as they come.
    // Fails with TErrc::NoReply when the transfer did not complete (a connection lost, fewer bytes
    // than announced), TErrc::BadReply for an error status or a file over the limit.
    TResult<QByteArray> Download(const QString& url, qint64 maxBytes,
                                 const std::function<void(qint64 received, qint64 total)>& progress = {});
    // Any profile, its body bytes as they came; fails when no response came.
    TResult<QByteArray> FetchBytes(const TProfile& profile, const QString& url,
                                   const QByteArray& form = QByteArray());

    // Why the last request failed (TErrc::NoReply; TErrc::BadReply for a reply over the size
    // limit; TErrc::Refused for an address a page may not name, see TPageAddresses); meaningful
    // after a request that failed.
    TError LastError() const { return m_lastError; }
    // The length the last response announced (its Content-Length), or -1 when it announced none.
    qint64 LastAnnouncedLength() const { return m_lastAnnounced; }
    // The HTTP status of the last response (of the last hop when redirects were followed); 0 when
    // none arrived. The profiles return a body whatever its status; callers that must not take an
    // error page for content check it.
    int LastStatus() const { return m_lastStatus; }
    // Microseconds since the last request ended (answered or not); -1 before the first.
    qint64 UsSinceLastRequest() const {
        return m_lastRequestEnd.isValid() ? m_lastRequestEnd.nsecsElapsed() / 1000 : -1;
    }
    static bool IsSuccess(int status) { return status >= 200 && status < 300; }
    // Counts the end of another client's last request as this client's when it came later (a
    // request made on a second client for the same item), so UsSinceLastRequest covers both.
    void NoteRequestOf(const THttpClient& other) {
        if (other.m_lastRequestEnd.isValid() &&
            (!m_lastRequestEnd.isValid() ||
             other.m_lastRequestEnd.nsecsElapsed() < m_lastRequestEnd.nsecsElapsed()))
            m_lastRequestEnd = other.m_lastRequestEnd;
    }

    // Workers that run at once share `places` (none by default): each request first waits for a
    // place for its host there.
    void ShareRequestSlots(TRequestSlots* places) { m_slots = places; }
    // What a client for the same job needs: the limits, the stop flag and the service values.
    const TRequestLimits& Limits() const { return m_limits; }
    const std::atomic<bool>* AbandonFlag() const { return m_abandon; }
    const TServiceSnapshot& Service() const { return m_service; }

    // Pattern operations.
    QString FindsStr(const QString& pattern, const TPatterns::TPatternText& html, bool AddMatch) const {
        return TPatterns::FindsStr(pattern, html, AddMatch);
    }
    QStringList FindSList(const QString& pattern, const TPatterns::TPatternText& html, bool AddMatch) const {
        return TPatterns::FindSList(pattern, html, AddMatch);
    }
    QString FindSItem(const QString& pattern, const TPatterns::TPatternText& html, int d,
                      bool AddMatch) const {
        return TPatterns::FindSItem(pattern, html, d, AddMatch);
    }
    QString MergeString(const QString& pattern, const TPatterns::TPatternText& html, int s, int d) const {
        return TPatterns::MergeString(pattern, html, s, d);
    }
    QStringList FindSListNew(const QString& pattern, const TPatterns::TPatternText& text,
                             bool AddMatch) const {
        return TPatterns::FindSListNew(pattern, text, AddMatch);
    }
    QStringList SplitString(const QString& Source, const QString& Deli) const {
        return TPatterns::SplitString(Source, Deli);
    }

    // Decodes a response body: by the charset its Content-Type declares; without one by a
    // byte-order mark, then a <meta> charset in the page, then UTF-8 when the bytes are valid
    // UTF-8, else GBK.
    static QString DecodeBody(const QByteArray& body, const QByteArray& contentType);

  private:
    // Requests; the body goes to m_body, the Content-Type is returned.
    TResult<QByteArray> perform(const TProfile& profile, const QString& url, const QByteArray& form);
    static void decodeBodyInto(const QByteArray& body, const QByteArray& contentType, QString& text);
    // A text body decoded, keeping no room beyond its size.
    QString decodeText(const QByteArray& body, const QByteArray& contentType);

    std::unique_ptr<CURL, void (*)(CURL*)> Http; // the HTTP request object, reused for every request
    TRequestLimits m_limits;
    const std::atomic<bool>* m_abandon;
    TServiceSnapshot m_service;
    TError m_lastError;
    int m_lastStatus = 0;
    qint64 m_lastAnnounced = -1;
    int m_pageAddresses = 0; // TPageAddresses alive for this client
    TRequestSlots* m_slots = nullptr;
    QElapsedTimer m_lastRequestEnd;
    // The body of the last reply. A text reply's body is decoded and its room kept for the next
    // reply (a file's body is handed over), so a run of pages does not take fresh memory for each.
    QByteArray m_body;
    // The limit and the progress of a Download under way.
    struct TDownload {
        qint64 limit = 0;
        std::function<void(qint64, qint64)> progress;
    } m_download;
};

// Marks the requests a client makes while it lives as requests for addresses read out of pages
// (a description, sale data, pictures), as opposed to the links the seller typed and the hosts of
// service.ini, which are the seller's own. A page may not send the program to the seller's own
// machine or network: such a request is refused when its host is "localhost" or an IP literal of
// this machine or a private network, and, when it goes straight to its host (no proxy applies), when
// the address it connects to is one; redirects are checked the same way. A refused request fails
// with TErrc::Refused (the detail names the host) and nothing is sent to the host.
class TPageAddresses {
  public:
    explicit TPageAddresses(THttpClient& tc) : m_tc(tc) { ++m_tc.m_pageAddresses; }
    ~TPageAddresses() { --m_tc.m_pageAddresses; }
    TPageAddresses(const TPageAddresses&) = delete;
    TPageAddresses& operator=(const TPageAddresses&) = delete;

  private:
    THttpClient& m_tc;
};

// Whether a request for `url` goes through a proxy: the variables libcurl reads (http_proxy;
// https_proxy or HTTPS_PROXY; all_proxy or ALL_PROXY) name one for its scheme, and no_proxy (or
// NO_PROXY) does not exempt its host.
bool ProxyAppliesTo(const QString& scheme, const QString& host);
