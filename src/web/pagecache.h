#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QDate>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class THttpClient;

// Replies kept in a local database so that a page fetched once is not fetched again for a while.
// The database is an SQLite file (named "DB.MDB" in the working directory) with one table
// "TaoBaoAU" (Url, memo, time); addresses and replies are stored enciphered under a key bound to
// the workstation, so entries written on one workstation cannot be read on another. Entries older
// than the start of the day 15 days back are purged at start-up and by the clear command.
//
// Lookups may come from a worker thread while the user clears the cache on the window's thread;
// every use of the database is serialised by one lock. Each thread keeps one connection to the
// store, and the addresses are indexed.
class TPageCache {
  public:
    // `key` is the cipher key text (by default the workstation's adapter address).
    explicit TPageCache(const QString& fileName, const QByteArray& key);
    ~TPageCache();

    static QByteArray MachineKey();
    // The store's file: the one given, or the one beside it used instead (see initializeDB); empty
    // when the cache is off.
    QString FileName() const { return m_fileName; }
    // What initializeDB did instead of using the file given, for the run log; empty when it used it.
    QString Notice() const { return m_notice; }

    // What preparing the store could not do: the detail of initializeDB's failure.
    static inline const QString StoreNotMade = QStringLiteral("the store could not be made");
    static inline const QString TableNotMade = QStringLiteral("the table could not be made");
    static inline const QString NotPurged = QStringLiteral("the old entries could not be purged");

    // Prepares the store: creates the file and the table when missing, otherwise purges old
    // entries. Only a store of ours is used (a file holding our one table, or none yet): anything
    // else in its place is left untouched and "DB_tovrel.MDB" beside it is used instead (the cache
    // is off when that is taken by something else too); Notice says so. Fails (TErrc::Io) with
    // StoreNotMade, TableNotMade or NotPurged as the detail.
    TStatus initializeDB();
    // Deletes every entry older than the start of the day 15 days before `today`.
    bool PurgePageCache(const QDate& today = QDate::currentDate());
    // The command "清除临时数据": purges; fails with TErrc::Io when it cannot.
    TStatus ClearTemporaryData(const QDate& today = QDate::currentDate());

    // The reply for `url`: from the cache when it holds the address, else fetched with the
    // caller's THttpClient (HGetText) and stored. A failed request (no response, or a status that is no
    // success) gives "error" and is never stored; stored "error" entries count as absent. A store
    // that cannot be used gives the fetched reply.
    QString GetCachedPage(const QString& url, THttpClient& tc);
    // The same, a failed request as an error (why no reply came, or "HTTP 404"), not as "error".
    TResult<QString> CachedPage(const QString& url, THttpClient& tc);

  private:
    class TConnection;
    // The calling thread's connection to the store, opened at its first use and kept until the
    // thread ends (or the store goes); dropConnection closes it at once.
    QSqlDatabase connection() const;
    void dropConnection() const;
    quint64 m_id = 0;
    QString m_fileName;
    QByteArray m_key;
    QString m_notice;
    QMutex m_lock;
};
