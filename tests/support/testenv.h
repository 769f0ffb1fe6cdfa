#pragma once

// The environment the network and core tests run in, made one way for every suite: the proxy
// variables cleared (and restored afterwards), a marketplace simulator, a temporary working folder,
// and a core started on it when a test asks for one.

#include "marketsim.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <utility>

class TAppCore;

class TTestEnvironment {
  public:
    enum class TProxy {
        None,      // requests go straight to where they are addressed (the simulator's own address)
        Simulator, // http_proxy names the simulator, which answers for every host
    };
    explicit TTestEnvironment(TProxy proxy = TProxy::Simulator);
    // Stops the core, removes the folder, and puts the proxy variables back as they were.
    ~TTestEnvironment();
    TTestEnvironment(const TTestEnvironment&) = delete;
    TTestEnvironment& operator=(const TTestEnvironment&) = delete;

    TMarketSim& Sim() { return m_sim; }
    QString Dir() const { return m_dir.path(); }
    QString File(const QString& name) const { return m_dir.filePath(name); }
    // Writes service.ini in the working folder.
    void WriteServiceIni(const QByteArray& text) const;

    // A core on the working folder, started (it fails the test when it cannot start); a second call
    // gives the same one.
    TAppCore& Core();
    // Ends the core (as the program's end does: its jobs stopped, what changed saved), so the folder
    // is free for another.
    void StopCore();

  private:
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_savedProxies;
    TMarketSim m_sim;
    QTemporaryDir m_dir;
    std::unique_ptr<TAppCore> m_core;
};
