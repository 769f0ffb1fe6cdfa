#pragma once

#include "base/job.h"
#include "base/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The self-update: the version check against the latest published version, the download of the
// published executable with the publisher's signature, its staging in the folder "bak", and the
// script that puts it in place.
//
// Trust: the publisher signs a short statement about each executable it publishes (its file name,
// version, length and SHA-256 digest) with an Ed25519 key. The program carries the public key,
// built in; the statement is fetched beside the executable ("/Tovrel.sig"). Nothing is staged unless
// the statement's signature verifies, the executable is the one it describes byte for byte, it is
// a program for this system and processor, and it starts and names the expected version.

// Whether a text has the form of a version: one to four numbers of at most five digits, separated
// by dots ("1.0.0.2"). Only such a text is ever offered or shown as a version.
bool IsVersionText(const QString& text);

// Whether the latest published version is offered as an update: a text of a version's form that
// differs from the running version (older or newer), compared exactly.
bool IsNewVersion(const QString& latest, const QString& current);

// The address of the published window executable on the publisher's server ("/Tovrel", or
// "/Tovrel.exe" on Windows), or of the executable `fileName` ("/tovrel-cli"), and of its signature
// file beside it ("/Tovrel.sig").
QString UpdateAddress(const QString& publisher, const QString& fileName = QString());
QString SignatureAddress(const QString& publisher, const QString& fileName = QString());

// What the publisher signs about one executable. The signature file holds these lines, in this
// order, each ended by a line feed:
//     Tovrel update signature 1
//     file Tovrel
//     version 1.0.0.2
//     length 48213504
//     sha256 <64 lower-case hexadecimal digits>
// followed by the line "signature " + the Base64 text of the Ed25519 signature of every byte of the
// lines above it.
struct TUpdateManifest {
    QString File;
    QString Version;
    qint64 Length = 0;
    QByteArray Sha256; // 32 bytes
};
// The signed lines of a manifest, exactly as the signature covers them.
QByteArray ManifestText(const TUpdateManifest& manifest);
// Reads a signature file and checks its signature under `publicKey` (32 raw bytes). Fails with
// TErrc::BadReply and why, in the user's words.
TResult<TUpdateManifest> ReadSignedManifest(const QByteArray& signatureFile, const QByteArray& publicKey);

// The publisher's public key this build carries (the CMake cache value TOVREL_UPDATE_PUBLIC_KEY,
// Base64 of the 32 raw bytes); empty when the build carries none, and then no update is accepted.
QByteArray BuiltInUpdateKey();

// Whether the bytes are a program this build's system and processor run: an ELF file of this
// build's class, byte order and machine on Linux; a Windows executable ("MZ", "PE") of this build's
// machine on Windows. Fails with TErrc::BadReply and why.
TStatus CheckExecutable(const QByteArray& bytes);

// The largest executable downloaded.
inline constexpr qint64 MaxUpdateBytes = qint64(512) << 20;

// What an update download trusts: the publisher's key, and the version it was offered (the
// signature must be for that version, and the new program must say it is that version).
struct TUpdateTrust {
    QByteArray PublicKey;
    QString Version;
};

// The update download (ThreadIdHttpDownLoadFile): fetches the signature file, then the published
// executable with its progress reported in bytes; then the same for the command line's executable
// when `installDir` holds one (a publisher without a signature for it, HTTP 404, leaves it as it
// is; any other failure fails the update). Each executable is staged in `installDir`/bak
// (written whole through a temporary file, the executable bit set, no link followed) only when the
// signature verifies under the trusted key for the offered version, the server announced the signed
// length and sent exactly those bytes (their digest the signed one), the bytes are a program for
// this system, and the program, run with --version, names the offered version within the time
// limit. Anything else fails ("更新失败,请检查网络后重新更新！", the reason in the run log) with nothing
// staged and an earlier staged copy left as it was.
TJobResult DownloadUpdate(const TJobContext& job, const QString& installDir, const TUpdateTrust& trust);
// The staged copy's path (of the window's executable unless `fileName` names another), and where
// the script keeps the program it replaces.
QString StagedExecutable(const QString& installDir, const QString& fileName = QString());
QString PreviousExecutable(const QString& installDir);

// Runs `program` with --version (it needs no display for that) and returns what it printed, trimmed
// (at most 4 KB). Fails with TErrc::Refused and why when it does not start, does not end within
// `timeoutMs`, or ends with an error.
TResult<QString> VersionAnswer(const QString& program, int timeoutMs);
// The first word of a --version answer that has a version's form ("Tovrel 1.0.0.2" gives
// "1.0.0.2"); empty when there is none.
QString VersionInAnswer(const QString& answer);

// Runs `program` with --version and checks that it ends well within `timeoutMs` and names
// `version` in its output. Fails with TErrc::Refused and why.
TStatus CheckStartsAsVersion(const QString& program, const QString& version, int timeoutMs);

// The command script that puts the staged copy in place, line by line: "update.bat" for Windows
// (as the product has always written it), "update.sh" for Linux, which waits until the program's
// process `pid` has ended and no process runs the executable, keeps the old executable as
// bak/Tovrel.old, copies the staged file over the executable through a temporary name and a rename
// (keeping it executable; it gives up after a minute of failed copies, leaving the old executable
// whole), puts the old one back when the new one does not start (--version), starts it again when
// `restartNow`, and removes itself. The restart passes `restartArguments` on. Each of `alongside`
// (the command line's executable beside it, staged with it in bak/) is then put in place the same
// way, before the restart; a failure there leaves that one as it was.
enum class TScriptKind { WindowsBatch, PosixShell };
QStringList UpdateScriptLines(TScriptKind kind, const QString& executable, bool restartNow, qint64 pid = 0,
                              const QStringList& restartArguments = {}, const QStringList& alongside = {});
// The script's file name for this platform.
QString UpdateScriptName();
// WriteUpdateScript: writes this platform's script into `installDir` for the window's executable
// there, and the command line's when a copy of it is staged in bak/ (no link followed), and starts
// it on its own; fails with TErrc::Io when it cannot be
// written or started.
TStatus WriteUpdateScript(const QString& installDir, bool restartNow,
                          const QStringList& restartArguments = {});
