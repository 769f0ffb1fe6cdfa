#include "app/appcore.h"
#include "config/servicevalues.h"
#include "update/update.h"

#include "testenv.h"
#include "testfiles.h"
#include "testpublisher.h"

#include <QCryptographicHash>
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

const QString FakeVersion = FakeProgramVersion;

QByteArray fakeProgram() {
    return FakeProgram();
}

// An ELF program with another class or machine in its header.
QByteArray withHeaderByte(QByteArray bytes, int at, char value) {
    bytes[at] = value;
    return bytes;
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
    void signatureFileFormat();
    void executableChecks_data();
    void executableChecks();
    void signedDownloadIsStaged();
    void badDownloadStagesNothing_data();
    void badDownloadStagesNothing();
    void noKeyNoUpdate();
    void linksInTheWayAreNotFollowed();
    void scriptReplacesExecutableAfterItsProcessEnds();
    void scriptRestartsWhenAsked();
    void scriptPutsTheOldProgramBackWhenTheNewOneDoesNotStart();
    void signedUpdateFromDownloadToPlace();
    void commandLineIsUpdatedWithTheWindow_data();
    void commandLineIsUpdatedWithTheWindow();
    void scriptPutsBothProgramsInPlace();

  private:
    TJobResult download(TRecordingReporter& reporter);
    // Publishes `program` at /Tovrel with its signature at /Tovrel.sig (or at /NAME and /NAME.sig).
    void publish(const QByteArray& program, const QByteArray& signature, const QString& name = "Tovrel");
    TTestPublisher m_publisher;
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
    QTest::newRow("no running version") << "1.0.0.0"
                                        << "" << true;
    QTest::newRow("leading zero differs") << "1.0.0.01"
                                          << "1.0.0.1" << true;
    QTest::newRow("two numbers") << "2.1"
                                 << "1.0.0.1" << true;
    // Only a version is offered: anything else in the published value offers nothing.
    QTest::newRow("empty published") << ""
                                     << "1.0.0.0" << false;
    QTest::newRow("markup") << "<b>2.0</b><img src=\"file:///etc/x.png\">"
                            << "1.0.0.0" << false;
    QTest::newRow("words after it") << "1.0.0.2 立即下载"
                                    << "1.0.0.0" << false;
    QTest::newRow("five numbers") << "1.0.0.0.1"
                                  << "1.0.0.0" << false;
    QTest::newRow("a number too long") << "1.0.0.123456"
                                       << "1.0.0.0" << false;
    QTest::newRow("blank around it") << " 1.0.0.2"
                                     << "1.0.0.0" << false;
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
    QVERIFY(!core.UpdateOffered());
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
    // The command line staged with it is copied the same way, before the restart.
    const QStringList both = UpdateScriptLines(TScriptKind::WindowsBatch, exe, true, 0, {},
                                               {QStringLiteral("C:/app/tovrel-cli.exe")});
    QCOMPARE(both.size(), 15);
    QCOMPARE(both.mid(0, 7), now.mid(0, 7));
    QCOMPARE(both[7], QStringLiteral(":try2"));
    QVERIFY(both[11].startsWith(QStringLiteral("copy \".\\bak\\tovrel-cli.exe\"")));
    QCOMPARE(both[12].section(' ', -2), QStringLiteral("goto loop2"));
    QCOMPARE(both[13], now[7]);
    QCOMPARE(both[14], QStringLiteral("del %0"));
}

void TestUpdate::posixScriptLines() {
    const QString exe = QStringLiteral("/opt/tovrel's/Tovrel");
    const QStringList later = UpdateScriptLines(TScriptKind::PosixShell, exe, false, 4242);
    const QStringList expected = {
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("# Puts the new Tovrel in place once the old one no longer runs, keeping the old one"),
        QStringLiteral("# and putting it back when the new one does not start; then removes itself."),
        QStringLiteral("exe='/opt/tovrel'\\''s/Tovrel'"),
        QStringLiteral("staged='/opt/tovrel'\\''s/bak/Tovrel'"),
        QStringLiteral("old='/opt/tovrel'\\''s/bak/Tovrel.old'"),
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
        QStringLiteral("# Copies a program over the executable through a temporary name and a rename."),
        QStringLiteral("put() {"),
        QStringLiteral("    rm -f \"$exe.new\" && cp \"$1\" \"$exe.new\" && chmod 755 \"$exe.new\" && mv -f "
                       "\"$exe.new\" \"$exe\""),
        QStringLiteral("}"),
        QStringLiteral("while running; do sleep 1; done"),
        QStringLiteral("rm -f \"$old\""),
        QStringLiteral("if ! cp \"$exe\" \"$old\"; then rm -f \"$0\"; exit 1; fi"),
        QStringLiteral("tries=0"),
        QStringLiteral("until put \"$staged\"; do"),
        QStringLiteral("    tries=$((tries + 1))"),
        QStringLiteral("    if [ \"$tries\" -ge 60 ]; then rm -f \"$exe.new\" \"$0\"; exit 1; fi"),
        QStringLiteral("    sleep 1"),
        QStringLiteral("done"),
        QStringLiteral("if ! timeout 30 \"$exe\" --version >/dev/null 2>&1; then"),
        QStringLiteral("    put \"$old\" || { sleep 1; put \"$old\"; }"),
        QStringLiteral("fi"),
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
    const TJobContext job(
        m_stop, reporter, [] { return TChoices(); }, TServiceValues::Snapshot());
    return DownloadUpdate(job, m_install->path(), TUpdateTrust{m_publisher.PublicKey(), FakeVersion});
}

void TestUpdate::publish(const QByteArray& program, const QByteArray& signature, const QString& name) {
    m_env->Sim().Route(QStringLiteral("www.tovrel.example"), "/" + name,
                       TSimResponse{200, {{"Content-Type", "application/octet-stream"}}, program});
    m_env->Sim().Route(QStringLiteral("www.tovrel.example"), "/" + name + ".sig",
                       TSimResponse{200, {{"Content-Type", "text/plain"}}, signature});
}

void TestUpdate::signatureFileFormat() {
    QVERIFY2(m_publisher.PublicKey().size() == 32, "the publisher's script made no key (is openssl there?)");
    const QByteArray program = fakeProgram();
    const QByteArray signature = m_publisher.Sign(program, FakeVersion);
    // The lines the signature covers, as documented.
    TUpdateManifest expected;
    expected.File = QStringLiteral("Tovrel");
    expected.Version = FakeVersion;
    expected.Length = program.size();
    expected.Sha256 = QCryptographicHash::hash(program, QCryptographicHash::Sha256);
    QVERIFY(signature.startsWith(ManifestText(expected) + "signature "));
    const TResult<TUpdateManifest> read = ReadSignedManifest(signature, m_publisher.PublicKey());
    QVERIFY2(read.ok(), read.ok() ? "" : qPrintable(read.error().Detail));
    QCOMPARE(read->File, expected.File);
    QCOMPARE(read->Version, expected.Version);
    QCOMPARE(read->Length, expected.Length);
    QCOMPARE(read->Sha256, expected.Sha256);
    // Any change to a signed line, or another key, and it is refused.
    QByteArray longer = signature;
    longer.replace("length " + QByteArray::number(program.size()),
                   "length " + QByteArray::number(program.size() + 1));
    QVERIFY(!ReadSignedManifest(longer, m_publisher.PublicKey()).ok());
    QByteArray otherVersion = signature;
    otherVersion.replace("version 9.8.7.6", "version 9.8.7.7");
    QVERIFY(!ReadSignedManifest(otherVersion, m_publisher.PublicKey()).ok());
    TTestPublisher other;
    QVERIFY(!ReadSignedManifest(signature, other.PublicKey()).ok());
    QVERIFY(!ReadSignedManifest(signature, QByteArray()).ok());
    QVERIFY(!ReadSignedManifest(ManifestText(expected), m_publisher.PublicKey()).ok());
    // The build carries a key of the right size.
    QCOMPARE(BuiltInUpdateKey().size(), 32);
}

void TestUpdate::executableChecks_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    const QByteArray program = fakeProgram();
    QTest::newRow("a program of this build") << program << true;
    QTest::newRow("AArch64") << withHeaderByte(program, 18, char(183)) << false;
    QTest::newRow("32-bit") << withHeaderByte(program, 4, 1) << false;
    QTest::newRow("big-endian") << withHeaderByte(program, 5, 2) << false;
    QTest::newRow("an object file, not a program") << withHeaderByte(program, 16, 1) << false;
    QTest::newRow("the four ELF bytes and nothing else") << QByteArray("\x7F"
                                                                       "ELF")
                                                         << false;
    QTest::newRow("a web page") << QByteArray("<html>login</html>") << false;
    QTest::newRow("a Windows program") << QByteArray("MZ") + QByteArray(200, '\0') << false;
}

void TestUpdate::executableChecks() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    QCOMPARE(CheckExecutable(bytes).ok(), accepted);
}

void TestUpdate::signedDownloadIsStaged() {
    const QByteArray program = fakeProgram();
    publish(program, m_publisher.Sign(program, FakeVersion));
    // A staged copy of an earlier run is replaced whole.
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    writeFile(m_install->filePath(QStringLiteral("bak/Tovrel")), "old staged copy");
    TRecordingReporter reporter;
    const TJobResult result = download(reporter);
    QVERIFY2(result.Outcome == TJobOutcome::Done, qPrintable(reporter.LogLines().join('\n')));
    const QString staged = m_install->filePath(QStringLiteral("bak/Tovrel"));
    QCOMPARE(result.Produced, QStringList{staged});
    QCOMPARE(StagedExecutable(m_install->path()), staged);
    QCOMPARE(readFile(staged), program);
    QVERIFY(isExecutable(staged));
    // The progress ended at the whole size, as announced.
    QCOMPARE(reporter.Last(), std::make_pair(qint64(program.size()), qint64(program.size())));
    // Nothing else is left in the folder (no temporary or trial file).
    QCOMPARE(QDir(m_install->filePath(QStringLiteral("bak"))).entryList(QDir::Files), QStringList{"Tovrel"});
}

void TestUpdate::badDownloadStagesNothing_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no signature") << "no signature"
                                  << "签名文件无法下载";
    QTest::newRow("signed with another key") << "other key"
                                             << "签名不是发布者的";
    QTest::newRow("a damaged signature file") << "damaged signature"
                                              << "格式无法识别";
    QTest::newRow("signed for another version") << "other version"
                                                << "不是要更新的版本 9.8.7.6";
    QTest::newRow("signed for another file") << "other file"
                                             << "签名是为文件 Tovrel.exe";
    QTest::newRow("a byte changed on the way") << "changed byte"
                                               << "摘要与签名不符";
    QTest::newRow("signed, but for AArch64") << "aarch64"
                                             << "处理器";
    QTest::newRow("signed, but a web page") << "web page"
                                            << "不是 Linux 程序";
    QTest::newRow("truncated") << "truncated"
                               << "签名的长度是";
    QTest::newRow("a Content-Length shorter than the body") << "short length"
                                                            << "服务器告知 10 字节";
    QTest::newRow("no Content-Length") << "no length"
                                       << "没有告知文件的长度";
    QTest::newRow("an error status") << "404"
                                     << "HTTP 404";
    QTest::newRow("a program that does not start") << "does not start"
                                                   << "新版本启动失败";
    QTest::newRow("a program of another version") << "other program"
                                                  << "新版本报告的版本不是 9.8.7.6";
}

void TestUpdate::badDownloadStagesNothing() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QByteArray program = fakeProgram();
    const QByteArray signature = m_publisher.Sign(program, FakeVersion);
    TSimResponse served{200, {{"Content-Type", "application/octet-stream"}}, program};
    QByteArray servedSignature = signature;
    if (kind == "no signature") {
        servedSignature.clear();
    } else if (kind == "other key") {
        TTestPublisher other;
        servedSignature = other.Sign(program, FakeVersion);
    } else if (kind == "damaged signature") {
        servedSignature = "<html>404</html>";
    } else if (kind == "other version") {
        servedSignature = m_publisher.Sign(program, "9.8.7.5");
    } else if (kind == "other file") {
        servedSignature = m_publisher.Sign(program, FakeVersion, "Tovrel.exe");
    } else if (kind == "changed byte") {
        served.Body[served.Body.size() / 2] = char(served.Body[served.Body.size() / 2] ^ 1);
    } else if (kind == "aarch64") {
        served.Body = withHeaderByte(program, 18, char(183));
        servedSignature = m_publisher.Sign(served.Body, FakeVersion);
    } else if (kind == "web page") {
        served.Body = "<html><body>请登录代理服务器</body></html>";
        servedSignature = m_publisher.Sign(served.Body, FakeVersion);
    } else if (kind == "truncated") {
        served.Body = program.left(program.size() / 2);
    } else if (kind == "short length") {
        served.Headers.append(std::pair<QByteArray, QByteArray>("Content-Length", "10"));
        served.NoLength = true; // the header above is the only length sent
    } else if (kind == "no length") {
        served.NoLength = true;
    } else if (kind == "404") {
        served.Status = 404;
    } else if (kind == "does not start") {
        served.Body = readFile(QStringLiteral("/bin/false"));
        servedSignature = m_publisher.Sign(served.Body, FakeVersion);
    } else if (kind == "other program") {
        served.Body = readFile(QStringLiteral("/bin/echo"));
        servedSignature = m_publisher.Sign(served.Body, FakeVersion);
    }
    m_env->Sim().Route(QStringLiteral("www.tovrel.example"), QStringLiteral("/Tovrel"), served);
    if (!servedSignature.isEmpty())
        m_env->Sim().Route(QStringLiteral("www.tovrel.example"), QStringLiteral("/Tovrel.sig"),
                           TSimResponse{200, {}, servedSignature});
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
    // Without the publisher's word not even the program is asked for.
    if (kind == "no signature" || kind == "other key" || kind == "damaged signature")
        QCOMPARE(m_env->Sim().Count(QStringLiteral("www.tovrel.example"), QStringLiteral("/Tovrel")), 0);
}

void TestUpdate::noKeyNoUpdate() {
    const QByteArray program = fakeProgram();
    publish(program, m_publisher.Sign(program, FakeVersion));
    TRecordingReporter reporter;
    const TJobContext job(
        m_stop, reporter, [] { return TChoices(); }, TServiceValues::Snapshot());
    const TJobResult result = DownloadUpdate(job, m_install->path(), TUpdateTrust{QByteArray(), FakeVersion});
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QVERIFY(reporter.LogLines().value(0).contains("公钥"));
    QCOMPARE(m_env->Sim().Requests().size(), 0);
    QVERIFY(!QFile::exists(m_install->filePath(QStringLiteral("bak/Tovrel"))));
}

void TestUpdate::linksInTheWayAreNotFollowed() {
    // Files of the seller's that links planted in the program's folder point at.
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("precious"));
    writeFile(victim, "the seller's file");
    const QString otherFolder = elsewhere.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(otherFolder));
    const QByteArray program = fakeProgram();
    publish(program, m_publisher.Sign(program, FakeVersion));

    // bak/Tovrel is a link to the file.
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    const QString staged = m_install->filePath(QStringLiteral("bak/Tovrel"));
    QVERIFY(QFile::link(victim, staged));
    TRecordingReporter reporter;
    QCOMPARE(download(reporter).Outcome, TJobOutcome::Done);
    QCOMPARE(readFile(victim), QByteArray("the seller's file"));
    QVERIFY(!QFileInfo(staged).isSymLink());
    QCOMPARE(readFile(staged), program);

    // bak is a link to another folder.
    QVERIFY(QDir(m_install->filePath(QStringLiteral("bak"))).removeRecursively());
    QVERIFY(QFile::link(otherFolder, m_install->filePath(QStringLiteral("bak"))));
    QCOMPARE(download(reporter).Outcome, TJobOutcome::Done);
    QVERIFY(QDir(otherFolder).isEmpty());
    QVERIFY(!QFileInfo(m_install->filePath(QStringLiteral("bak"))).isSymLink());
    QCOMPARE(readFile(staged), program);

    // update.sh is a link to the file. The script started waits for this test's process, then
    // finds no program to replace in a folder that is gone by then.
    const QString script = m_install->filePath(UpdateScriptName());
    QVERIFY(QFile::link(victim, script));
    QVERIFY(WriteUpdateScript(m_install->path(), false).ok());
    QCOMPARE(readFile(victim), QByteArray("the seller's file"));
    QVERIFY(!QFileInfo(script).isSymLink());
    QVERIFY(readFile(script).startsWith("#!/bin/sh\n"));
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

void TestUpdate::scriptPutsTheOldProgramBackWhenTheNewOneDoesNotStart() {
#ifdef Q_OS_WIN
    QSKIP("the POSIX script runs on Linux");
#endif
    // The old program starts; the staged one cannot (it fails even when asked its version).
    const QString exe = m_install->filePath(QStringLiteral("Tovrel"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/true"), exe));
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    writeFile(m_install->filePath(QStringLiteral("bak/Tovrel")), "#!/bin/sh\nexit 1\n");
    std::unique_ptr<QProcess> script = startScript(exe, false, 0);
    QVERIFY(script && script->waitForStarted());
    QVERIFY(script->waitForFinished(30000));
    QCOMPARE(readFile(exe), readFile(QStringLiteral("/bin/true")));
    QVERIFY(isExecutable(exe));
    QCOMPARE(readFile(PreviousExecutable(m_install->path())), readFile(QStringLiteral("/bin/true")));
    QCOMPARE(QDir(m_install->path()).entryList(QDir::Files), QStringList{"Tovrel"});
}

void TestUpdate::signedUpdateFromDownloadToPlace() {
#ifdef Q_OS_WIN
    QSKIP("the POSIX script runs on Linux");
#endif
    // The installed program; the signed new one downloaded and staged; then the script.
    const QString exe = m_install->filePath(QStringLiteral("Tovrel"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/true"), exe));
    const QByteArray program = fakeProgram();
    publish(program, m_publisher.Sign(program, FakeVersion));
    TRecordingReporter reporter;
    QCOMPARE(download(reporter).Outcome, TJobOutcome::Done);
    std::unique_ptr<QProcess> script = startScript(exe, false, 0);
    QVERIFY(script && script->waitForStarted());
    QVERIFY(script->waitForFinished(30000));
    QCOMPARE(script->exitCode(), 0);
    QCOMPARE(readFile(exe), program);
    QCOMPARE(readFile(PreviousExecutable(m_install->path())), readFile(QStringLiteral("/bin/true")));
    QProcess version;
    version.start(exe, {QStringLiteral("--version")});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.readAllStandardOutput(), QByteArray("Tovrel 9.8.7.6\n"));
}

void TestUpdate::commandLineIsUpdatedWithTheWindow_data() {
    QTest::addColumn<QString>("published"); // what the publisher has for tovrel-cli
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("logged");
    QTest::newRow("signed with the window program") << "signed" << true << "";
    QTest::newRow("not published (404): the window alone")
        << "nothing" << true << "发布者没有发布 tovrel-cli 的新版本，它保持原来的版本";
    QTest::newRow("signed for another version: neither")
        << "other version" << false << "tovrel-cli：签名是为版本 9.8.7.5 的";
    QTest::newRow("a signature for the window program's file: neither")
        << "window's signature" << false << "tovrel-cli：签名是为文件 Tovrel 的";
    QTest::newRow("a program that does not start: neither")
        << "does not start" << false << "tovrel-cli：新版本启动失败";
}

void TestUpdate::commandLineIsUpdatedWithTheWindow() {
    QFETCH(QString, published);
    QFETCH(bool, done);
    QFETCH(QString, logged);
    // The installed copy has both programs; a copy of tovrel-cli staged by an earlier update waits
    // in bak/.
    writeFile(m_install->filePath(QStringLiteral("tovrel-cli")), elfBytes("installed command line"));
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    const QString cliStaged = m_install->filePath(QStringLiteral("bak/tovrel-cli"));
    writeFile(cliStaged, elfBytes("earlier"));
    const QByteArray program = fakeProgram();
    publish(program, m_publisher.Sign(program, FakeVersion));
    if (published == "signed")
        publish(program, m_publisher.Sign(program, FakeVersion, "tovrel-cli"), "tovrel-cli");
    else if (published == "other version")
        publish(program, m_publisher.Sign(program, "9.8.7.5", "tovrel-cli"), "tovrel-cli");
    else if (published == "window's signature")
        publish(program, m_publisher.Sign(program, FakeVersion), "tovrel-cli");
    else if (published == "does not start") {
        const QByteArray failing = readFile(QStringLiteral("/bin/false"));
        publish(failing, m_publisher.Sign(failing, FakeVersion, "tovrel-cli"), "tovrel-cli");
    }
    TRecordingReporter reporter;
    const TJobResult result = download(reporter);
    const QString windowStaged = m_install->filePath(QStringLiteral("bak/Tovrel"));
    QCOMPARE(result.Outcome, done ? TJobOutcome::Done : TJobOutcome::Failed);
    if (logged.isEmpty())
        QVERIFY2(reporter.LogLines().isEmpty(), qPrintable(reporter.LogLines().join('\n')));
    else
        QVERIFY2(reporter.LogLines().value(0).contains(logged), qPrintable(reporter.LogLines().join('\n')));
    if (published == "signed") {
        QCOMPARE(result.Produced, (QStringList{windowStaged, cliStaged}));
        QCOMPARE(readFile(cliStaged), program);
        QVERIFY(isExecutable(cliStaged));
    } else if (done) {
        // The window program alone; the earlier staged command line is not put in place with it.
        QCOMPARE(result.Produced, QStringList{windowStaged});
        QVERIFY(!QFileInfo::exists(cliStaged));
    } else {
        // Neither: nothing staged, and no trial copy left behind.
        QVERIFY(result.Produced.isEmpty());
        QVERIFY(!QFileInfo::exists(windowStaged));
        QCOMPARE(readFile(cliStaged), elfBytes("earlier"));
        QCOMPARE(QDir(m_install->filePath(QStringLiteral("bak"))).entryList(QDir::Files),
                 QStringList{"tovrel-cli"});
    }
    // The installed programs are untouched until the script runs.
    QCOMPARE(readFile(m_install->filePath(QStringLiteral("tovrel-cli"))), elfBytes("installed command line"));
}

void TestUpdate::scriptPutsBothProgramsInPlace() {
#ifdef Q_OS_WIN
    QSKIP("the POSIX script runs on Linux");
#endif
    // Both installed programs start; both staged ones are new; the command line still runs for a
    // moment (as `tovrel-cli update` does while it starts the script).
    const QString exe = m_install->filePath(QStringLiteral("Tovrel"));
    const QString cli = m_install->filePath(QStringLiteral("tovrel-cli"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/true"), exe));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), cli));
    QVERIFY(QDir(m_install->path()).mkpath(QStringLiteral("bak")));
    const QByteArray program = fakeProgram();
    writeFile(m_install->filePath(QStringLiteral("bak/Tovrel")), program);
    writeFile(m_install->filePath(QStringLiteral("bak/tovrel-cli")), program);
    QProcess running;
    running.start(cli, {QStringLiteral("2")});
    QVERIFY(running.waitForStarted());
    const QString script = m_install->filePath(QStringLiteral("update.sh"));
    writeFile(script,
              UpdateScriptLines(TScriptKind::PosixShell, exe, false, 0, {}, {cli}).join('\n').toUtf8() +
                  '\n');
    QProcess process;
    process.setWorkingDirectory(m_install->path());
    process.start(QStringLiteral("/bin/sh"), {script});
    QVERIFY(process.waitForStarted());
    // The window program is put in place at once; the command line once it no longer runs.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(exe), program, 10000);
    QCOMPARE(readFile(cli), readFile(QStringLiteral("/bin/sleep")));
    QVERIFY(running.waitForFinished(10000));
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(readFile(cli), program);
    QVERIFY(isExecutable(cli));
    QCOMPARE(readFile(m_install->filePath(QStringLiteral("bak/tovrel-cli.old"))),
             readFile(QStringLiteral("/bin/sleep")));
    QCOMPARE(QDir(m_install->path()).entryList(QDir::Files), (QStringList{"Tovrel", "tovrel-cli"}));
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "test_update.moc"
