#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Places for the requests a job has in flight at once: at most a few to one host (as a browser
// keeps to six) and a limit over all hosts. Workers that share one take a place before each request
// and give it back when the reply is in; a worker that finds none waits for one.
class TRequestSlots {
  public:
    TRequestSlots(int perHost, int total) : m_perHost(perHost), m_total(total) {}
    TRequestSlots(const TRequestSlots&) = delete;
    TRequestSlots& operator=(const TRequestSlots&) = delete;

    // Waits for a place for a request to `host`; false (and no place taken) when `abandon` was set
    // while it waited.
    bool Acquire(const QString& host, const std::atomic<bool>* abandon);
    void Release(const QString& host);

    // The most requests that were in flight at once, to one host and in all (for tests and figures).
    int MostToOneHost() const;
    int MostInAll() const;

  private:
    const int m_perHost;
    const int m_total;
    mutable std::mutex m_lock;
    std::condition_variable m_freed;
    QHash<QString, int> m_byHost;
    int m_inFlight = 0;
    int m_mostToOneHost = 0;
    int m_mostInAll = 0;
};
