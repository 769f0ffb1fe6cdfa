#include "web/pagecache.h"

#include "base/ansi.h"
#include "base/cipher.h"
#include "platform/adapter.h"
#include "platform/files.h"
#include "web/httpclient.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
// Url and memo hold hexadecimal text and are declared as text, so that the database never reads a
// digits-only cipher text as a number.
const QString CreateTable =
    QStringLiteral("create table TaoBaoAU ([Url] char(200),[memo] text,[time] datetime)");
// Lookups go by address.
const QString CreateIndex = QStringLiteral("create index if not exists TaoBaoAU_Url on TaoBaoAU ([Url])");

// Whether a database error means another process holds the store for now (SQLITE_BUSY or
// SQLITE_LOCKED), as opposed to a file that is no database.
bool isBusy(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    return code == u"5" || code == u"6";
}

// The connections a thread holds to the stores it used, one per store, closed when the thread ends
// (a connection belongs to the thread that opened it).
struct TThreadConnections {
    QHash<quint64, QString> names; // store id -> connection name
    ~TThreadConnections() {
        for (const QString& name : std::as_const(names))
            close(name);
    }
    static void close(const QString& name) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
};

thread_local TThreadConnections t_connections;

QString connectionName() {
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("pagecache-") + QString::number(counter.fetchAndAddRelaxed(1));
}

} // namespace

// One connection to the store for the span of one use, on the calling thread (a connection
// belongs to the thread that opened it).
class TPageCache::TConnection {
  public:
    explicit TConnection(const QString& fileName) {
        m_name = connectionName();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        m_ok = db.open();
    }
    ~TConnection() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool ok() const { return m_ok; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

  private:
    QString m_name;
    bool m_ok = false;
};

TPageCache::TPageCache(const QString& fileName, const QByteArray& key) : m_fileName(fileName), m_key(key) {
    static QAtomicInteger<quint64> ids;
    m_id = ids.fetchAndAddRelaxed(1);
}

TPageCache::~TPageCache() {
    // This thread's connection goes with the store; a worker's went when its thread ended.
    dropConnection();
}

QSqlDatabase TPageCache::connection() const {
    // No store: the cache is off for this run.
    if (m_fileName.isEmpty())
        return QSqlDatabase();
    QString& name = t_connections.names[m_id];
    if (name.isEmpty()) {
        name = connectionName();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isOpen())
        db.open();
    return db;
}

void TPageCache::dropConnection() const {
    const QString name = t_connections.names.take(m_id);
    if (!name.isEmpty())
        TThreadConnections::close(name);
}

QByteArray TPageCache::MachineKey() {
    return AdapterAddress().toLatin1();
}

namespace {

// What a file in the store's place is.
enum class TStoreKind {
    Ours,    // our table and nothing else, or a new empty file
    Busy,    // another process is using it right now
    Foreign, // another program's database, or no database at all
};

TStoreKind storeKind(const QString& fileName) {
    if (!PathTaken(fileName))
        return TStoreKind::Ours;
    const QFileInfo info(fileName);
    if (!info.isFile() || info.isSymLink())
        return TStoreKind::Foreign;
    if (info.size() == 0)
        return TStoreKind::Ours;
    const QString name = connectionName();
    TStoreKind kind = TStoreKind::Foreign;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(fileName);
        // Looked at without changing anything.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("select type, name from sqlite_master"))) {
                bool table = false, other = false;
                while (query.next()) {
                    const QString type = query.value(0).toString();
                    const QString entry = query.value(1).toString();
                    if (type == u"table" &&
                        entry.compare(QStringLiteral("TaoBaoAU"), Qt::CaseInsensitive) == 0)
                        table = true;
                    else if (!(type == u"index" &&
                               entry.compare(QStringLiteral("TaoBaoAU_Url"), Qt::CaseInsensitive) == 0) &&
                             !entry.startsWith(QStringLiteral("sqlite_")))
                        other = true;
                }
                if (table && !other) {
                    // Our columns, by name.
                    QSqlQuery columns(db);
                    QStringList names;
                    if (columns.exec(QStringLiteral("pragma table_info(TaoBaoAU)")))
                        while (columns.next())
                            names.append(columns.value(1).toString().toLower());
                    if (names ==
                        QStringList{QStringLiteral("url"), QStringLiteral("memo"), QStringLiteral("time")})
                        kind = TStoreKind::Ours;
                }
            } else if (isBusy(query.lastError())) {
                kind = TStoreKind::Busy;
            }
        } else if (isBusy(db.lastError())) {
            kind = TStoreKind::Busy;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return kind;
}

} // namespace

TStatus TPageCache::initializeDB() {
    QMutexLocker lock(&m_lock);
    dropConnection(); // the store may change
    m_notice.clear();
    // Only our own store is used. Anything else in its place (another program's database, a file
    // that is no database, a folder or a pipe) is left as it is, and a store of our own beside it
    // is used instead; when that place is taken by something else as well, the cache is off.
    TStoreKind kind = storeKind(m_fileName);
    if (kind == TStoreKind::Busy)
        return {}; // another process of ours uses it; its old entries are purged at a later start
    if (kind == TStoreKind::Foreign) {
        const QString besides = QFileInfo(m_fileName).dir().filePath(QStringLiteral("DB_tovrel.MDB"));
        const TStoreKind other = storeKind(besides);
        m_notice = QStringLiteral("%1 不是本程序的页面缓存，保持原样").arg(QFileInfo(m_fileName).fileName());
        if (other == TStoreKind::Foreign) {
            m_fileName.clear();
            m_notice +=
                QStringLiteral("；%1 也不是，本次运行不使用页面缓存").arg(QFileInfo(besides).fileName());
            return {};
        }
        m_fileName = besides;
        m_notice += QStringLiteral("；页面缓存改用 %1").arg(QFileInfo(besides).fileName());
        if (other == TStoreKind::Busy)
            return {};
    }
    bool hasTable = false;
    {
        TConnection connection(m_fileName);
        if (!connection.ok())
            return MakeError(TErrc::Io, StoreNotMade);
        QSqlQuery query(connection.db());
        if (!query.exec(
                QStringLiteral("select name from sqlite_master where type = 'table' and name = 'TaoBaoAU' "
                               "collate nocase")))
            return MakeError(TErrc::Io, StoreNotMade);
        hasTable = query.next();
    }
    if (!hasTable) {
        TConnection connection(m_fileName);
        QSqlQuery query(connection.db());
        if (!connection.ok() || !query.exec(CreateTable))
            return MakeError(TErrc::Io, TableNotMade);
        (void)QSqlQuery(connection.db()).exec(CreateIndex);
        return {};
    }
    {
        // A store made by an older version has no index on its addresses yet.
        TConnection connection(m_fileName);
        (void)(connection.ok() && QSqlQuery(connection.db()).exec(CreateIndex));
    }
    lock.unlock();
    if (!PurgePageCache())
        return MakeError(TErrc::Io, NotPurged);
    return {};
}

bool TPageCache::PurgePageCache(const QDate& today) {
    QMutexLocker lock(&m_lock);
    const QSqlDatabase db = connection();
    if (!db.isOpen())
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("delete from TaoBaoAU where [time] < ?"));
    query.addBindValue(today.addDays(-15).startOfDay().toString(TimeFormat));
    return query.exec();
}

TStatus TPageCache::ClearTemporaryData(const QDate& today) {
    if (!PurgePageCache(today))
        return MakeError(TErrc::Io, NotPurged);
    return {};
}

QString TPageCache::GetCachedPage(const QString& url, THttpClient& tc) {
    return CachedPage(url, tc).value_or(THttpClient::Error);
}

TResult<QString> TPageCache::CachedPage(const QString& url, THttpClient& tc) {
    const QString storedUrl = QString::fromLatin1(EncryptText(TAnsi::Encode(url), m_key, 0));
    {
        QMutexLocker lock(&m_lock);
        const QSqlDatabase db = connection();
        QSqlQuery query(db);
        query.prepare(QStringLiteral("select memo from TaoBaoAU where Url = ? order by rowid"));
        query.addBindValue(storedUrl);
        // The first stored reply that is a reply: an "error" kept by an older version of the
        // program, or an entry that cannot be deciphered, counts as no entry.
        if (db.isOpen() && query.exec()) {
            while (query.next()) {
                // A damaged entry is passed by: the next one, or a fetch, stands in for it.
                const TResult<QByteArray> memo = DecryptText(query.value(0).toString().toLatin1(), m_key, 0);
                if (memo && TAnsi::Decode(*memo) != THttpClient::Error)
                    return TAnsi::Decode(*memo);
            }
        }
    }
    // The fetch runs without the lock, so a slow reply never holds up the clear command. A failed
    // request (no response, an error status) is never stored, so it is tried again next time.
    const TResult<QString> fetched = tc.FetchPage(TProfile::Of("HGetText"), url);
    if (!fetched)
        return fetched.error();
    const QString& reply = *fetched;
    QMutexLocker lock(&m_lock);
    const QSqlDatabase db = connection();
    QSqlQuery query(db);
    query.prepare(QStringLiteral("insert into TaoBaoAU (Url, memo, [time]) values (?, ?, ?)"));
    query.addBindValue(storedUrl);
    query.addBindValue(QString::fromLatin1(EncryptText(TAnsi::Encode(reply), m_key, 0)));
    query.addBindValue(QDateTime::currentDateTime().toString(TimeFormat));
    // A reply that cannot be stored (the store is busy or gone) is still the reply.
    (void)(db.isOpen() && query.exec());
    return reply;
}
