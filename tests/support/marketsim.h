#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <memory>
#include <utility>

// A local stand-in for the marketplaces, for tests. It listens on 127.0.0.1 on a free port and
// answers by host and path: requested directly (the Host header names the host) or as an HTTP
// proxy (the request line carries the absolute address), so one server can play several hosts.
// It records every request with its headers in the order they were sent.

using TSimHeaders = QList<std::pair<QByteArray, QByteArray>>;

struct TSimResponse {
    int Status = 200;
    TSimHeaders Headers; // e.g. {"Content-Type", "text/html; charset=GBK"}
    QByteArray Body;
    int DelayMs = 0;       // wait this long before answering
    bool Silent = false;   // accept the request and never answer
    int TrickleMs = 0;     // after the headers, send the body one byte every TrickleMs
    bool NoLength = false; // send no Content-Length: the body ends when the connection closes

    // A text page in the given charset, declared in its Content-Type (no charset: none declared).
    static TSimResponse Text(const QString& text, const QByteArray& charset = "UTF-8", int status = 200);
    static TSimResponse Redirect(const QByteArray& location, int status = 302, const QByteArray& body = {});
};

struct TSimRequest {
    QByteArray Method;
    QByteArray Target; // as on the request line
    QByteArray Host;   // without a port
    QByteArray Path;   // path and query
    bool ViaProxy = false;
    TSimHeaders Headers;
    QByteArray Body;
    qint64 ArrivedUs = 0; // when it had arrived whole, in microseconds of the steady clock

    QByteArray Header(const QByteArray& name) const;
    QList<QByteArray> HeaderNames() const;
};

class TSimServer;

class TMarketSim {
  public:
    // Listens on `port`, or on a free one when it is 0.
    explicit TMarketSim(quint16 port = 0);
    ~TMarketSim();

    quint16 Port() const { return m_port; }
    // "http://127.0.0.1:PORT"
    QString Origin() const;

    // Answers requests for host (compared ignoring case; "*" for any host) and path-and-query.
    void Route(const QString& host, const QString& path, const TSimResponse& response);
    // Serves every file below `dir` for host, by its path relative to dir.
    void ServeDir(const QString& host, const QString& dir, const QByteArray& contentType);

    QList<TSimRequest> Requests() const;
    int Count(const QString& host, const QString& path) const;
    void ClearRequests();

  private:
    friend class TSimServer;
    TSimResponse answer(const TSimRequest& request);

    mutable QMutex m_lock;
    QHash<QString, TSimResponse> m_routes;
    QList<std::pair<QString, std::pair<QString, QByteArray>>> m_dirs; // host -> (dir, type)
    QList<TSimRequest> m_requests;
    QThread m_thread;
    TSimServer* m_server = nullptr;
    quint16 m_port = 0;
};
