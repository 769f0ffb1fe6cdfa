#pragma once

#include "base/choices.h"
#include "base/servicekeys.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// How many per-item workers (a Paipai search's links, a picture download's items) run at a time;
// the others wait for a free place.
inline constexpr int MaxLinkWorkers = 16;

// The long commands. Each runs as a job on a thread of its own.
enum class TJobKind { Search, Crawl, Export, Pictures, Update };

// How a job ended.
enum class TJobOutcome {
    Done,    // it did everything it set out to do
    Stopped, // the user or the shutdown stopped it; what was finished stays
    Failed,  // it could not do (all of) its work; the summary says what failed
};

struct TJobResult {
    TJobOutcome Outcome = TJobOutcome::Done;
    // What came of it, for the user (the run log's or the status bar's last word).
    QString Summary;
    // What the job made that a front end lists (the CSV file, the item picture folders).
    QStringList Produced;
    // How many of its items came out well (rows added by a search, new links of a crawl, rows
    // exported, pictures saved) and how many failed (links not fetched, rows exported incomplete,
    // pictures not saved).
    qint64 Count = 0;
    qint64 Failures = 0;
    // Of those that came out, how many are incomplete (a searched item without its description).
    qint64 Incomplete = 0;
    // Links a search passed by: their item is gone from the marketplace (HTTP 404 or 410), or
    // already in the table.
    qint64 Delisted = 0;
    qint64 AlreadyInTable = 0;
    // The job ended before its last step because a step failed (a sequential search stops at a link
    // it cannot fetch): it did not finish, though nobody stopped it.
    bool EndedEarly = false;
};

// Where a job's reports go. Called from the job's thread; implementations hand the texts on to
// wherever they are shown.
class TReporter {
  public:
    virtual ~TReporter() = default;
    // The status bar's progress text.
    virtual void Status(const QString& text) = 0;
    // The run log.
    virtual void ClearLog() = 0;
    virtual void Log(const QString& line) = 0;
    // One step finished, for a text front end (a link searched, a page crawled).
    virtual void Progress(const QString& line) = 0;
    // How far the job is: `done` of `total` (links, pages, rows, pictures, bytes); a total of 0 when
    // it is not known yet. `detail` names the step just finished (a link, a page's finds), for a
    // text front end.
    virtual void Advance(qint64 done, qint64 total, const QString& detail) = 0;
    void Advance(qint64 done, qint64 total) { Advance(done, total, QString()); }
};

// A reporter that tells nobody: for work whose progress no one follows (a measurement, a check).
class TSilentReporter : public TReporter {
  public:
    void Status(const QString&) override {}
    void ClearLog() override {}
    void Log(const QString&) override {}
    void Progress(const QString&) override {}
    void Advance(qint64, qint64, const QString&) override {}
};

// What a job gets from the program: its stop flag, its reporter, the user's live choices and the
// service values as they stood when it started.
class TJobContext {
  public:
    TJobContext(const std::atomic<bool>& stop, TReporter& reporter, std::function<TChoices()> choices,
                TServiceSnapshot service, std::function<void()> checkpoint = {})
        : m_stop(stop), m_reporter(reporter), m_choices(std::move(choices)),
          m_checkpoint(std::move(checkpoint)), m_service(std::move(service)) {}

    // Set when the job is to end: workers stop before their next link, page, row or picture, and
    // a request in flight is abandoned.
    bool Stopped() const { return m_stop.load(); }
    const std::atomic<bool>* StopFlag() const { return &m_stop; }
    TReporter& Report() const { return m_reporter; }
    // The choices as they stand now (the user may change them while the job runs).
    TChoices Choices() const { return m_choices ? m_choices() : TChoices(); }
    // The service values (service.ini) as they stood when the job started.
    const TServiceSnapshot& Service() const { return m_service; }
    // Saves what the job has changed so far, so that a crash or a kill later loses none of it.
    void Checkpoint() const {
        if (m_checkpoint)
            m_checkpoint();
    }

  private:
    const std::atomic<bool>& m_stop;
    TReporter& m_reporter;
    std::function<TChoices()> m_choices;
    std::function<void()> m_checkpoint;
    TServiceSnapshot m_service;
};
