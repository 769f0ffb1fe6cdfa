#include "app/appcore.h"
#include "cli/clicommand.h"
#include "cli/clicommands.h"
#include "exportedcsv.h"
#include "marketsim.h"
#include "platform/paths.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "taobaopages.h"
#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TRun {
    int status;
    QString out;
    QString err;
};

// The real tovrel-cli on one working folder, through a proxy when one is given.
struct TCliBinary {
    QString workDir;
    QString proxy;
    QString executable = QStringLiteral(TOVREL_CLI_PATH);

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!proxy.isEmpty())
            env.insert("http_proxy", proxy);
        env.remove("no_proxy");
        env.remove("NO_PROXY");
        return env;
    }
    void start(QProcess& p, const QStringList& args) const {
        p.setProcessEnvironment(environment());
        p.start(executable, QStringList{"--workdir", workDir} + args);
    }
    // What it printed (standard output, then standard error), or why not when it timed out or
    // ended with another status than `expected`.
    QString operator()(const QStringList& args, int expected = 0) const {
        QProcess p;
        start(p, args);
        if (!p.waitForFinished(60000))
            return QString("timeout");
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (p.exitCode() != expected)
            return QString("exit %1: %2").arg(p.exitCode()).arg(err);
        return QString::fromUtf8(p.readAllStandardOutput()) + err;
    }
};

TRun run(const QStringList& args) {
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int status = RunCli(args, outStream, errStream);
    outStream.flush();
    errStream.flush();
    return {status, out, err};
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void usageErrors_data();
    void usageErrors();
    void versionAndHelp();
    void failures_data();
    void failures();
    void emptyTable();
    void realBinaryInEmptyFolder();
    void fetch();
    void searchThroughProxyAcrossRuns();
    void titleOutsideTheCodePageAcrossRuns();
    void oneProcessPerFolder();
    void programFolderNamedInAnotherEncoding();
    void manPageNamesEveryCommandAndOption();
    void installedCopyLeavesUpdatesToThePackageManager();
    void workFolderRule_data();
    void workFolderRule();
    void controlCharactersAreShownEscaped();
    void editsReachThePackage();
    void manyLinksAtOnce();
    void linksTheListCanReadBack();
    void commandsWriteOnlyWhatChanged();
    void linkCommandsLeaveTheTableUnread_data();
    void linkCommandsLeaveTheTableUnread();
    void terminationKeepsFinishedRows_data();
    void terminationKeepsFinishedRows();
    void updateRefusesWhatThePublisherDidNotSign();
    void updateInPlaceIsNoLongerOffered();
};

void TestCli::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("only a working folder") << QStringList{"--workdir", "/tmp"};
    QTest::newRow("--workdir without a folder") << QStringList{"--workdir"};
    QTest::newRow("unknown command") << QStringList{"frobnicate"};
    QTest::newRow("unknown option") << QStringList{"--colour", "table"};
    QTest::newRow("table with a stray argument") << QStringList{"table", "--xml"};
    QTest::newRow("select without all") << QStringList{"select"};
    QTest::newRow("invert with an argument") << QStringList{"invert", "1"};
    QTest::newRow("toggle without rows") << QStringList{"toggle"};
    QTest::newRow("toggle with a word") << QStringList{"toggle", "1", "two"};
    QTest::newRow("delete with two rows") << QStringList{"delete", "1", "2"};
    QTest::newRow("fetch without an address") << QStringList{"fetch", "HGetText"};
    QTest::newRow("fetch with an unknown profile") << QStringList{"fetch", "HGetEverything", "http://a/"};
    QTest::newRow("fetch -o without a file") << QStringList{"fetch", "HOpen", "http://a/", "-o"};
    QTest::newRow("an empty working folder") << QStringList{"--workdir", "", "table"};
    QTest::newRow("export to an empty folder name") << QStringList{"export", ""};
    QTest::newRow("pictures to a blank folder name") << QStringList{"pictures", " "};
    QTest::newRow("add an empty link") << QStringList{"add", ""};
    QTest::newRow("add an empty link among others") << QStringList{"add", "http://a/", " "};
    QTest::newRow("add - with links") << QStringList{"add", "-", "http://a/"};
    QTest::newRow("a price factor of 0") << QStringList{"export", "/tmp", "--price-factor", "0"};
    QTest::newRow("a price factor that reckons as 0")
        << QStringList{"export", "/tmp", "--price-factor", "0.0000004"};
    QTest::newRow("a price factor that is no number") << QStringList{"export", "/tmp", "--price-factor", "x"};
    QTest::newRow("a price amount beyond its range") << QStringList{"export", "/tmp", "--price-add", "1e9"};
    QTest::newRow("--price-add without a value") << QStringList{"export", "/tmp", "--price-add"};
    QTest::newRow("export with an unknown option") << QStringList{"export", "/tmp", "--colour"};
    QTest::newRow("a program option after the command") << QStringList{"table", "--workdir", "/tmp"};
    QTest::newRow("edit without its item number") << QStringList{"edit", "--title", "x"};
}

void TestCli::usageErrors() {
    QFETCH(QStringList, args);
    const TRun r = run(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("用法: tovrel-cli")));
    QVERIFY(r.out.isEmpty());
}

void TestCli::versionAndHelp() {
    TRun r = run({"--version"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, "tovrel-cli " + TAppCore::FileVersionText() + "\n");
    r = run({"--help"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith(
        "用法: tovrel-cli [--workdir DIR] COMMAND [ARGS]\n      tovrel-cli --help | --version\n"));
    // A command's own usage, without loading anything.
    r = run({"--workdir", "/nonexistent/tovrel", "export", "--help"});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.startsWith("用法: tovrel-cli [--workdir DIR] export DIR [--no-main-pictures]"),
             qPrintable(r.out));
}

void TestCli::failures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("a working folder that does not exist")
        << QStringList{"--workdir", "/nonexistent/tovrel", "table"} << "工作文件夹不存在";
    QTest::newRow("delete a row of an empty table") << QStringList{"delete", "1"} << "第 1 行不存在";
    QTest::newRow("toggle the caption row") << QStringList{"toggle", "0"} << "第 0 行不存在";
    // A value that starts with a dash is the option's value, and a negative number an argument.
    QTest::newRow("a title that starts with a dash")
        << QStringList{"edit", "1", "--title", "-5"} << "表格中有 0 个宝贝";
    QTest::newRow("a negative item number") << QStringList{"edit", "-1"} << "表格中有 0 个宝贝";
    QTest::newRow("a negative amount added")
        << QStringList{"export", "/nonexistent/tovrel", "--price-add", "-5"} << "文件夹不存在";
}

void TestCli::failures() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    if (args.first() != u"--workdir")
        args = QStringList{"--workdir", dir.path()} + args;
    const TRun r = run(args);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
}

void TestCli::emptyTable() {
    QTemporaryDir dir;
    TRun r = run({"--workdir", dir.path(), "table"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QString());
    r = run({"--workdir", dir.path(), "select", "all"});
    QCOMPARE(r.status, 0);
    r = run({"--help"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith(QStringLiteral("用法: tovrel-cli")));
}

void TestCli::realBinaryInEmptyFolder() {
    QTemporaryDir dir;
    QProcess cli;
    cli.start(QStringLiteral(TOVREL_CLI_PATH), {"--workdir", dir.path(), "table", "--json"});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    const QJsonDocument doc = QJsonDocument::fromJson(cli.readAllStandardOutput());
    QVERIFY(doc.isArray());
    const QJsonArray rows = doc.array();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].toArray().size(), 12);
    QCOMPARE(rows[0].toArray()[2].toString(), QStringLiteral("商品名称"));

    cli.start(QStringLiteral(TOVREL_CLI_PATH), {"--workdir", dir.path(), "delete"});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 2);
}

void TestCli::fetch() {
    for (const char* name : {"http_proxy", "HTTP_PROXY"})
        qunsetenv(name);
    TMarketSim sim;
    sim.Route("*", "/page", TSimResponse::Text("<title>宝贝</title>", "GBK"));
    TSimResponse picture;
    picture.Body = QByteArray("\xFF\xD8\x00\x01", 4);
    sim.Route("*", "/a.jpg", picture);
    QTemporaryDir dir;

    TRun r = run({"--workdir", dir.path(), "fetch", "hgettext", sim.Origin() + "/page"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, "<title>宝贝</title>\n");

    const QString file = dir.filePath("a.jpg");
    r = run({"--workdir", dir.path(), "fetch", "HOpen", sim.Origin() + "/a.jpg", "-o", file});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, "4 字节\n");
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), picture.Body);

    r = run({"--workdir", dir.path(), "fetch", "HGetTextLib", "http://127.0.0.1:1/"});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains("http://127.0.0.1:1/ 没有回应：无法连接到服务器"), qPrintable(r.err));
}

void TestCli::searchThroughProxyAcrossRuns() {
    // Each command is a run of its own: the state lives in the working folder's files.
    TMarketSim sim;
    for (const QString id : {"1", "2"}) {
        const QString title = id == u"1" ? "男装夹克" : "女装连衣裙";
        sim.Route("item.taobao.com", "/item.htm?id=" + id,
                  TSimResponse::Text(itemPage(id, title, {"品牌:李宁"}), "GBK"));
        sim.Route("detailskip.taobao.com",
                  "/json/postageFee.htm?itemId=" + id + "&al=false&ap=false&ss=false&free=true",
                  TSimResponse::Text(postageReply("浙江杭州"), "GBK"));
        sim.Route(DescriptionHost, descriptionPath(id),
                  TSimResponse::Text(descriptionReply("<p>描述</p>"), "GBK"));
    }
    QTemporaryDir dir;
    const TCliBinary cli{dir.path(), sim.Origin()};
    QCOMPARE(cli({"source", "taobao"}), QString());
    QCOMPARE(cli({"watermark-text", " 小店 "}), QString());
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=1"}), QString());
    QCOMPARE(cli({"add", "  http://item.taobao.com/item.htm?id=2\n"}), QString());
    QVERIFY(cli({"add", "HTTP://ITEM.TAOBAO.COM/item.htm?id=1"}, 1).contains("这个连接已经添加过了！"));
    QCOMPARE(cli({"list"}),
             "1\thttp://item.taobao.com/item.htm?id=1\n2\thttp://item.taobao.com/item.htm?id=2\n");
    // The earlier runs saved a table of captions only, which comes back as just that: the found
    // items are items 1 and 2.
    const QString search = cli({"search"});
    // A line per link with the count the window's status bar shows, then what came of it.
    QVERIFY2(search.contains("搜索 1/2 http://item.taobao.com/item.htm?id=1\n") &&
                 search.contains("搜索 2/2 http://item.taobao.com/item.htm?id=2\n") &&
                 search.contains("完成：2 个宝贝\n") && search.contains("表格中共有 2 个宝贝，新增 2 个"),
             qPrintable(search));
    QCOMPARE(cli({"table"}), "1\t[x]\t男装夹克\t128.00\t浙江杭州-北京;快递10.00;3天\n"
                             "2\t[x]\t女装连衣裙\t128.00\t浙江杭州-北京;快递10.00;3天\n");
    const QJsonArray rows = QJsonDocument::fromJson(cli({"table", "--json"}).toUtf8()).array();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[1].toArray()[ColWatermark].toString(), "小店");
    QCOMPARE(rows[0].toArray()[12].toString(), "品牌");
    // The export writes a package of 3 + 2 lines of 60 tab-separated fields and prints its path.
    QVERIFY(QDir(dir.path()).mkdir("out"));
    const QString exported = cli({"export", dir.filePath("out"), "--no-main-pictures", "--no-props"});
    const QString csvPath = exported.section('\n', 0, 0);
    QVERIFY2(csvPath.startsWith(dir.filePath("out/KVR_")) && csvPath.endsWith(".csv"), qPrintable(exported));
    QVERIFY(exported.contains("★★★已经全部下载完毕★★★"));
    QVERIFY(readFile(csvPath).startsWith("\xFF\xFE"));
    const TExportedCsv csv = TExportedCsv::Read(csvPath);
    QCOMPARE(csv.lines.size(), 6);
    QCOMPARE(csv.lines[0], "version 1.00");
    for (int i = 1; i < 5; ++i)
        QCOMPARE(csv.lines[i].split('\t').size(), 60);
    QCOMPARE(csv.Field(0, "title"), "\"男装夹克\"");
    QCOMPARE(csv.lines[5], "");
    QVERIFY(cli({"export", dir.filePath("nowhere")}, 1).contains("文件夹不存在"));
    QCOMPARE(cli({"toggle", "2"}), QString());
    QCOMPARE(cli({"delete", "1"}), QString());
    QCOMPARE(cli({"table"}), "1\t[ ]\t女装连衣裙\t128.00\t浙江杭州-北京;快递10.00;3天\n");
    // A change of source empties list and table, and they stay empty across runs.
    QCOMPARE(cli({"source", "paipai"}), QString());
    QCOMPARE(cli({"table"}), QString());
    QCOMPARE(cli({"list"}), QString());
    // An emptied list stays empty.
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=1"}), QString());
    QCOMPARE(cli({"clear"}), QString());
    QCOMPARE(cli({"list"}), QString());
}

void TestCli::titleOutsideTheCodePageAcrossRuns() {
    const QString title = QString::fromUtf16(u"防水包\U0001F392\u00A0ß ₩");
    TMarketSim sim;
    sim.Route("item.taobao.com", "/item.htm?id=7", TSimResponse::Text(itemPage("7", title, {}), "UTF-8"));
    QTemporaryDir dir;
    const TCliBinary cli{dir.path(), sim.Origin()};
    QCOMPARE(cli({"table"}), QString());
    QCOMPARE(cli({"table"}), QString()); // still no row after a run that saved nothing
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=7"}), QString());
    QVERIFY(cli({"search"}).contains("新增 1 个"));
    QCOMPARE(cli({"table"}).section('\t', 2, 2), title);
}

void TestCli::oneProcessPerFolder() {
    TMarketSim sim;
    TSimResponse silent;
    silent.Silent = true; // the page never comes, so the search holds the folder
    sim.Route("item.taobao.com", "/item.htm?id=1", silent);
    QTemporaryDir dir;
    const TCliBinary cli{dir.path(), sim.Origin()};
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=1"}), QString());
    QProcess first;
    cli.start(first, {"search"});
    QTRY_COMPARE_WITH_TIMEOUT(sim.Count("item.taobao.com", "/item.htm?id=1"), 1, 20000);
    // A second command on the same folder is refused, naming the process that holds it.
    for (const QStringList& args : {QStringList{"table"}, QStringList{"clear"}}) {
        const QString refused = cli(args, 1);
        QVERIFY2(refused.contains("tovrel-cli") && refused.contains(QString::number(first.processId())),
                 qPrintable(refused));
    }
    // Killed, the first process leaves its lock file behind; the next command takes it over.
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QVERIFY(QFile::exists(dir.filePath("tovrel.lock")));
    QCOMPARE(cli({"list"}), "1\thttp://item.taobao.com/item.htm?id=1\n");
}

namespace {

// Runs a program by the bytes of its path (which Qt's file names cannot carry) in folder `cwd`,
// and returns its exit status, or -1 when it could not run.
int runByBytes(const QByteArray& program, const QList<QByteArray>& args, const QByteArray& cwd) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::chdir(cwd.constData()) != 0)
            ::_exit(126);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(program.constData())};
        for (const QByteArray& a : args)
            argv.push_back(const_cast<char*>(a.constData()));
        argv.push_back(nullptr);
        ::execv(program.constData(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool existsByBytes(const QByteArray& path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

} // namespace

void TestCli::initTestCase() {
    // A program started without --workdir and without state beside it uses the user's data folder:
    // the tests' own, never the real one.
    static QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
}

void TestCli::programFolderNamedInAnotherEncoding() {
    // A folder named "测试店" in GBK, as a Windows archive unpacks it; the program copied there (a
    // portable copy, its settings beside it) and started from another folder keeps its state
    // beside itself.
    QTemporaryDir root;
    const QByteArray base = QFile::encodeName(root.path());
    const QByteArray folder = base + "/\xB2\xE2\xCA\xD4\xB5\xEA";
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    {
        const int fd = ::open((folder + "/setting.ini").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    const QByteArray program = folder + "/tovrel-cli";
    {
        const QByteArray bytes = readFile(QStringLiteral(TOVREL_CLI_PATH));
        const int fd = ::open(program.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
    }
    const QByteArray elsewhere = base + "/elsewhere";
    QVERIFY(::mkdir(elsewhere.constData(), 0755) == 0);
    QCOMPARE(runByBytes(program, {"add", "http://item.taobao.com/item.htm?id=1"}, elsewhere), 0);
    QVERIFY(existsByBytes(folder + "/listnew"));
    QVERIFY(QDir(QFile::decodeName(elsewhere)).isEmpty());
    // And it reads them back there.
    QCOMPARE(runByBytes(program, {"add", "http://item.taobao.com/item.htm?id=1"}, elsewhere), 1);
    QVERIFY(!existsByBytes(folder + "/tovrel.lock"));
}

void TestCli::manPageNamesEveryCommandAndOption() {
    // The man page is written by hand: every command and option of the usage must be in it.
    const QString page =
        QString::fromUtf8(readFile(QStringLiteral(TOVREL_TEST_DATA_DIR "/../../doc/tovrel-cli.1")));
    QVERIFY(page.startsWith(".TH TOVREL-CLI 1"));
    QVERIFY2(page.contains("\"Tovrel " + TAppCore::FileVersionText() + "\""),
             "the man page names the version");
    for (const TCliCommand& command : CliCommands()) {
        QVERIFY2(page.contains("\\fB" + command.name + "\\fR") || page.contains("\\fB" + command.name + " "),
                 qPrintable(command.name));
        for (const QCommandLineOption& option : command.options) {
            const QString name = option.names().first();
            const QString written = (name.size() == 1 ? "\\-" : "\\-\\-") + name;
            QVERIFY2(page.contains("\\fB" + written + "\\fR"), qPrintable(command.name + " " + written));
        }
    }
}

void TestCli::installedCopyLeavesUpdatesToThePackageManager() {
    // A copy in the system's program folders (the package's /usr/bin) never replaces itself, even
    // for root, who may write there: the offer says the package manager installs the new version.
    QTemporaryDir dir;
    writeFile(dir.filePath("service.ini"),
              "[service]\nPublisherServer=http://127.0.0.1:1\nLatestVersion=9.9.9.9\n");
    TPaths::SetInstallDir("/usr/bin");
    const TRun check = run({"--workdir", dir.path(), "check-update"});
    const TRun update = run({"--workdir", dir.path(), "update"});
    TPaths::SetInstallDir(QString());
    QCOMPARE(check.status, 0);
    QVERIFY2(check.out.contains("有可用的更新\n检测到新版本 '9.9.9.9'。这个 Tovrel 由软件包管理器安装"),
             qPrintable(check.out));
    QCOMPARE(update.status, 1);
    QVERIFY2(update.err.contains("sudo apt-get install --only-upgrade tovrel"), qPrintable(update.err));
    QVERIFY(!QFileInfo::exists(dir.filePath("bak")));
}

void TestCli::workFolderRule_data() {
    QTest::addColumn<bool>("stateBeside");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("workdir");
    QTest::addColumn<QString>("expected"); // where the link list lands: "program", "data" or "named"
    QTest::newRow("portable copy: state beside it") << true << false << false << "program";
    QTest::newRow("no state beside it (a new build, an installed copy)") << false << false << false << "data";
    QTest::newRow("state beside it, folder read-only") << true << true << false << "data";
    QTest::newRow("--workdir wins") << true << false << true << "named";
}

void TestCli::workFolderRule() {
    QFETCH(bool, stateBeside);
    QFETCH(bool, readOnly);
    QFETCH(bool, workdir);
    QFETCH(QString, expected);
    if (readOnly && ::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty())
        QSKIP("running as root without setpriv: no folder is read-only to this process");
    QTemporaryDir root;
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777)));
    const QString program = root.filePath("program"), data = root.filePath("data"),
                  named = root.filePath("named");
    for (const QString& folder : {program, data, named}) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
    }
    QVERIFY(QFile::copy(QStringLiteral(TOVREL_CLI_PATH), program + "/tovrel-cli"));
    QVERIFY(QFile::setPermissions(program + "/tovrel-cli", QFileDevice::Permissions(0x7555)));
    const QByteArray settings = "[main]\r\n";
    if (stateBeside) {
        QFile file(program + "/setting.ini");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings);
    }
    if (readOnly)
        QVERIFY(QFile::setPermissions(program, QFileDevice::Permissions(0x5555)));
    QStringList args;
    if (workdir)
        args << "--workdir" << named;
    args << "add"
         << "http://item.taobao.com/item.htm?id=7";
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data);
    cli.setProcessEnvironment(env);
    if (readOnly && ::geteuid() == 0)
        cli.start("setpriv", QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                         program + "/tovrel-cli"} +
                                 args);
    else
        cli.start(program + "/tovrel-cli", args);
    QVERIFY(cli.waitForFinished(30000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    const QString where = expected == "program" ? program : expected == "data" ? data + "/Tovrel" : named;
    QVERIFY2(QFile::exists(where + "/listnew"), qPrintable(where));
    for (const QString& other : {program, data + "/Tovrel", named})
        if (other != where)
            QVERIFY2(!QFile::exists(other + "/listnew"), qPrintable(other));
    // State beside the program is never moved or deleted.
    if (stateBeside && expected != "program")
        QCOMPARE(readFile(program + "/setting.ini"), settings);
    QFile::setPermissions(program, QFileDevice::Permissions(0x7777));
}

void TestCli::controlCharactersAreShownEscaped() {
    QTemporaryDir dir;
    TPaths::SetWorkDir(dir.path());
    {
        TItemTable grid;
        grid.AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "\x1b]0;owned\x07red\x1b[31m\tend"); });
        QVERIFY(SaveGridToFile(grid, dir.filePath("grid.db")).ok());
    }
    const TRun r = run({"--workdir", dir.path(), "table"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, "1\t[x]\t\\x1b]0;owned\\x07red\\x1b[31m end\t\t\n");

    // The JSON form carries every cell as it is: control characters, quotes and backslashes
    // escaped, a character beyond U+FFFF whole, a surrogate without its partner as an escape.
    const QString awkward =
        QString::fromUtf16(u"\x1b\"q\"\\ \u2028 😀 ") + QChar(0xD800) + QStringLiteral("\r\n\x7f");
    {
        TItemTable grid;
        grid.AppendRow([&](TRowWriter& row) { row.SetCell(ColTitle, awkward); });
        QVERIFY(SaveGridToFile(grid, dir.filePath("grid.db")).ok());
    }
    const TRun json = run({"--workdir", dir.path(), "table", "--json"});
    QCOMPARE(json.status, 0);
    QVERIFY2(json.out.contains(QStringLiteral("\\u001b\\\"q\\\"\\\\ \u2028 😀 \\ud800\\r\\n\x7f")),
             qPrintable(json.out));
    QJsonParseError error;
    const QJsonArray rows = QJsonDocument::fromJson(json.out.toUtf8(), &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].toArray().size(), 12);
    QCOMPARE(rows[0].toArray()[ColTitle].toString(), QStringLiteral("商品名称"));
    QCOMPARE(rows[1].toArray()[ColTitle].toString().remove(QChar(0xD800)).remove(QChar(0xFFFD)),
             QString(awkward).remove(QChar(0xD800)));
}

void TestCli::editsReachThePackage() {
    QTemporaryDir dir;
    {
        TItemTable grid;
        for (const char* title : {"大衣", "围巾", "手套"})
            grid.AppendRow([title](TRowWriter& row) {
                row.SetCell(ColTitle, QString::fromUtf8(title));
                row.SetCell(ColPrice, "10.00");
                row.SetCell(ColHtml, QString("<title>%1-淘宝网</title>").arg(QString::fromUtf8(title)));
                row.SetCell(ColDetail, "<p>原来的描述</p>");
            });
        QVERIFY(SaveGridToFile(grid, dir.filePath("grid.db")).ok());
    }
    writeFile(dir.filePath("titles.txt"), "\xEF\xBB\xBF羊绒大衣\n羊绒围巾\n");
    writeFile(dir.filePath("detail.html"), "<p>改过的描述 “引号”</p>\n");
    auto cli = [&dir](const QStringList& args) { return run(QStringList{"--workdir", dir.path()} + args); };
    QCOMPARE(cli({"retitle", dir.filePath("titles.txt")}).status, 0);
    QCOMPARE(cli({"edit", "3", "--price", "12.50", "--detail-file", dir.filePath("detail.html")}).status, 0);
    QCOMPARE(cli({"toggle", "1"}).status, 0);
    QCOMPARE(cli({"watermark-text", "冬季店"}).status, 0);
    QCOMPARE(cli({"batch-watermark"}).status, 0);
    // Failures: the caption row, a missing row, a file with more lines than items.
    QCOMPARE(cli({"edit", "0", "--title", "x"}).status, 1);
    QCOMPARE(cli({"edit", "9", "--title", "x"}).status, 1);
    writeFile(dir.filePath("many.txt"), "1\n2\n3\n4\n");
    const TRun refused = cli({"retitle", dir.filePath("many.txt")});
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.err.contains("4"), qPrintable(refused.err));
    QCOMPARE(cli({"edit", "1", "--colour", "red"}).status, 2);

    QCOMPARE(cli({"table"}).out,
             "1\t[ ]\t羊绒大衣\t10.00\t\n2\t[x]\t羊绒围巾\t10.00\t\n3\t[x]\t手套\t12.50\t\n");
    QVERIFY(QDir(dir.path()).mkdir("out"));
    const TRun exported = cli({"export", dir.filePath("out"), "--no-main-pictures", "--no-props"});
    QCOMPARE(exported.status, 0);
    const TExportedCsv csv = TExportedCsv::Read(exported.out.trimmed());
    QCOMPARE(csv.lines.size(), 6); // three header lines, items 2 and 3, and the end
    QCOMPARE(csv.Field(0, "title"), "\"羊绒围巾\"");
    QCOMPARE(csv.Field(0, "price"), "10");
    QCOMPARE(csv.Field(1, "title"), "\"手套\"");
    QCOMPARE(csv.Field(1, "price"), "12.50");
    QCOMPARE(csv.Field(1, "description"), "\"<p>改过的描述 “引号”</p>\"");
    const QJsonArray rows = QJsonDocument::fromJson(cli({"table", "--json"}).out.toUtf8()).array();
    QCOMPARE(rows[1].toArray()[ColWatermark].toString(), ""); // not selected
    QCOMPARE(rows[2].toArray()[ColWatermark].toString(), "冬季店");

    // The prices adjusted: × 1.2 + 5.5, in the price and the SKU fields; the values are kept, so
    // a later export without the options adjusts the same way.
    for (const QStringList& options :
         {QStringList{"--price-factor", "1.2", "--price-add", "5.5"}, QStringList{}}) {
        const TRun adjusted =
            cli(QStringList{"export", dir.filePath("out"), "--no-main-pictures", "--no-props"} + options);
        QCOMPARE(adjusted.status, 0);
        const TExportedCsv adjustedCsv = TExportedCsv::Read(adjusted.out.trimmed());
        QCOMPARE(adjustedCsv.Field(0, "price"), "17.50"); // 10.00 × 1.2 + 5.5
        QCOMPARE(adjustedCsv.Field(1, "price"), "20.50"); // 12.50 × 1.2 + 5.5
        QVERIFY2(adjusted.err.contains("导出 2/2 手套\n") && adjusted.err.contains("完成：导出 2 个宝贝\n"),
                 qPrintable(adjusted.err));
    }
    QVERIFY(readFile(dir.filePath("setting.ini")).contains("pricefactor=1.2\r\npriceadd=5.5\r\n"));
    QCOMPARE(cli({"table"}).out.section('\n', 0, 0),
             "1\t[ ]\t羊绒大衣\t10.00\t"); // the table keeps its prices
}

void TestCli::manyLinksAtOnce() {
    QTemporaryDir dir;
    const TCliBinary cli{dir.path(), {}};
    const QString a = "http://item.taobao.com/item.htm?id=1", b = "http://item.taobao.com/item.htm?id=2";
    QCOMPARE(cli({"add", a}), QString());
    // Several on the command line: the duplicate (in other letter case) is counted, not refused.
    QCOMPARE(cli({"add", a.toUpper(), b}), "已添加 1 个连接，1 个已在列表中\n");
    // From a pipe, one per line (blank lines and Windows line ends allowed).
    QProcess pipe;
    cli.start(pipe, {"add", "-"});
    QByteArray piped;
    for (int id = 3; id <= 12; ++id)
        piped += "http://item.taobao.com/item.htm?id=" + QByteArray::number(id) + (id % 2 ? "\r\n" : "\n\n");
    pipe.write(piped + b.toUtf8() + "\n");
    pipe.closeWriteChannel();
    QVERIFY(pipe.waitForFinished(30000));
    QCOMPARE(pipe.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(pipe.readAllStandardError()), "已添加 10 个连接，1 个已在列表中\n");
    const QStringList listed = cli({"list"}).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(listed.size(), 12);
    QCOMPARE(listed.last(), "12\thttp://item.taobao.com/item.htm?id=12");
    // Nothing piped is a failure that changes nothing.
    QProcess empty;
    cli.start(empty, {"add", "-"});
    empty.closeWriteChannel();
    QVERIFY(empty.waitForFinished(30000));
    QCOMPARE(empty.exitCode(), 1);
    QVERIFY(QString::fromUtf8(empty.readAllStandardError()).contains("标准输入中没有连接"));
    // A crawl takes one shop.
    QCOMPARE(cli({"kind", "shop"}), QString());
    QVERIFY(cli({"add", "http://a.taobao.com", "http://b.taobao.com"}, 1).contains("一个店铺地址"));
    QCOMPARE(cli({"list"}).count('\n'), 12);
}

void TestCli::linksTheListCanReadBack() {
    QTemporaryDir dir;
    const TCliBinary cli{dir.path(), {}};
    // A comma stays inside its link.
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=1,2"}), QString());
    QCOMPARE(cli({"list"}), "1\thttp://item.taobao.com/item.htm?id=1,2\n");
    // Piped links with a NUL and a control character inside: those two are refused by number and
    // reason, the others are added, and every good link is there at the next start.
    QProcess pipe;
    cli.start(pipe, {"add", "-"});
    pipe.write(QByteArray("http://item.taobao.com/item.htm?id=3\n"
                          "http://item.taobao.com/item.htm?id=4\0x\n"
                          "http://item.taobao.com/item.htm?id=5\x01\n"
                          "http://item.taobao.com/item.htm?id=6\n",
                          151));
    pipe.closeWriteChannel();
    QVERIFY(pipe.waitForFinished(30000));
    QCOMPARE(pipe.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(pipe.readAllStandardError()),
             "已添加 2 个连接，0 个已在列表中，2 个无法添加（第 2 个：含有控制字符）\n");
    QCOMPARE(cli({"list"}),
             "1\thttp://item.taobao.com/item.htm?id=1,2\n2\thttp://item.taobao.com/item.htm?id=3\n"
             "3\thttp://item.taobao.com/item.htm?id=6\n");
    // A link over the length limit, given alone.
    QVERIFY(cli({"add", "http://item.taobao.com/item.htm?id=" + QString(5000, '9')}, 1)
                .contains("这个连接无法添加：超过 4096 个字符"));
    QCOMPARE(cli({"list"}).count('\n'), 3);
}

void TestCli::commandsWriteOnlyWhatChanged() {
    QTemporaryDir dir;
    TPaths::SetWorkDir(dir.path());
    {
        TItemTable grid;
        grid.AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "甲"); });
        QVERIFY(SaveGridToFile(grid, dir.filePath("grid.db")).ok());
    }
    const QString grid = dir.filePath("grid.db");
    QFile(grid).setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
    const QDateTime before = QFileInfo(grid).lastModified();
    const QByteArray bytes = readFile(grid);
    const TCliBinary cli{dir.path(), {}};
    QCOMPARE(cli({"watermark-text", "小店"}), QString());
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=1"}), QString());
    QCOMPARE(QFileInfo(grid).lastModified(), before);
    QCOMPARE(readFile(grid), bytes);
    QVERIFY(readFile(dir.filePath("setting.ini")).contains("picstr="));
}

void TestCli::linkCommandsLeaveTheTableUnread_data() {
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<bool>("readsTable");
    QTest::newRow("list") << QStringList{"list"} << false;
    QTest::newRow("add") << QStringList{"add", "http://item.taobao.com/item.htm?id=2"} << false;
    QTest::newRow("remove") << QStringList{"remove", "1"} << false;
    QTest::newRow("clear") << QStringList{"clear"} << false;
    QTest::newRow("kind") << QStringList{"kind", "shop"} << false;
    QTest::newRow("watermark-text") << QStringList{"watermark-text", "小店"} << false;
    QTest::newRow("source, unchanged") << QStringList{"source", "taobao"} << false;
    // A change of source empties the table: it reads it first, so a damaged file is kept aside.
    QTest::newRow("source, changed") << QStringList{"source", "1688"} << true;
    QTest::newRow("table") << QStringList{"table"} << true;
}

void TestCli::linkCommandsLeaveTheTableUnread() {
    // A damaged table file: a command that reads it says so and keeps it aside; one that works on
    // the links and settings alone never opens it.
    QFETCH(QStringList, command);
    QFETCH(bool, readsTable);
    QTemporaryDir dir;
    TPaths::SetWorkDir(dir.path());
    const QString grid = dir.filePath("grid.db");
    {
        QFile file(grid);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("0123456789ABCDEF not a table");
    }
    const TCliBinary cli{dir.path(), {}};
    QVERIFY(cli({"add", "http://item.taobao.com/item.htm?id=1"}).isEmpty());
    QProcess p;
    cli.start(p, command);
    QVERIFY(p.waitForFinished(30000));
    const QString said = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(said.contains("宝贝表格"), readsTable);
    QCOMPARE(QFile::exists(grid + ".bad") || !QFile::exists(grid), readsTable);
    if (command.first() == "list")
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), "1\thttp://item.taobao.com/item.htm?id=1\n");
}

void TestCli::terminationKeepsFinishedRows_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
    QTest::newRow("SIGHUP (the terminal closed)") << int(SIGHUP);
}

void TestCli::terminationKeepsFinishedRows() {
    QFETCH(int, signalNumber);
    TMarketSim sim;
    for (const QString id : {"1", "2"}) {
        sim.Route("item.taobao.com", "/item.htm?id=" + id,
                  TSimResponse::Text(itemPage(id, "宝贝" + id, {}), "GBK"));
        sim.Route(DescriptionHost, descriptionPath(id),
                  TSimResponse::Text(descriptionReply("<p>描述</p>"), "GBK"));
    }
    TSimResponse silent;
    silent.Silent = true; // the third page never comes
    sim.Route("item.taobao.com", "/item.htm?id=3", silent);
    QTemporaryDir dir;
    const TCliBinary cli{dir.path(), sim.Origin()};
    for (const QString id : {"1", "2", "3"})
        QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=" + id}), QString());
    QProcess search;
    cli.start(search, {"search"});
    QTRY_COMPARE_WITH_TIMEOUT(sim.Count("item.taobao.com", "/item.htm?id=3"), 1, 20000);
    QCOMPARE(::kill(pid_t(search.processId()), signalNumber), 0);
    QVERIFY(search.waitForFinished(20000));
    QCOMPARE(search.exitStatus(), QProcess::NormalExit);
    QCOMPARE(search.exitCode(), 130);
    const QString said = QString::fromUtf8(search.readAllStandardError());
    QVERIFY2(said.contains("搜索 2/3 http://item.taobao.com/item.htm?id=2\n") &&
                 said.contains("已停止：2 个宝贝\n"),
             qPrintable(said));
    // The two finished rows were saved, and the folder is free again.
    QCOMPARE(cli({"table"}).count('\n'), 2);
    QVERIFY(!QFile::exists(dir.filePath("tovrel.lock")));
}

void TestCli::updateRefusesWhatThePublisherDidNotSign() {
#ifdef Q_OS_WIN
    QSKIP("the update script of this test is the POSIX one");
#endif
    // A copy of the program in a folder of its own, beside a window executable to be replaced.
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QFile::copy(QStringLiteral(TOVREL_CLI_PATH), bin + "/tovrel-cli"));
    const QString window = bin + "/Tovrel";
    writeFile(window, "#!/bin/sh\nexit 3\n");
    QVERIFY(QFile::setPermissions(window, QFile::permissions(window) | QFileDevice::ExeOwner));
    const QByteArray installed = readFile(window);
    QVERIFY(QDir(dir.path()).mkdir("work"));
    TMarketSim sim;
    const TCliBinary cli{dir.filePath("work"), sim.Origin(), bin + "/tovrel-cli"};
    const QString ini = dir.filePath("work/service.ini");

    // Nothing published: nothing offered, nothing done.
    writeFile(ini, "[service]\nPublisherServer=http://www.tovrel.example\n");
    QVERIFY(cli({"check-update"}).contains("没有更新：已经是最新版本"));
    QVERIFY(cli({"update"}).contains("已经是最新版本"));
    QCOMPARE(sim.Requests().size(), 0);

    writeFile(ini, "[service]\nPublisherServer=http://www.tovrel.example\nLatestVersion=9.9.9.9\n");
    const QString check = cli({"check-update"});
    QVERIFY2(check.contains("最新版本：9.9.9.9\n有可用的更新"), qPrintable(check));

    // A publisher that signs nothing (a proxy's login page instead of the program): refused with
    // the reason, nothing staged or started.
    sim.Route("www.tovrel.example", "/Tovrel", TSimResponse::Text("<html>请先登录</html>"));
    const QString unsigned_ = cli({"update"}, 1);
    QVERIFY2(unsigned_.contains("更新失败,请检查网络后重新更新！（发布者的签名文件无法下载：HTTP 404）"),
             qPrintable(unsigned_));
    QCOMPARE(sim.Count("www.tovrel.example", "/Tovrel"), 0);

    // A real program signed with a key that is not the one built in: refused as well.
    QTemporaryDir keys;
    QProcess keygen;
    keygen.start(QStringLiteral(TOVREL_SIGN_SCRIPT), {"keygen", keys.filePath("key.pem")});
    QVERIFY(keygen.waitForFinished(30000) && keygen.exitCode() == 0);
    QVERIFY(QFile::copy("/bin/true", keys.filePath("Tovrel")));
    QProcess sign;
    sign.start(QStringLiteral(TOVREL_SIGN_SCRIPT),
               {"sign", keys.filePath("key.pem"), keys.filePath("Tovrel"), "9.9.9.9"});
    QVERIFY(sign.waitForFinished(30000) && sign.exitCode() == 0);
    sim.Route("www.tovrel.example", "/Tovrel", TSimResponse{200, {}, readFile("/bin/true")});
    sim.Route("www.tovrel.example", "/Tovrel.sig",
              TSimResponse{200, {}, readFile(keys.filePath("Tovrel.sig"))});
    const QString foreign = cli({"update"}, 1);
    QVERIFY2(foreign.contains("签名不是发布者的"), qPrintable(foreign));
    QVERIFY(!QFile::exists(bin + "/bak/Tovrel"));
    QVERIFY(!QFile::exists(bin + "/update.sh"));
    QCOMPARE(readFile(window), installed);
}

void TestCli::updateInPlaceIsNoLongerOffered() {
    // The update replaces the window program beside tovrel-cli; once it is there, its version is
    // the one compared, so the command line stops offering what is already installed.
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QFile::copy(QStringLiteral(TOVREL_CLI_PATH), bin + "/tovrel-cli"));
    QVERIFY(QDir(dir.path()).mkdir("work"));
    writeFile(dir.filePath("work/service.ini"),
              "[service]\nPublisherServer=http://127.0.0.1:1\nLatestVersion=9.9.9.9\n");
    TMarketSim sim;
    const TCliBinary cli{dir.filePath("work"), sim.Origin(), bin + "/tovrel-cli"};
    const QString window = bin + "/Tovrel";
    const auto install = [&window](const QByteArray& script) {
        writeFile(window, script);
        QVERIFY(QFile::setPermissions(window, QFile::permissions(window) | QFileDevice::ExeOwner));
    };
    install("#!/bin/sh\necho Tovrel 9.9.9.9\n");
    const QString updated = cli({"check-update"});
    QVERIFY2(updated.contains("窗口程序版本：9.9.9.9\n最新版本：9.9.9.9\n没有更新：已经是最新版本"),
             qPrintable(updated));
    QVERIFY(cli({"update"}).contains("没有更新：9.9.9.9 已经是最新版本"));
    // A window program that does not answer (or is not there) leaves the running version to count.
    install("#!/bin/sh\nexit 3\n");
    const QString silent = cli({"check-update"});
    QVERIFY2(silent.contains("最新版本：9.9.9.9\n有可用的更新") && !silent.contains("窗口程序版本"),
             qPrintable(silent));
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
