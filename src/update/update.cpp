#include "update/update.h"

#include "base/ansi.h"
#include "base/servicekeys.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "web/httpclient.h"

#include "base/signature.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <variant>

namespace {

// A path inside single quotes for the POSIX shell (a quote in it closed, escaped and reopened).
QString shellQuoted(const QString& path) {
    return QLatin1Char('\'') + QString(path).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

} // namespace

bool IsVersionText(const QString& text) {
    static const QRegularExpression version(QStringLiteral("^[0-9]{1,5}(\\.[0-9]{1,5}){0,3}$"));
    return version.match(text).hasMatch();
}

bool IsNewVersion(const QString& latest, const QString& current) {
    return IsVersionText(latest) && latest != current;
}

QString UpdateAddress(const QString& publisher, const QString& fileName) {
    QString server = publisher;
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return server + QLatin1Char('/') + (fileName.isEmpty() ? TPaths::WindowExecutableName() : fileName);
}

QString SignatureAddress(const QString& publisher, const QString& fileName) {
    return UpdateAddress(publisher, fileName) + QStringLiteral(".sig");
}

namespace {

const QByteArray ManifestHead = "Tovrel update signature 1\n";
const QByteArray SignatureKey = "signature ";

TError badReply(const QString& why) {
    return MakeError(TErrc::BadReply, why);
}

} // namespace

QByteArray ManifestText(const TUpdateManifest& manifest) {
    return ManifestHead + "file " + manifest.File.toUtf8() + '\n' + "version " + manifest.Version.toUtf8() +
           '\n' + "length " + QByteArray::number(manifest.Length) + '\n' + "sha256 " +
           manifest.Sha256.toHex() + '\n';
}

TResult<TUpdateManifest> ReadSignedManifest(const QByteArray& signatureFile, const QByteArray& publicKey) {
    if (!signatureFile.startsWith(ManifestHead))
        return badReply(QStringLiteral("签名文件的格式无法识别"));
    const qsizetype at = signatureFile.indexOf(QByteArray('\n' + SignatureKey));
    if (at < 0)
        return badReply(QStringLiteral("签名文件里没有签名"));
    const QByteArray message = signatureFile.left(at + 1);
    qsizetype end = signatureFile.indexOf('\n', at + 1);
    if (end < 0)
        end = signatureFile.size();
    const QByteArray encoded =
        signatureFile.mid(at + 1 + SignatureKey.size(), end - at - 1 - SignatureKey.size());
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return badReply(QStringLiteral("签名文件里的签名无法读取"));
    if (const TStatus verified = VerifyEd25519(publicKey, message, *decoded); !verified)
        return badReply(QStringLiteral("签名不是发布者的（") + verified.error().Detail +
                        QStringLiteral("）"));

    // Signed: what it says can be read.
    TUpdateManifest manifest;
    bool hasLength = false;
    for (const QByteArray& line : message.mid(ManifestHead.size()).split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        const QByteArray value = space >= 0 ? line.mid(space + 1) : QByteArray();
        if (key == "file") {
            manifest.File = QString::fromUtf8(value);
        } else if (key == "version") {
            manifest.Version = QString::fromUtf8(value);
        } else if (key == "length") {
            manifest.Length = value.toLongLong(&hasLength);
        } else if (key == "sha256") {
            manifest.Sha256 = QByteArray::fromHex(value);
            if (manifest.Sha256.size() != 32 || value.size() != 64)
                manifest.Sha256.clear();
        }
    }
    if (manifest.File.isEmpty() || !IsVersionText(manifest.Version) || !hasLength || manifest.Length <= 0 ||
        manifest.Sha256.isEmpty())
        return badReply(QStringLiteral("签名文件缺少文件名、版本、长度或摘要"));
    return manifest;
}

QByteArray BuiltInUpdateKey() {
    return QByteArray::fromBase64(QByteArrayLiteral(TOVREL_UPDATE_PUBLIC_KEY));
}

namespace {

// What this build is, as an executable's header names it.
#if defined(Q_OS_WIN)
#if defined(Q_PROCESSOR_X86_64)
constexpr quint16 ThisMachine = 0x8664;
#elif defined(Q_PROCESSOR_ARM_64)
constexpr quint16 ThisMachine = 0xAA64;
#elif defined(Q_PROCESSOR_X86_32)
constexpr quint16 ThisMachine = 0x014C;
#else
constexpr quint16 ThisMachine = 0;
#endif
#else
#if defined(Q_PROCESSOR_X86_64)
constexpr quint16 ThisMachine = 62; // EM_X86_64
#elif defined(Q_PROCESSOR_ARM_64)
constexpr quint16 ThisMachine = 183; // EM_AARCH64
#elif defined(Q_PROCESSOR_X86_32)
constexpr quint16 ThisMachine = 3; // EM_386
#elif defined(Q_PROCESSOR_ARM_32)
constexpr quint16 ThisMachine = 40; // EM_ARM
#elif defined(Q_PROCESSOR_RISCV)
constexpr quint16 ThisMachine = 243; // EM_RISCV
#elif defined(Q_PROCESSOR_POWER_64)
constexpr quint16 ThisMachine = 21; // EM_PPC64
#elif defined(Q_PROCESSOR_S390_X)
constexpr quint16 ThisMachine = 22; // EM_S390
#else
constexpr quint16 ThisMachine = 0; // unknown: the class and byte order are still checked
#endif
#endif

quint16 readU16(const QByteArray& bytes, qsizetype at, bool littleEndian) {
    const auto lo = quint16(uchar(bytes[at])), hi = quint16(uchar(bytes[at + 1]));
    return littleEndian ? quint16(lo | (hi << 8)) : quint16((lo << 8) | hi);
}

quint32 readU32(const QByteArray& bytes, qsizetype at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uchar(bytes[at + i]);
    return value;
}

} // namespace

TStatus CheckExecutable(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    if (bytes.size() < 0x40 || !bytes.startsWith("MZ"))
        return badReply(QStringLiteral("下载的文件不是 Windows 程序"));
    const quint32 pe = readU32(bytes, 0x3C);
    if (qint64(pe) + 6 > bytes.size() || bytes.mid(pe, 4) != QByteArray("PE\0\0", 4))
        return badReply(QStringLiteral("下载的文件不是 Windows 程序"));
    if (ThisMachine != 0 && readU16(bytes, pe + 4, true) != ThisMachine)
        return badReply(QStringLiteral("下载的程序不是为这台电脑的处理器编译的"));
    return {};
#else
    Q_UNUSED(readU32);
    // e_ident: magic, class, byte order; then e_type and e_machine.
    if (bytes.size() < 64 || !bytes.startsWith("\x7F"
                                               "ELF"))
        return badReply(QStringLiteral("下载的文件不是 Linux 程序"));
    const int wantedClass = sizeof(void*) == 8 ? 2 : 1;
    const bool littleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    if (uchar(bytes[4]) != wantedClass || uchar(bytes[5]) != (littleEndian ? 1 : 2))
        return badReply(
            QStringLiteral("下载的程序不是为这个系统（%1 位）编译的").arg(wantedClass == 2 ? 64 : 32));
    const quint16 type = readU16(bytes, 16, littleEndian);
    if (type != 2 && type != 3) // ET_EXEC, ET_DYN
        return badReply(QStringLiteral("下载的文件不是可以运行的程序"));
    if (ThisMachine != 0 && readU16(bytes, 18, littleEndian) != ThisMachine)
        return badReply(QStringLiteral("下载的程序不是为这台电脑的处理器编译的"));
    return {};
#endif
}

QString StagedExecutable(const QString& installDir, const QString& fileName) {
    return QDir(installDir)
        .filePath(QStringLiteral("bak/") + (fileName.isEmpty() ? TPaths::WindowExecutableName() : fileName));
}

QString PreviousExecutable(const QString& installDir) {
    return StagedExecutable(installDir) + QStringLiteral(".old");
}

TResult<QString> VersionAnswer(const QString& program, int timeoutMs) {
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--version")});
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // It shows no window; it must not need a display to say its version.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start();
    if (!process.waitForStarted(timeoutMs))
        return MakeError(TErrc::Refused,
                         QStringLiteral("新版本无法启动（") + process.errorString() + QStringLiteral("）"));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return MakeError(TErrc::Refused,
                         QStringLiteral("新版本在 %1 秒内没有回答版本").arg(timeoutMs / 1000));
    }
    const QString output = QString::fromUtf8(process.readAll().left(4096)).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return MakeError(TErrc::Refused,
                         QStringLiteral("新版本启动失败（退出码 %1）").arg(process.exitCode()));
    return output;
}

namespace {
QStringList answerWords(const QString& answer) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return answer.split(blanks, Qt::SkipEmptyParts);
}
} // namespace

QString VersionInAnswer(const QString& answer) {
    for (const QString& word : answerWords(answer))
        if (IsVersionText(word))
            return word;
    return {};
}

TStatus CheckStartsAsVersion(const QString& program, const QString& version, int timeoutMs) {
    const TResult<QString> answer = VersionAnswer(program, timeoutMs);
    if (!answer)
        return answer.error();
    if (!answerWords(*answer).contains(version))
        return MakeError(TErrc::Refused, QStringLiteral("新版本报告的版本不是 ") + version);
    return {};
}

namespace {

// One program of an update on its way: the bytes the publisher signed, checked, then written beside
// their place in bak/ and tried there.
struct TFetchedProgram {
    QString Name;
    QByteArray Bytes;
};

// Why a program's update was not fetched; `NotPublished` when the publisher has no signature for it
// (HTTP 404), which only an optional program may be.
struct TFetchFailure {
    QString Why;
    bool NotPublished = false;
};

// Fetches the signature of `name`, then the program, and checks them: the signature verifies under
// the trusted key, is for this file and the offered version, and the server announced and sent
// exactly the signed bytes, which are a program for this system.
std::variant<TFetchedProgram, TFetchFailure> fetchSigned(THttpClient& tc, const TJobContext& job,
                                                         const QString& publisher, const QString& name,
                                                         const TUpdateTrust& trust) {
    const auto failure = [](const QString& why) { return TFetchFailure{why, false}; };
    // The publisher's word about the program comes first: without it nothing is downloaded.
    constexpr qint64 MaxSignatureBytes = 64 << 10;
    const TResult<QByteArray> signature = tc.Download(SignatureAddress(publisher, name), MaxSignatureBytes);
    if (!signature)
        return TFetchFailure{QStringLiteral("发布者的签名文件无法下载：") + signature.error().Detail,
                             tc.LastStatus() == 404};
    const TResult<TUpdateManifest> manifest = ReadSignedManifest(*signature, trust.PublicKey);
    if (!manifest)
        return failure(manifest.error().Detail);
    if (manifest->File != name)
        return failure(QStringLiteral("签名是为文件 %1 的，不是 %2").arg(manifest->File, name));
    if (manifest->Version != trust.Version)
        return failure(
            QStringLiteral("签名是为版本 %1 的，不是要更新的版本 %2").arg(manifest->Version, trust.Version));
    if (manifest->Length > MaxUpdateBytes)
        return failure(QStringLiteral("签名的文件长度超过 %1 MB").arg(MaxUpdateBytes >> 20));

    // A new download starts from nothing: the bytes of a failed one are never added to.
    const TResult<QByteArray> bytes =
        tc.Download(UpdateAddress(publisher, name), MaxUpdateBytes,
                    [&job](qint64 received, qint64 total) { job.Report().Advance(received, total); });
    if (!bytes)
        return failure(bytes.error().Detail);
    if (tc.LastAnnouncedLength() < 0)
        return failure(QStringLiteral("服务器没有告知文件的长度"));
    if (tc.LastAnnouncedLength() != manifest->Length || bytes->size() != manifest->Length)
        return failure(QStringLiteral("收到 %1 字节（服务器告知 %2 字节），签名的长度是 %3 字节")
                           .arg(bytes->size())
                           .arg(tc.LastAnnouncedLength())
                           .arg(manifest->Length));
    if (QCryptographicHash::hash(*bytes, QCryptographicHash::Sha256) != manifest->Sha256)
        return failure(QStringLiteral("文件的摘要与签名不符"));
    if (const TStatus executable = CheckExecutable(*bytes); !executable)
        return failure(executable.error().Detail);
    return TFetchedProgram{name, *bytes};
}

// Writes the program as bak/NAME.check and runs it there: it must start and name the offered
// version. No link in the way is followed.
TStatus writeTrial(const QString& installDir, const TFetchedProgram& program, const QString& version) {
    const QString trial = StagedExecutable(installDir, program.Name) + QStringLiteral(".check");
    if (const TStatus cleared = ClearForRegularFile(trial); !cleared)
        return MakeError(cleared.error().Code,
                         QDir::toNativeSeparators(trial) + QStringLiteral("：") + cleared.error().Detail);
    if (const TStatus written = WriteWholeFile(trial, program.Bytes); !written)
        return written;
    QFile::setPermissions(trial, QFile::permissions(trial) | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                     QFileDevice::ExeOther);
    constexpr int StartLimitMs = 30000;
    if (const TStatus starts = CheckStartsAsVersion(trial, version, StartLimitMs); !starts) {
        QFile::remove(trial);
        return starts;
    }
    return {};
}

} // namespace

TJobResult DownloadUpdate(const TJobContext& job, const QString& installDir, const TUpdateTrust& trust) {
    TJobResult result;
    QStringList trials;
    auto fail = [&](const QString& why) {
        for (const QString& trial : trials)
            QFile::remove(trial);
        result.Outcome = job.Stopped() ? TJobOutcome::Stopped : TJobOutcome::Failed;
        result.Summary = QStringLiteral("更新失败,请检查网络后重新更新！");
        job.Report().Log(result.Summary + QStringLiteral("（") + why + QStringLiteral("）"));
        return result;
    };
    if (trust.PublicKey.isEmpty())
        return fail(QStringLiteral("这个版本没有内置发布者的公钥，无法确认更新的来源"));
    if (!IsVersionText(trust.Version))
        return fail(QStringLiteral("没有可以更新的版本"));
    THttpClient tc(TRequestLimits(), job.StopFlag(), job.Service());
    const QString publisher = job.Service().Value(TServiceKey::PublisherServer);

    // The window program, then the command line beside it when there is one: both the same
    // version, or neither. A publisher that signs no command line leaves it as it is (it then
    // compares the window program's version, so the update is not offered again).
    QStringList names{TPaths::WindowExecutableName()};
    const QString cliStaged = StagedExecutable(installDir, TPaths::CliExecutableName());
    if (QFileInfo(QDir(installDir).filePath(TPaths::CliExecutableName())).isFile())
        names.append(TPaths::CliExecutableName());
    QStringList staged;
    // The run log names the program a reason is about, unless it is the window program.
    const auto about = [](const QString& name, const QString& why) {
        return name == TPaths::WindowExecutableName() ? why : name + QStringLiteral("：") + why;
    };
    for (const QString& name : names) {
        const std::variant<TFetchedProgram, TFetchFailure> fetched =
            fetchSigned(tc, job, publisher, name, trust);
        if (const TFetchFailure* failure = std::get_if<TFetchFailure>(&fetched)) {
            if (name != TPaths::WindowExecutableName() && failure->NotPublished && !job.Stopped()) {
                job.Report().Log(QStringLiteral("发布者没有发布 %1 的新版本，它保持原来的版本").arg(name));
                continue;
            }
            return fail(about(name, failure->Why));
        }
        const TFetchedProgram& program = std::get<TFetchedProgram>(fetched);
        if (const TStatus folder = MakeRealFolder(QDir(installDir).filePath(QStringLiteral("bak"))); !folder)
            return fail(QStringLiteral("文件夹 bak 无法创建：") + folder.error().Detail);
        if (const TStatus tried = writeTrial(installDir, program, trust.Version); !tried)
            return fail(about(name, tried.error().Detail));
        trials.append(StagedExecutable(installDir, name) + QStringLiteral(".check"));
        staged.append(StagedExecutable(installDir, name));
    }
    // A command line staged by an earlier update and not this one must not be put in place with it.
    if (!staged.contains(cliStaged)) {
        if (const TStatus cleared = ClearForRegularFile(cliStaged); !cleared)
            return fail(QDir::toNativeSeparators(cliStaged) + QStringLiteral("：") + cleared.error().Detail);
        QFile earlier(cliStaged);
        if (earlier.exists() && !earlier.remove())
            return fail(QDir::toNativeSeparators(cliStaged) + QStringLiteral("：") + earlier.errorString());
    }

    // Only programs that start and name the offered version take the staged copies' places.
    for (qsizetype i = 0; i < staged.size(); ++i) {
        if (const TStatus cleared = ClearForRegularFile(staged[i]); !cleared)
            return fail(QDir::toNativeSeparators(staged[i]) + QStringLiteral("：") + cleared.error().Detail);
        if (std::rename(QFile::encodeName(trials[i]).constData(), QFile::encodeName(staged[i]).constData()) !=
            0)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    result.Produced = staged;
    result.Summary = QStringLiteral("更新文件已准备就绪");
    return result;
}

QStringList UpdateScriptLines(TScriptKind kind, const QString& executable, bool restartNow, qint64 pid,
                              const QStringList& restartArguments, const QStringList& alongside) {
    QStringList lines;
    if (kind == TScriptKind::WindowsBatch) {
        const QString exe = QDir::toNativeSeparators(executable);
        QString dir = QDir::toNativeSeparators(QFileInfo(executable).path());
        if (!dir.endsWith(QLatin1Char('\\')))
            dir += QLatin1Char('\\');
        const QString name = QFileInfo(executable).fileName();
        lines << QStringLiteral("@echo off") << QStringLiteral(":try")
              << QStringLiteral("del \"") + exe + QLatin1Char('"')
              << QStringLiteral("if exist \"") + exe + QStringLiteral("\" goto try")
              << QStringLiteral(":loop")
              << QStringLiteral("copy \".\\bak\\") + name + QStringLiteral("\"  \"") + dir + QLatin1Char('"')
              << QStringLiteral("if not exist \"") + exe + QStringLiteral("\" goto loop");
        for (qsizetype i = 0; i < alongside.size(); ++i) {
            const QString other = QDir::toNativeSeparators(alongside[i]);
            const QString label = QString::number(i + 2);
            lines << QStringLiteral(":try") + label << QStringLiteral("del \"") + other + QLatin1Char('"')
                  << QStringLiteral("if exist \"") + other + QStringLiteral("\" goto try") + label
                  << QStringLiteral(":loop") + label
                  << QStringLiteral("copy \".\\bak\\") + QFileInfo(alongside[i]).fileName() +
                         QStringLiteral("\"  \"") + dir + QLatin1Char('"')
                  << QStringLiteral("if not exist \"") + other + QStringLiteral("\" goto loop") + label;
        }
        if (restartNow) {
            QString start = QStringLiteral("start \"\" \"") + exe + QLatin1Char('"');
            for (const QString& argument : restartArguments)
                start += QStringLiteral(" \"") + argument + QLatin1Char('"');
            lines << start;
        }
        lines << QStringLiteral("del %0");
        return lines;
    }
    const QString staged =
        QFileInfo(executable).path() + QStringLiteral("/bak/") + QFileInfo(executable).fileName();
    lines << QStringLiteral("#!/bin/sh")
          << QStringLiteral(
                 "# Puts the new Tovrel in place once the old one no longer runs, keeping the old one")
          << QStringLiteral("# and putting it back when the new one does not start; then removes itself.")
          << QStringLiteral("exe=") + shellQuoted(executable)
          << QStringLiteral("staged=") + shellQuoted(staged)
          << QStringLiteral("old=") + shellQuoted(staged + QStringLiteral(".old"))
          << QStringLiteral("pid=%1").arg(pid) << QStringLiteral("running() {")
          << QStringLiteral("    # The program's own process, unless it has ended (a zombie has ended too).")
          << QStringLiteral("    if [ \"$pid\" -gt 0 ] && kill -0 \"$pid\" 2>/dev/null; then")
          << QStringLiteral("        grep -qs '^State:[[:space:]]*Z' \"/proc/$pid/status\" || return 0")
          << QStringLiteral("    fi") << QStringLiteral("    # Any other process that runs the executable.")
          << QStringLiteral("    for p in /proc/[0-9]*; do")
          << QStringLiteral("        [ \"$(readlink \"$p/exe\" 2>/dev/null)\" = \"$exe\" ] && return 0")
          << QStringLiteral("    done") << QStringLiteral("    return 1") << QStringLiteral("}")
          << QStringLiteral("# Copies a program over the executable through a temporary name and a rename.")
          << QStringLiteral("put() {")
          << QStringLiteral("    rm -f \"$exe.new\" && cp \"$1\" \"$exe.new\" && chmod 755 \"$exe.new\" && "
                            "mv -f \"$exe.new\" "
                            "\"$exe\"")
          << QStringLiteral("}") << QStringLiteral("while running; do sleep 1; done")
          << QStringLiteral("rm -f \"$old\"")
          << QStringLiteral("if ! cp \"$exe\" \"$old\"; then rm -f \"$0\"; exit 1; fi")
          << QStringLiteral("tries=0") << QStringLiteral("until put \"$staged\"; do")
          << QStringLiteral("    tries=$((tries + 1))")
          << QStringLiteral("    if [ \"$tries\" -ge 60 ]; then rm -f \"$exe.new\" \"$0\"; exit 1; fi")
          << QStringLiteral("    sleep 1") << QStringLiteral("done")
          << QStringLiteral("if ! timeout 30 \"$exe\" --version >/dev/null 2>&1; then")
          << QStringLiteral("    put \"$old\" || { sleep 1; put \"$old\"; }") << QStringLiteral("fi");
    for (const QString& other : alongside) {
        // In a subshell of its own: its names stay its own, and a failure ends only its part.
        const QString otherStaged =
            QFileInfo(other).path() + QStringLiteral("/bak/") + QFileInfo(other).fileName();
        lines << QStringLiteral("# The program beside it, staged with it, is put in place the same way.")
              << QStringLiteral("(") << QStringLiteral("    exe=") + shellQuoted(other)
              << QStringLiteral("    staged=") + shellQuoted(otherStaged)
              << QStringLiteral("    old=") + shellQuoted(otherStaged + QStringLiteral(".old"))
              << QStringLiteral("    while running; do sleep 1; done") << QStringLiteral("    rm -f \"$old\"")
              << QStringLiteral("    cp \"$exe\" \"$old\" || exit 1") << QStringLiteral("    tries=0")
              << QStringLiteral("    until put \"$staged\"; do")
              << QStringLiteral("        tries=$((tries + 1))")
              << QStringLiteral("        if [ \"$tries\" -ge 60 ]; then rm -f \"$exe.new\"; exit 1; fi")
              << QStringLiteral("        sleep 1") << QStringLiteral("    done")
              << QStringLiteral("    if ! timeout 30 \"$exe\" --version >/dev/null 2>&1; then")
              << QStringLiteral("        put \"$old\" || { sleep 1; put \"$old\"; }")
              << QStringLiteral("    fi") << QStringLiteral(")");
    }
    if (restartNow) {
        QString start = QStringLiteral("nohup \"$exe\"");
        for (const QString& argument : restartArguments)
            start += QLatin1Char(' ') + shellQuoted(argument);
        lines << start + QStringLiteral(" >/dev/null 2>&1 &");
    }
    lines << QStringLiteral("rm -f \"$0\"");
    return lines;
}

QString UpdateScriptName() {
#ifdef Q_OS_WIN
    return QStringLiteral("update.bat");
#else
    return QStringLiteral("update.sh");
#endif
}

TStatus WriteUpdateScript(const QString& installDir, bool restartNow, const QStringList& restartArguments) {
    const QString exe = QDir(installDir).filePath(TPaths::WindowExecutableName());
#ifdef Q_OS_WIN
    const TScriptKind kind = TScriptKind::WindowsBatch;
#else
    const TScriptKind kind = TScriptKind::PosixShell;
#endif
    // The command line goes with the window program when the update staged it (a regular file:
    // a link in bak/ is no staged copy).
    QStringList alongside;
    const QFileInfo cliStaged(StagedExecutable(installDir, TPaths::CliExecutableName()));
    if (cliStaged.isFile() && !cliStaged.isSymLink())
        alongside.append(QDir(installDir).filePath(TPaths::CliExecutableName()));
    const QString text =
        UpdateScriptLines(kind, exe, restartNow, QCoreApplication::applicationPid(), restartArguments,
                          alongside)
            .join(kind == TScriptKind::WindowsBatch ? QStringLiteral("\r\n") : QStringLiteral("\n")) +
        (kind == TScriptKind::WindowsBatch ? QStringLiteral("\r\n") : QStringLiteral("\n"));
    const QString script = QDir(installDir).filePath(UpdateScriptName());
    if (const TStatus cleared = ClearForRegularFile(script); !cleared)
        return cleared;
    if (const TStatus written =
            WriteWholeFile(script, kind == TScriptKind::WindowsBatch ? TAnsi::Encode(text) : text.toUtf8());
        !written)
        return written;
    if (!TShell::StartScriptDetached(script, installDir))
        return MakeError(TErrc::Io, QStringLiteral("无法启动更新脚本"));
    return {};
}
