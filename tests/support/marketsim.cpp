#include "marketsim.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <chrono>

namespace {

QByteArray reasonFor(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QString routeKey(const QString& host, const QString& path) {
    return host.toLower() + QLatin1Char('|') + path;
}

} // namespace

TSimResponse TSimResponse::Text(const QString& text, const QByteArray& charset, int status) {
    TSimResponse r;
    r.Status = status;
    if (charset.isEmpty()) {
        r.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html"));
        r.Body = text.toUtf8();
        return r;
    }
    r.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=" + charset));
    QStringEncoder encoder(charset.constData());
    r.Body = encoder.encode(text);
    return r;
}

TSimResponse TSimResponse::Redirect(const QByteArray& location, int status, const QByteArray& body) {
    TSimResponse r;
    r.Status = status;
    r.Headers.append(std::pair<QByteArray, QByteArray>("Location", location));
    r.Body = body;
    return r;
}

QByteArray TSimRequest::Header(const QByteArray& name) const {
    for (const auto& [n, v] : Headers)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

QList<QByteArray> TSimRequest::HeaderNames() const {
    QList<QByteArray> names;
    for (const auto& h : Headers)
        names.append(h.first);
    return names;
}

// The listening side; lives on the simulator's own thread so tests may block on requests.
class TSimServer : public QTcpServer {
  public:
    explicit TSimServer(TMarketSim* sim) : m_sim(sim) {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                serve(socket);
        });
    }

  private:
    void serve(QTcpSocket* socket) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            TSimRequest request;
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.Method = first.value(0);
            request.Target = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i];
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request.Headers.append(
                        std::pair<QByteArray, QByteArray>(line.left(colon), line.mid(colon + 1).trimmed()));
            }
            const qsizetype length = request.Header("Content-Length").toLongLong();
            if (buffer->size() < end + 4 + length)
                return; // the body is still arriving
            request.Body = buffer->mid(end + 4, length);
            request.ArrivedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
            buffer->clear();
            if (request.Target.startsWith("http://")) {
                const QUrl url(QString::fromLatin1(request.Target));
                request.ViaProxy = true;
                request.Host = url.host().toLatin1();
                request.Path = url.path(QUrl::FullyEncoded).toLatin1();
                if (url.hasQuery())
                    request.Path += '?' + url.query(QUrl::FullyEncoded).toLatin1();
                if (request.Path.isEmpty())
                    request.Path = "/";
            } else {
                QByteArray host = request.Header("Host");
                const qsizetype colon = host.lastIndexOf(':');
                if (colon > 0 && !host.contains(']'))
                    host.truncate(colon);
                request.Host = host;
                request.Path = request.Target;
            }
            respond(socket, m_sim->answer(request));
        });
    }

    void respond(QTcpSocket* socket, const TSimResponse& r) {
        if (r.Silent)
            return;
        QPointer<QTcpSocket> guard(socket);
        auto send = [guard, r] {
            if (!guard)
                return;
            QByteArray head = "HTTP/1.1 " + QByteArray::number(r.Status) + ' ' + reasonFor(r.Status) + "\r\n";
            for (const auto& [name, value] : r.Headers)
                head += name + ": " + value + "\r\n";
            if (!r.NoLength)
                head += "Content-Length: " + QByteArray::number(r.Body.size()) + "\r\n";
            head += "Connection: close\r\n\r\n";
            guard->write(head);
            if (r.TrickleMs <= 0) {
                guard->write(r.Body);
                guard->disconnectFromHost();
                return;
            }
            auto* timer = new QTimer(guard);
            auto sent = std::make_shared<qsizetype>(0);
            QObject::connect(timer, &QTimer::timeout, guard, [guard, timer, sent, body = r.Body] {
                if (*sent >= body.size()) {
                    timer->stop();
                    guard->disconnectFromHost();
                    return;
                }
                guard->write(body.mid((*sent)++, 1));
            });
            timer->start(r.TrickleMs);
        };
        if (r.DelayMs > 0)
            QTimer::singleShot(r.DelayMs, socket, send);
        else
            send();
    }

    TMarketSim* m_sim;
};

TMarketSim::TMarketSim(quint16 port) {
    m_thread.setObjectName(QStringLiteral("market simulator"));
    m_thread.start();
    m_server = new TSimServer(this);
    m_server->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_server,
        [this, port] {
            m_server->listen(QHostAddress::LocalHost, port);
            m_port = m_server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

TMarketSim::~TMarketSim() {
    QMetaObject::invokeMethod(
        m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QString TMarketSim::Origin() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_port);
}

void TMarketSim::Route(const QString& host, const QString& path, const TSimResponse& response) {
    QMutexLocker lock(&m_lock);
    m_routes.insert(routeKey(host, path), response);
}

void TMarketSim::ServeDir(const QString& host, const QString& dir, const QByteArray& contentType) {
    QMutexLocker lock(&m_lock);
    m_dirs.append({host.toLower(), {dir, contentType}});
}

QList<TSimRequest> TMarketSim::Requests() const {
    QMutexLocker lock(&m_lock);
    return m_requests;
}

int TMarketSim::Count(const QString& host, const QString& path) const {
    QMutexLocker lock(&m_lock);
    int n = 0;
    for (const TSimRequest& r : m_requests)
        n += QString::fromLatin1(r.Host).compare(host, Qt::CaseInsensitive) == 0 && r.Path == path.toLatin1();
    return n;
}

void TMarketSim::ClearRequests() {
    QMutexLocker lock(&m_lock);
    m_requests.clear();
}

TSimResponse TMarketSim::answer(const TSimRequest& request) {
    QMutexLocker lock(&m_lock);
    m_requests.append(request);
    const QString host = QString::fromLatin1(request.Host);
    const QString path = QString::fromLatin1(request.Path);
    for (const QString& key : {routeKey(host, path), routeKey(QStringLiteral("*"), path)}) {
        const auto it = m_routes.constFind(key);
        if (it != m_routes.constEnd())
            return it.value();
    }
    for (const auto& [dirHost, served] : m_dirs) {
        if (dirHost != host.toLower() && dirHost != u"*")
            continue;
        // The file named by the path with its query, else by the path alone.
        const QString full = QUrl::fromPercentEncoding(request.Path).mid(1);
        for (const QString& relative : {full, full.section(QLatin1Char('?'), 0, 0)}) {
            if (relative.contains(QStringLiteral("..")))
                continue;
            QFile file(QDir(served.first).filePath(relative));
            if (file.open(QIODevice::ReadOnly)) {
                TSimResponse r;
                r.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", served.second));
                r.Body = file.readAll();
                return r;
            }
        }
    }
    return TSimResponse::Text(QStringLiteral("<html><body>404 not found</body></html>"), "UTF-8", 404);
}
