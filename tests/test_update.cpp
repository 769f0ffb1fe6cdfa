#include "app/appcore.h"
#include "base/servicevalues.h"
#include "update/update.h"

#include "testenv.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

namespace {

// Bytes that pass for a Linux executable, and differ from any other test's.
QByteArray elfBytes(const QByteArray& tag) {
    return QByteArray("\x7F"
                      "ELF\x02\x01\x01",
                      7) +
           QByteArray(4096, '\0') + tag;
}

// Collects what a job reports, from whatever thread.
class TRecordingReporter : public TReporter {
  public:
    void Status(const QString&) override {}
    void ClearLog() override {}
    void Log(const QString& line) override {
        QMutexLocker lock(&m_lock);
        m_log.append(line);
    }
    void Progress(const QString&) override {}
    void Advance(qint64 done, qint64 total, const QString&) override {
        QMutexLocker lock(&m_lock);
        m_lastDone = done;
        m_lastTotal = total;
    }
    QStringList LogLines() const {
        QMutexLocker lock(&m_lock);
        return m_log;
    }
    std::pair<qint64, qint64> Last() const {
        QMutexLocker lock(&m_lock);
        return {m_lastDone, m_lastTotal};
    }

  private:
    mutable QMutex m_lock;
    QStringList m_log;
    qint64 m_lastDone = -1, m_lastTotal = -1;
};

bool isExecutable(const QString& path) {
    return QFileInfo(path).permissions().testFlag(QFileDevice::ExeOwner);
}

} // namespace

Q_DECLARE_METATYPE(TSimResponse)

class TestUpdate : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void versionComparison_data();
    void versionComparison();
    void coreComparesServiceValueWithBuildVersion();
    void windowsScriptLines();
    void posixScriptLines();
    void goodDownloadIsStaged();
    void badDownloadStagesNothing_data();
    void badDownloadStagesNothing();
    void scriptReplacesExecutableAfterItsProcessEnds();
    void scriptRestartsWhenAsked();

  private:
    TJobResult download(TRecordingReporter& reporter);
    std::unique_ptr<TTestEnvironment> m_env;
    std::unique_ptr<QTemporaryDir> m_install;
    std::atomic<bool> m_stop{false};
};

void TestUpdate::init() {
    m_env = std::make_unique<TTestEnvironment>();
    m_install = std::make_unique<QTemporaryDir>();
    m_env->WriteServiceIni("[service]\nPublisherServer=http://www.tovrel.example/\n");
    m_stop = false;
}

void TestUpdate::cleanup() {
    m_install.reset();
    m_env.reset();
}

void TestUpdate::versionComparison_data() {
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("running");
    QTest::addColumn<bool>("offered");
    QTest::newRow("same") << "1.0.0.0"
                          << "1.0.0.0" << false;
    QTest::newRow("older published") << "1.0.0.9"
                                     << "1.0.0.10" << true;
    QTest::newRow("newer published") << "1.0.1.0"
                                     << "1.0.0.10" << true;
    QTest::newRow("empty published") << ""
                                     << "1.0.0.0" << true;
    QTest::newRow("no running version") << "1.0.0.0"
                                        << "" << true;
    QTest::newRow("leading zero differs") << "1.0.0.01"
                                          << "1.0.0.1" << true;
}

void TestUpdate::versionComparison() {
    QFETCH(QString, latest);
    QFETCH(QString, running);
    QFETCH(bool, offered);
    QCOMPARE(IsNewVersion(latest, running), offered);
}

void TestUpdate::coreComparesServiceValueWithBuildVersion() {
    // The build's version, "a.b.c.d".
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                .match(TAppCore::FileVersionText())
                .hasMatch());
    TAppCore& core = m_env->Core();
    // Without a published version nothing is offered.
    m_env->WriteServiceIni("[service]\n");
    QVERIFY(!core.UpdateOffered());
    m_env->WriteServiceIni("[service]\nLatestVersion=" + TAppCore::FileVersionText().toUtf8() + "\n");
    QVERIFY(!core.UpdateOffered());
    m_env->WriteServiceIni("[service]\nLatestVersion=\n");
    QVERIFY(core.UpdateOffered());
    m_env->WriteServiceIni("[service]\nLatestVersion=0.0.0.1\n");
    QVERIFY(core.UpdateOffered());
    QCOMPARE(TAppCore::LatestVersion(), QStringLiteral("0.0.0.1"));
}

void TestUpdate::windowsScriptLines() {
    const QString exe = QStringLiteral("C:/app/Tovrel.exe");
    const QStringList later = UpdateScriptLines(TScriptKind::WindowsBatch, exe, false);
    const QStringList expected = {
        QStringLiteral("@echo off"),
        QStringLiteral(":try"),
        QStringLiteral("del \"C:\\app\\Tovrel.exe\""),
        QStringLiteral("if exist \"C:\\app\\Tovrel.exe\" goto try"),
        QStringLiteral(":loop"),
        QStringLiteral("copy \".\\bak\\Tovrel.exe\"  \"C:\\app\\\""),
        QStringLiteral("if not exist \"C:\\app\\Tovrel.exe\" goto loop"),
        QStringLiteral("del %0"),
    };
#ifdef Q_OS_WIN
    QCOMPARE(later, expected);
#else
    // Off Windows the separators stay as given; the lines are otherwise the same.
    QCOMPARE(later.size(), 8);
    QCOMPARE(later.first(), expected.first());
    QCOMPARE(later.last(), expected.last());
#endif
    const QStringList now = UpdateScriptLines(TScriptKind::WindowsBatch, exe, true);
    QCOMPARE(now.size(), 9);
    QCOMPARE(now.mid(0, 7), later.mid(0, 7));
    QVERIFY(now[7].startsWith(QStringLiteral("start \"\" \"")));
    QVERIFY(now[7].endsWith(QStringLiteral("Tovrel.exe\"")));
    QCOMPARE(now[8], QStringLiteral("del %0"));
    const QStringList withFolder =
        UpdateScriptLines(TScriptKind::WindowsBatch, exe, true, 0, {"--workdir", "D:/shop data"});
    QVERIFY(withFolder[7].endsWith(QStringLiteral("Tovrel.exe\" \"--workdir\" \"D:/shop data\"")));
}

void TestUpdate::posixScriptLines() {
    const QString exe = QStringLiteral("/opt/tovrel's/Tovrel");
    const QStringList later = UpdateScriptLines(TScriptKind::PosixShell, exe, false, 4242);
    const QStringList expected = {
        QStringLiteral("#!/bin/sh"),
        QStringLiteral(
            "# Puts the new Tovrel in place once the old one no longer runs, then removes itself."),
        QStringLiteral("exe='/opt/tovrel'\\''s/Tovrel'"),
        QStringLiteral("staged='/opt/tovrel'\\''s/bak/Tovrel'"),
        QStringLiteral("pid=4242"),
        QStringLiteral("running() {"),
        QStringLiteral("    # The program's own process, unless it has ended (a zombie has ended too)."),
        QStringLiteral("    if [ \"$pid\" -gt 0 ] && kill -0 \"$pid\" 2>/dev/null; then"),
        QStringLiteral("        grep -qs '^State:[[:space:]]*Z' \"/proc/$pid/status\" || return 0"),
        QStringLiteral("    fi"),
        QStringLiteral("    # Any other process that runs the executable."),
        QStringLiteral("    for p in /proc/[0-9]*; do"),
        QStringLiteral("        [ \"$(readlink \"$p/exe\" 2>/dev/null)\" = \"$exe\" ] && return 0"),
        QStringLiteral("    done"),
        QStringLiteral("    return 1"),
        QStringLiteral("}"),
        QStringLiteral("while running; do sleep 1; done"),
        QStringLiteral("tries=0"),
        QStringLiteral(
            "until cp \"$staged\" \"$exe.new\" && chmod 755 \"$exe.new\" && mv -f \"$exe.new\" \"$exe\"; do"),
        QStringLiteral("    tries=$((tries + 1))"),
        QStringLiteral("    if [ \"$tries\" -ge 60 ]; then rm -f \"$exe.new\" \"$0\"; exit 1; fi"),
        QStringLiteral("    sleep 1"),
        QStringLiteral("done"),
        QStringLiteral("rm -f \"$0\""),
    };
    QCOMPARE(later, expected);
    QStringList now = expected;
    now.insert(now.size() - 1, QStringLiteral("nohup \"$exe\" >/dev/null 2>&1 &"));
    QCOMPARE(UpdateScriptLines(TScriptKind::PosixShell, exe, true, 4242), now);
    // The restart keeps the working folder the program ran on.
    now[now.size() - 2] = QStringLiteral("nohup \"$exe\" '--workdir' '/srv/my shop'\\''s' >/dev/null 2>&1 &");
    QCOMPARE(UpdateScriptLines(TScriptKind::PosixShell, exe, true, 4242, {"--workdir", "/srv/my shop's"}),
             now);
}

TJobResult TestUpdate::download(TRecordingReporter& reporter) {
    const TJobContext job(m_stop, reporter, [] { return TChoices(); });
    return DownloadUpdate(job, m_install->path());
}

void TestUpdate::goodDownloadIsStaged() {
    const QByteArray published = elfBytes("published");
    m_env->Sim().Route(QStringLiteral("www.tovrel.example"), QStringLiteral("/Tovrel"),
                       TSimResponse{200, {{"Content-Type", "application/octet-stream"}}, published});
    // A staged copy of an earlier run is replaced whole.
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    writeFile(m_install->filePath(QStringLiteral("bak/Tovrel")), "old staged copy");
    TRecordingReporter reporter;
    const TJobResult result = download(reporter);
    QCOMPARE(result.Outcome, TJobOutcome::Done);
    const QString staged = m_install->filePath(QStringLiteral("bak/Tovrel"));
    QCOMPARE(result.Produced, QStringList{staged});
    QCOMPARE(StagedExecutable(m_install->path()), staged);
    QCOMPARE(readFile(staged), published);
    QVERIFY(isExecutable(staged));
    // The progress ended at the whole size, as announced.
    QCOMPARE(reporter.Last(), std::make_pair(qint64(published.size()), qint64(published.size())));
    // Nothing else is left in the folder (no temporary file).
    QCOMPARE(QDir(m_install->filePath(QStringLiteral("bak"))).entryList(QDir::Files), QStringList{"Tovrel"});
}

void TestUpdate::badDownloadStagesNothing_data() {
    QTest::addColumn<TSimResponse>("reply");
    QTest::addColumn<QString>("reason");
    TSimResponse notFound{404, {{"Content-Type", "text/html"}}, elfBytes("an error page")};
    QTest::newRow("404") << notFound << "HTTP 404";
    TSimResponse loginPage = TSimResponse::Text(QStringLiteral("<html><body>请登录代理服务器</body></html>"));
    QTest::newRow("200 HTML") << loginPage << "no executable";
    TSimResponse shortTransfer{200, {{"Content-Length", "100000"}}, elfBytes("cut off")};
    shortTransfer.NoLength = true; // the announced length is the one above
    QTest::newRow("short transfer") << shortTransfer << "";
    TSimResponse empty{200, {}, QByteArray()};
    QTest::newRow("empty body") << empty << "no executable";
}

void TestUpdate::badDownloadStagesNothing() {
    QFETCH(TSimResponse, reply);
    QFETCH(QString, reason);
    m_env->Sim().Route(QStringLiteral("www.tovrel.example"), QStringLiteral("/Tovrel"), reply);
    // A good staged copy of an earlier download stays as it was.
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    const QString staged = m_install->filePath(QStringLiteral("bak/Tovrel"));
    writeFile(staged, elfBytes("earlier"));
    TRecordingReporter reporter;
    const TJobResult result = download(reporter);
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QCOMPARE(result.Summary, QStringLiteral("更新失败,请检查网络后重新更新！"));
    QVERIFY(result.Produced.isEmpty());
    QCOMPARE(readFile(staged), elfBytes("earlier"));
    QCOMPARE(QDir(m_install->filePath(QStringLiteral("bak"))).entryList(QDir::Files), QStringList{"Tovrel"});
    // The run log says why.
    const QStringList log = reporter.LogLines();
    QCOMPARE(log.size(), 1);
    QVERIFY2(log[0].startsWith(result.Summary) && log[0].contains(reason), qPrintable(log[0]));
}

namespace {

// Runs the update script for `exe` (waiting on process `pid`) in the executable's folder; the
// script's process, started.
std::unique_ptr<QProcess> startScript(const QString& exe, bool restartNow, qint64 pid,
                                      const QStringList& restartArguments = {}) {
    const QString dir = QFileInfo(exe).path();
    const QString script = QDir(dir).filePath(QStringLiteral("update.sh"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    file.write(UpdateScriptLines(TScriptKind::PosixShell, exe, restartNow, pid, restartArguments)
                   .join('\n')
                   .toUtf8() +
               '\n');
    file.close();
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(dir);
    process->start(QStringLiteral("/bin/sh"), {script});
    return process;
}

} // namespace

void TestUpdate::scriptReplacesExecutableAfterItsProcessEnds() {
#ifdef Q_OS_WIN
    QSKIP("the POSIX script runs on Linux");
#endif
    // A dummy "Tovrel" (a copy of sleep) runs for a while; the staged copy is another program.
    const QString exe = m_install->filePath(QStringLiteral("Tovrel"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), exe));
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    QVERIFY(QFile::copy(QStringLiteral("/bin/true"), m_install->filePath(QStringLiteral("bak/Tovrel"))));
    QProcess running;
    running.start(exe, {QStringLiteral("3")});
    QVERIFY(running.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProcess> script = startScript(exe, false, 0); // found by its executable alone
    QVERIFY(script && script->waitForStarted());
    // While the old program runs, the script waits and its file stays.
    QTest::qWait(1000);
    QCOMPARE(script->state(), QProcess::Running);
    QCOMPARE(readFile(exe), readFile(QStringLiteral("/bin/sleep")));
    QVERIFY(running.waitForFinished(10000));
    QVERIFY(script->waitForFinished(15000));
    QCOMPARE(script->exitCode(), 0);
    QVERIFY(clock.elapsed() >= 3000);
    QCOMPARE(readFile(exe), readFile(QStringLiteral("/bin/true")));
    QVERIFY(isExecutable(exe));
    // The script removed itself and left no temporary file; the replaced program runs.
    QCOMPARE(QDir(m_install->path()).entryList(QDir::Files), QStringList{"Tovrel"});
    QCOMPARE(QProcess::execute(exe, {}), 0);
}

void TestUpdate::scriptRestartsWhenAsked() {
#ifdef Q_OS_WIN
    QSKIP("the POSIX script runs on Linux");
#endif
    // The staged program leaves a mark beside itself with its arguments when it starts; the script
    // waits for the process it is given (here a sleep of another name).
    const QString exe = m_install->filePath(QStringLiteral("Tovrel"));
    writeFile(exe, "#!/bin/sh\necho old > \"$(dirname \"$0\")/ran\"\n");
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    writeFile(m_install->filePath(QStringLiteral("bak/Tovrel")),
              "#!/bin/sh\necho new \"$@\" > \"$(dirname \"$0\")/ran\"\n");
    QProcess owner;
    owner.start(QStringLiteral("/bin/sleep"), {QStringLiteral("2")});
    QVERIFY(owner.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProcess> script =
        startScript(exe, true, owner.processId(), {"--workdir", "/srv/my shop's"});
    QVERIFY(script && script->waitForStarted());
    QVERIFY(script->waitForFinished(15000));
    // It waited for the owner's end (which this test has not yet reaped: a zombie counts as ended).
    QVERIFY(clock.elapsed() >= 1900);
    QVERIFY(owner.waitForFinished(1000));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(m_install->filePath(QStringLiteral("ran"))),
                              QByteArray("new --workdir /srv/my shop's\n"), 10000);
    QVERIFY(!QFile::exists(m_install->filePath(QStringLiteral("update.sh"))));
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "test_update.moc"
