#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the requests to end the program (SIGINT from Ctrl+C, SIGTERM, SIGHUP from a closed
// terminal) into a Qt signal on the thread that made the watcher, so the program can close in
// order (stop its jobs, wait for them, save) instead of dying with unsaved work. One watcher at a
// time.
class TTerminationWatcher : public QObject {
    Q_OBJECT
  public:
    explicit TTerminationWatcher(QObject* parent = nullptr);
    ~TTerminationWatcher() override;

    // The last request to end that arrived (0 for none), also when no event loop ran to report it.
    static int LastRequest();
    // A closed output pipe is never a reason to end: writes to it fail instead.
    static void IgnoreBrokenPipes();

  signals:
    void terminationRequested(int signalNumber);

  private:
    QSocketNotifier* m_notifier = nullptr;
};
