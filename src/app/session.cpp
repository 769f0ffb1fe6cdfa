#include "app/session.h"

#include "base/textlines.h"
#include "config/servicevalues.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "table/linklist.h"
#include "web/httpclient.h"

#include <QDir>
#include <QFileInfo>

TStatus TSession::FindProgramFolder() {
    if (const TStatus found = TPaths::FindProgramFolder(); !found)
        return found;
    return TPaths::ChooseWorkFolder();
}

TStatus TSession::UseWorkFolder(const QString& dir) {
    if (dir.trimmed().isEmpty() || !QFileInfo(dir).isDir())
        return MakeError(TErrc::Refused, dir);
    TPaths::SetWorkDir(dir);
    return {};
}

QString TSession::WorkFolder() {
    return TPaths::WorkDir();
}

QString TSession::InstallFolder() {
    return TPaths::InstallDir();
}

QString TSession::WindowExecutableName() {
    return TPaths::WindowExecutableName();
}

void TSession::SuitLargeTexts() {
    TMemory::SuitLargeTexts();
}

void TSession::IgnoreBrokenPipes() {
    TTerminationWatcher::IgnoreBrokenPipes();
}

int TSession::LastTerminationRequest() {
    return TTerminationWatcher::LastRequest();
}

bool TSession::OpenInBrowser(const QString& link) {
    return TShell::OpenInBrowser(link);
}

void TSession::OpenLink(const QString& link, QObject* context, const std::function<void(bool)>& done) {
    TShell::OpenLink(link, context, done);
}

QString TSession::ServiceValue(TServiceKey key) {
    return TServiceValues::Value(key);
}

QStringList TSession::SplitLinks(const QString& text) {
    return TLinkList::SplitLinks(text);
}

TResult<QString> TSession::ReadUserTextFile(const QString& path, qint64 maxBytes) {
    const TResult<QByteArray> bytes = ReadChosenFile(path, maxBytes);
    if (!bytes)
        return bytes.error();
    return DecodeUserText(*bytes);
}

QStringList TSession::ProfileNames() {
    return TProfile::Names();
}

bool TSession::IsProfile(const QString& name) {
    return TProfile::Named(name) != nullptr;
}

TResult<TSession::TFetched> TSession::Fetch(const QString& profile, const QString& url,
                                            const QByteArray& form) {
    const TProfile* named = TProfile::Named(profile);
    if (!named)
        return MakeError(TErrc::Refused, profile);
    THttpClient tc;
    TFetched fetched;
    if (named->Body == TProfile::TBody::Bytes) {
        TResult<QByteArray> bytes = tc.FetchBytes(*named, url, form);
        if (!bytes)
            return bytes.error();
        fetched.Binary = true;
        fetched.Bytes = std::move(bytes).value();
        return fetched;
    }
    TResult<QString> text = tc.FetchText(*named, url, form);
    if (!text)
        return text.error();
    fetched.Text = std::move(text).value();
    return fetched;
}

QString TSession::FetchPublisherText(const QString& address, const std::atomic<bool>* abandon) {
    THttpClient tc(TRequestLimits(), abandon);
    return tc.HGetTextFileStr(address);
}

TStatus TSession::WriteFile(const QString& path, const QByteArray& bytes) {
    return WriteWholeFile(path, bytes);
}
