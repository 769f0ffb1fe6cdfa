#include "web/pagecache.h"

#include "base/ansi.h"
#include "base/cipher.h"
#include "platform/adapter.h"
#include "platform/files.h"
#include "web/httpclient.h"

#include <QAtomicInteger>
#include <QDateTime>
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

TStatus TPageCache::initializeDB() {
    QMutexLocker lock(&m_lock);
    // Something that is no file in the store's place (a pipe would block the database for ever)
    // holds no replies of ours: it is kept aside and a new store is made.
    dropConnection(); // the file may be set aside or made anew
    if (PathTaken(m_fileName) && !QFileInfo(m_fileName).isFile())
        (void)SetAside(m_fileName);
    const bool existed = QFileInfo::exists(m_fileName);
    QSqlError listError;
    auto tableNames = [&listError](QSqlDatabase db, bool* ok) {
        QStringList names;
        QSqlQuery query(db);
        *ok = query.exec(QStringLiteral("select name from sqlite_master where type = 'table'"));
        listError = query.lastError();
        while (*ok && query.next())
            names.append(query.value(0).toString());
        return names;
    };
    bool listed = false;
    QStringList names;
    {
        TConnection connection(m_fileName);
        if (connection.ok())
            names = tableNames(connection.db(), &listed);
        else
            listError = connection.db().lastError();
    }
    if (!listed && existed && isBusy(listError)) {
        // Another process is using the store right now: it is a store of ours, so it is left as
        // it is; the old entries are purged at a later start.
        return {};
    }
    if (!listed && existed) {
        // A file that is no database of ours (a cache from another build, a damaged file): it only
        // held disposable replies, so it is kept aside and a new one is made.
        (void)SetAside(m_fileName);
        TConnection connection(m_fileName);
        if (connection.ok())
            names = tableNames(connection.db(), &listed);
    }
    if (!listed)
        return MakeError(TErrc::Io, StoreNotMade);
    if (!names.contains(QStringLiteral("TaoBaoAU"), Qt::CaseInsensitive)) {
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

QString TPageCache::GetCachedPage(const QString& url, TC& tc) {
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
                if (memo && TAnsi::Decode(*memo) != TC::Error)
                    return TAnsi::Decode(*memo);
            }
        }
    }
    // The fetch runs without the lock, so a slow reply never holds up the clear command. A failed
    // request (no response, an error status) is never stored, so it is tried again next time.
    const QString reply = tc.HGetText(url);
    if (reply == TC::Error || !TC::IsSuccess(tc.LastStatus()))
        return TC::Error;
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
