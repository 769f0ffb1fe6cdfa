#include "cli/clicommand.h"

#include "app/appcore.h"
#include "app/session.h"
#include "cli/clicommands.h"
#include "cli/clioutput.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>

#include <optional>

namespace {

// What is wrong with a command's arguments.
TError usage(const QString& problem) {
    return MakeError(TErrc::Refused, problem);
}

std::optional<int> parseNumber(const QString& text) {
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok ? std::optional<int>(number) : std::nullopt;
}

int failure(TCliContext& c, const QString& text) {
    c.err << "tovrel-cli: " << text << '\n';
    return int(TCliExit::Failure);
}

// --- Checks shared by several commands ---

TStatus noArguments(const QString& command, const TCliArgs& a) {
    if (!a.positional.isEmpty())
        return usage(command + QStringLiteral(" takes no arguments"));
    return {};
}

TStatus oneOf(const QString& command, const TCliArgs& a, const QStringList& words) {
    if (a.positional.size() != 1 || !words.contains(a.positional[0]))
        return usage(QStringLiteral("the command is: ") + command + QLatin1Char(' ') +
                     words.join(QLatin1Char('|')));
    return {};
}

TStatus itemNumbers(const QString& command, const TCliArgs& a, bool single) {
    if (a.positional.isEmpty() || (single && a.positional.size() != 1))
        return usage(single ? command + QStringLiteral(" needs exactly one row number")
                            : command + QStringLiteral(" needs one or more row numbers"));
    for (const QString& text : a.positional)
        if (!parseNumber(text))
            return usage(QStringLiteral("not a row number: ") + text);
    return {};
}

TStatus oneFolder(const QString& command, const TCliArgs& a) {
    if (a.positional.size() != 1 || a.positional[0].trimmed().isEmpty())
        return usage(command + QStringLiteral(" needs one folder"));
    return {};
}

// Every number must be an item of the table; checked before any change is made.
std::optional<QList<int>> itemRows(TCliContext& c, const TCliArgs& a) {
    const int rowCount = c.core.Items().RowCount();
    QList<int> rows;
    for (const QString& text : a.positional) {
        const int row = *parseNumber(text);
        if (row < 1 || row >= rowCount) {
            c.err << "tovrel-cli: row " << row << " does not exist: the table has " << rowCount - 1
                  << " data row(s)\n";
            return std::nullopt;
        }
        rows.append(row);
    }
    return rows;
}

// The folder argument as an absolute path, or the empty text after telling the user it does not exist.
QString existingFolder(TCliContext& c, const QString& folder) {
    if (!QDir(folder).exists()) {
        c.err << "tovrel-cli: the folder does not exist: " << folder << '\n';
        return {};
    }
    return QDir(folder).absolutePath();
}

// Starts a job with `start` and runs the event loop until it has ended; its result, or nothing
// when no job started.
std::optional<TJobResult> runJob(TAppCore& core, const std::function<bool()>& start) {
    std::optional<TJobResult> result;
    QEventLoop loop;
    QObject::connect(&core, &TAppCore::jobFinished, &loop, [&](TJobKind, const TJobResult& r) {
        result = r;
        loop.quit();
    });
    if (!start())
        return std::nullopt;
    if (!result)
        loop.exec();
    return result;
}

// The exit status of a job's outcome; a summary that is no success goes to standard error, unless
// the job's outcome line (printed when it ended) said it already.
int jobStatus(TCliContext& c, const TJobResult& r, TJobKind kind) {
    if (r.Outcome != TJobOutcome::Done && !r.Summary.isEmpty() &&
        !TAppCore::OutcomeText(kind, r).contains(r.Summary))
        c.err << r.Summary << '\n';
    return int(r.Outcome == TJobOutcome::Done ? TCliExit::Ok : TCliExit::Failure);
}

const QStringList SourceWords = {QStringLiteral("taobao"), QStringLiteral("1688"), QStringLiteral("paipai")};
const QStringList KindWords = {QStringLiteral("item"), QStringLiteral("shop"), QStringLiteral("category")};

QCommandLineOption flag(const QString& name) {
    return QCommandLineOption(name);
}

QCommandLineOption valued(const QString& name, const QString& valueName) {
    return QCommandLineOption(name, QString(), valueName);
}

// --- The table ---

int runTable(TCliContext& c, const TCliArgs& a) {
    PrintItemTable(c.core.Items(), a.Has(QStringLiteral("json")), c.out);
    return int(TCliExit::Ok);
}

TStatus checkSelect(const TCliArgs& a) {
    if (a.positional != QStringList{QStringLiteral("all")})
        return usage(QStringLiteral("the command is: select all"));
    return {};
}

int runSelect(TCliContext& c, const TCliArgs&) {
    c.core.SelectAllItems();
    return int(TCliExit::Ok);
}

int runInvert(TCliContext& c, const TCliArgs&) {
    c.core.InvertItemSelection();
    return int(TCliExit::Ok);
}

int runToggle(TCliContext& c, const TCliArgs& a) {
    const std::optional<QList<int>> rows = itemRows(c, a);
    if (!rows)
        return int(TCliExit::Failure);
    for (int row : *rows)
        c.core.ToggleItem(row);
    return int(TCliExit::Ok);
}

int runDelete(TCliContext& c, const TCliArgs& a) {
    const std::optional<QList<int>> rows = itemRows(c, a);
    if (!rows)
        return int(TCliExit::Failure);
    c.core.DeleteItem(rows->first());
    return int(TCliExit::Ok);
}

// edit ROW [--title T] [--category T] [--price T] [--delivery T] [--detail-file FILE]
TStatus checkEdit(const TCliArgs& a) {
    if (a.positional.size() != 1 || !parseNumber(a.positional[0]))
        return usage(QStringLiteral("edit needs an item number"));
    if (a.Has(QStringLiteral("detail-file")) && a.Value(QStringLiteral("detail-file")).trimmed().isEmpty())
        return usage(QStringLiteral("--detail-file needs a file"));
    if (a.Has(QStringLiteral("price")))
        if (const QString why = TAppCore::WhyNotAPrice(a.Value(QStringLiteral("price"))); !why.isEmpty())
            return usage(QStringLiteral("--price：") + why);
    return {};
}

int runEdit(TCliContext& c, const TCliArgs& a) {
    TItemEdit edit;
    const std::pair<const char*, std::optional<QString> TItemEdit::*> parts[] = {
        {"title", &TItemEdit::Title},
        {"category", &TItemEdit::Category},
        {"price", &TItemEdit::Price},
        {"delivery", &TItemEdit::Delivery}};
    for (const auto& [name, part] : parts)
        if (a.Has(QLatin1String(name)))
            edit.*part = a.Value(QLatin1String(name));
    if (a.Has(QStringLiteral("detail-file"))) {
        // As large as a description the marketplace sends may be.
        constexpr qint64 MaxDetailBytes = 16 << 20;
        const QString file = a.Value(QStringLiteral("detail-file"));
        const TResult<QString> detail = TSession::ReadUserTextFile(file, MaxDetailBytes);
        if (!detail)
            return failure(c, QStringLiteral("cannot read ") + file + QStringLiteral(": ") +
                                  detail.error().Detail);
        edit.LocalDetail = *detail;
    }
    if (const TStatus edited = c.core.EditItem(*parseNumber(a.positional[0]), edit); !edited)
        return failure(c,
                       edited.error().Detail +
                           QStringLiteral(": the table has %1 item(s)").arg(c.core.Items().RowCount() - 1));
    return int(TCliExit::Ok);
}

int runBatchWatermark(TCliContext& c, const TCliArgs&) {
    c.err << c.core.BatchWatermark() << " item(s) got the watermark text\n";
    return int(TCliExit::Ok);
}

TStatus checkRetitle(const TCliArgs& a) {
    if (a.positional.size() != 1 || a.positional[0].trimmed().isEmpty())
        return usage(QStringLiteral("retitle needs one file"));
    return {};
}

int runRetitle(TCliContext& c, const TCliArgs& a) {
    const TResult<int> replaced = c.core.RetitleFromFile(a.positional[0]);
    if (!replaced)
        return failure(c, QStringLiteral("no title changed: ") + replaced.error().Detail);
    c.err << *replaced << " title(s) replaced\n";
    return int(TCliExit::Ok);
}

// --- The link list and the choices ---

int runSource(TCliContext& c, const TCliArgs& a) {
    c.core.ChangeDataSource(int(SourceWords.indexOf(a.positional[0])));
    return int(TCliExit::Ok);
}

int runKind(TCliContext& c, const TCliArgs& a) {
    c.core.ChangeLinkKind(int(KindWords.indexOf(a.positional[0])));
    return int(TCliExit::Ok);
}

TStatus checkAdd(const TCliArgs& a) {
    const QStringList& links = a.positional;
    if (links.isEmpty())
        return usage(QStringLiteral("add needs a link or shop address, or - to read links"));
    for (const QString& link : links)
        if (link.trimmed().isEmpty())
            return usage(QStringLiteral("add takes no empty link"));
    if (links.size() > 1 && links.contains(QStringLiteral("-")))
        return usage(QStringLiteral("add - reads every link from standard input and takes no other"));
    return {};
}

// The links piped to standard input: one per line (any white space separates them).
TResult<QStringList> readLinksFromStandardInput() {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return MakeError(TErrc::Io, QStringLiteral("cannot read standard input: ") + in.errorString());
    // As much as a link list file may hold, read to the end of what the pipe brings.
    constexpr qint64 MaxLinkBytes = 256 << 20;
    QByteArray bytes;
    while (bytes.size() <= MaxLinkBytes) {
        const QByteArray piece = in.read(std::min<qint64>(MaxLinkBytes + 1 - bytes.size(), 1 << 16));
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    if (in.error() != QFileDevice::NoError)
        return MakeError(TErrc::Io, QStringLiteral("cannot read standard input: ") + in.errorString());
    if (bytes.size() > MaxLinkBytes)
        return MakeError(TErrc::Refused, QStringLiteral("standard input holds more than 256 MB of links"));
    const QStringList links = TSession::SplitLinks(QString::fromUtf8(bytes));
    if (links.isEmpty())
        return MakeError(TErrc::Refused, QStringLiteral("no link on standard input"));
    return links;
}

int runAdd(TCliContext& c, const TCliArgs& a) {
    QStringList links = a.positional;
    if (links == QStringList{QStringLiteral("-")}) {
        const TResult<QStringList> read = readLinksFromStandardInput();
        if (!read)
            return failure(c, read.error().Detail);
        links = *read;
    }
    if (links.size() > 1) {
        if (c.core.Choices().LinkKind != KindItem)
            return failure(c, QStringLiteral("a crawl takes one shop address"));
        TAppCore::TAddCounts counts;
        c.core.AddLinks(links, &counts);
        return int(counts.refused > 0 ? TCliExit::Failure : TCliExit::Ok);
    }
    c.core.UpdateChoices([&links](TChoices& ch) { ch.LinkText = links[0]; });
    using TAdd = TAppCore::TAddResult;
    TAdd added = TAdd::Nothing;
    const std::optional<TJobResult> crawl = runJob(c.core, [&] {
        added = c.core.AddLink();
        return added == TAdd::CrawlStarted;
    });
    if (crawl)
        return jobStatus(c, *crawl, TJobKind::Crawl);
    if (added == TAdd::Nothing)
        return failure(c, QStringLiteral("nothing to add: this data source has no shop crawler"));
    return int(added == TAdd::Added ? TCliExit::Ok : TCliExit::Failure);
}

TStatus checkRemove(const TCliArgs& a) {
    if (a.positional.size() != 1 || !parseNumber(a.positional[0]))
        return usage(QStringLiteral("remove needs one link number"));
    return {};
}

int runRemove(TCliContext& c, const TCliArgs& a) {
    const int n = *parseNumber(a.positional[0]);
    if (!c.core.RemoveLink(n - 1))
        return failure(c, QStringLiteral("link %1 does not exist: the list has %2 link(s)")
                              .arg(n)
                              .arg(c.core.LinkItems().Count()));
    return int(TCliExit::Ok);
}

int runClear(TCliContext& c, const TCliArgs&) {
    c.core.ClearLinks();
    return int(TCliExit::Ok);
}

int runList(TCliContext& c, const TCliArgs&) {
    const QStringList links = c.core.LinkItems().Items();
    for (int i = 0; i < links.size(); ++i)
        c.out << i + 1 << '\t' << FlatText(links[i]) << '\n';
    return int(TCliExit::Ok);
}

TStatus checkWatermarkText(const TCliArgs& a) {
    if (a.positional.size() != 1)
        return usage(QStringLiteral("watermark-text needs one text"));
    return {};
}

int runWatermarkText(TCliContext& c, const TCliArgs& a) {
    c.core.UpdateChoices([&a](TChoices& ch) { ch.WatermarkText = a.positional[0]; });
    return int(TCliExit::Ok);
}

// --- The jobs ---

int runSearch(TCliContext& c, const TCliArgs& a) {
    const bool titlePrice = a.Has(QStringLiteral("title-price"));
    c.core.UpdateChoices([titlePrice](TChoices& ch) { ch.TitleWithPrice = titlePrice; });
    const int before = c.core.Items().RowCount();
    const std::optional<TJobResult> search = runJob(c.core, [&] { return c.core.StartSearch(); });
    const int after = c.core.Items().RowCount();
    c.err << "the table holds " << after - 1 << " item(s), " << after - before << " new\n";
    return search ? jobStatus(c, *search, TJobKind::Search) : int(TCliExit::Failure);
}

// A price option's value: a number within its range.
TResult<double> priceOption(const TCliArgs& a, bool factor) {
    bool ok = false;
    const double value = a.Value(factor ? QStringLiteral("price-factor") : QStringLiteral("price-add"))
                             .trimmed()
                             .toDouble(&ok);
    if (!ok || !(factor ? IsPriceFactor(value) : IsPriceAmount(value)))
        return usage(
            factor ? QStringLiteral("--price-factor needs a number above 0 and at most %1")
                         .arg(int(MaxPriceFactor))
                   : QStringLiteral("--price-add needs a number from -%1 to %1").arg(qint64(MaxPriceAmount)));
    return value;
}

TStatus checkExport(const TCliArgs& a) {
    for (bool factor : {true, false})
        if (a.Has(factor ? QStringLiteral("price-factor") : QStringLiteral("price-add")))
            if (const TResult<double> value = priceOption(a, factor); !value)
                return value.error();
    return oneFolder(QStringLiteral("export"), a);
}

int runExport(TCliContext& c, const TCliArgs& a) {
    const QString folder = existingFolder(c, a.positional[0]);
    if (folder.isEmpty())
        return int(TCliExit::Failure);
    c.core.UpdateChoices([&a](TChoices& ch) {
        ch.NoMainPictures = a.Has(QStringLiteral("no-main-pictures"));
        ch.NoProperties = a.Has(QStringLiteral("no-props"));
        if (a.Has(QStringLiteral("price-factor")))
            ch.PriceFactor = *priceOption(a, true);
        if (a.Has(QStringLiteral("price-add")))
            ch.PriceAmount = *priceOption(a, false);
    });
    TStatus started;
    const std::optional<TJobResult> exported = runJob(c.core, [&] {
        started = c.core.StartExportTo(folder);
        return bool(started);
    });
    if (!started) {
        c.err << started.error().Detail << '\n';
        return int(TCliExit::Failure);
    }
    if (!exported || exported->Outcome != TJobOutcome::Done || exported->Produced.isEmpty())
        return exported ? jobStatus(c, *exported, TJobKind::Export) : int(TCliExit::Failure);
    c.out << QDir::toNativeSeparators(exported->Produced.first()) << '\n';
    return int(TCliExit::Ok);
}

int runPictures(TCliContext& c, const TCliArgs& a) {
    const QString folder = existingFolder(c, a.positional[0]);
    if (folder.isEmpty())
        return int(TCliExit::Failure);
    const bool titlePrice = a.Has(QStringLiteral("title-price"));
    c.core.UpdateChoices([titlePrice](TChoices& ch) { ch.TitleWithPrice = titlePrice; });
    const std::optional<TJobResult> pictures =
        runJob(c.core, [&] { return c.core.StartPictureDownload(folder); });
    if (!pictures)
        return int(TCliExit::Failure);
    for (const QString& itemFolder : pictures->Produced)
        c.out << itemFolder << '\n';
    return jobStatus(c, *pictures, TJobKind::Pictures);
}

int runClearCache(TCliContext& c, const TCliArgs&) {
    if (const TStatus cleared = c.core.ClearTemporaryData(); !cleared) {
        c.err << cleared.error().Detail << '\n';
        return int(TCliExit::Failure);
    }
    return int(TCliExit::Ok);
}

// --- Updates and connections ---

int runCheckUpdate(TCliContext& c, const TCliArgs&) {
    c.out << "running version: " << TAppCore::FileVersionText() << '\n';
    // An update replaces the window program: once it is in place, that program's version counts.
    if (c.core.InstalledVersion() != TAppCore::FileVersionText())
        c.out << "window program version: " << c.core.InstalledVersion() << '\n';
    c.out << "latest version: " << TAppCore::LatestVersion() << '\n'
          << (c.core.UpdateOffered() ? "an update is offered" : "no update: this is the latest version")
          << '\n';
    if (c.core.UpdateOffered() && TAppCore::InstalledByPackageManager())
        c.out << TAppCore::PackageManagerUpdateMessage() << '\n';
    return int(TCliExit::Ok);
}

int runUpdate(TCliContext& c, const TCliArgs&) {
    if (!c.core.UpdateOffered()) {
        c.err << "no update: " << c.core.InstalledVersion() << " is the latest version\n";
        return int(TCliExit::Ok);
    }
    if (TAppCore::InstalledByPackageManager())
        return failure(c, TAppCore::PackageManagerUpdateMessage());
    const std::optional<TJobResult> downloaded = runJob(c.core, [&] { return c.core.StartUpdateDownload(); });
    if (!downloaded || downloaded->Outcome != TJobOutcome::Done)
        return downloaded ? jobStatus(c, *downloaded, TJobKind::Update) : int(TCliExit::Failure);
    if (const TStatus started = c.core.ApplyUpdate(false); !started)
        return failure(c, QStringLiteral("the update was staged but cannot be put in place: ") +
                              started.error().Detail);
    c.out << QDir::toNativeSeparators(TAppCore::StagedUpdate()) << '\n';
    c.err << "version " << TAppCore::LatestVersion() << " replaces "
          << QDir::toNativeSeparators(
                 QDir(TSession::InstallFolder()).filePath(TSession::WindowExecutableName()))
          << " once no process runs it\n";
    return int(TCliExit::Ok);
}

// fetch PROFILE URL [-o FILE] [--data FORM]
TStatus checkFetch(const TCliArgs& a) {
    if (a.positional.size() != 2)
        return usage(QStringLiteral("fetch needs a profile and an address"));
    if (!TSession::IsProfile(a.positional[0]))
        return usage(QStringLiteral("unknown profile: ") + a.positional[0]);
    return {};
}

int runFetch(TCliContext& c, const TCliArgs& a) {
    const QString url = a.positional[1];
    const TResult<TSession::TFetched> fetched =
        TSession::Fetch(a.positional[0], url, a.Value(QStringLiteral("data")).toUtf8());
    if (!fetched)
        return failure(c, QStringLiteral("no response from ") + url + QStringLiteral(": ") +
                              fetched.error().Detail);
    if (fetched->Binary) {
        c.out << fetched->Bytes.size() << " bytes\n";
        const QString outFile = a.Value(QStringLiteral("o"));
        if (!outFile.isEmpty())
            if (const TStatus written = TSession::WriteFile(outFile, fetched->Bytes); !written)
                return failure(c, QStringLiteral("cannot write ") + outFile + QStringLiteral(": ") +
                                      written.error().Detail);
        return int(TCliExit::Ok);
    }
    c.out << fetched->Text;
    if (!fetched->Text.endsWith(u'\n'))
        c.out << '\n';
    return int(TCliExit::Ok);
}

auto without(const QString& command) {
    return [command](const TCliArgs& a) { return noArguments(command, a); };
}

} // namespace

const QList<TCliCommand>& CliCommands() {
    static const QList<TCliCommand> list = {
        {QStringLiteral("table"),
         QStringLiteral(
             "table [--json]     print the item table: one line per item with number, selection\n"
             "                     mark ([x] selected, [ ] not), title, price and delivery, separated by\n"
             "                     tabs; --json prints every row, the caption row included, as JSON"),
         {flag(QStringLiteral("json"))},
         without(QStringLiteral("table")),
         runTable},
        {QStringLiteral("select"),
         QStringLiteral("select all         select every item"),
         {},
         checkSelect,
         runSelect},
        {QStringLiteral("invert"),
         QStringLiteral("invert             invert the selection"),
         {},
         without(QStringLiteral("invert")),
         runInvert},
        {QStringLiteral("toggle"),
         QStringLiteral("toggle ROW...      flip the selection of the given items (numbers as in `table`)"),
         {},
         [](const TCliArgs& a) { return itemNumbers(QStringLiteral("toggle"), a, false); },
         runToggle},
        {QStringLiteral("delete"),
         QStringLiteral("delete ROW         delete one item; the items below it are renumbered"),
         {},
         [](const TCliArgs& a) { return itemNumbers(QStringLiteral("delete"), a, true); },
         runDelete},
        {QStringLiteral("source"),
         QStringLiteral(
             "source taobao|1688|paipai\n"
             "                     choose the data source; a change empties the link list and the table"),
         {},
         [](const TCliArgs& a) { return oneOf(QStringLiteral("source"), a, SourceWords); },
         runSource,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("kind"),
         QStringLiteral("kind item|shop|category\n"
                        "                     choose the link kind that `add` takes"),
         {},
         [](const TCliArgs& a) { return oneOf(QStringLiteral("kind"), a, KindWords); },
         runKind,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("add"),
         QStringLiteral(
             "add TEXT...|-      add item links (several at once; - reads them from standard input,\n"
             "                     one per line) and say how many were added and how many were listed\n"
             "                     already; with kind shop/category crawl the shop at TEXT and add the\n"
             "                     link of every item found"),
         {},
         checkAdd,
         runAdd,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("remove"),
         QStringLiteral("remove N           remove link N of the list (numbers as in `list`)"),
         {},
         checkRemove,
         runRemove,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("clear"),
         QStringLiteral("clear              empty the link list"),
         {},
         without(QStringLiteral("clear")),
         runClear,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("list"),
         QStringLiteral("list               print the link list, one numbered link per line"),
         {},
         without(QStringLiteral("list")),
         runList,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("watermark-text"),
         QStringLiteral("watermark-text TEXT\n"
                        "                     set the watermark text that new rows and pictures take"),
         {},
         checkWatermarkText,
         runWatermarkText,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("search"),
         QStringLiteral(
             "search [--title-price]\n"
             "                     download every listed link into the table; --title-price appends\n"
             "                     \"_\" and the price to each title (data source taobao)"),
         {flag(QStringLiteral("title-price"))},
         without(QStringLiteral("search")),
         runSearch},
        {QStringLiteral("export"),
         QStringLiteral(
             "export DIR [--no-main-pictures] [--no-props] [--price-factor F] [--price-add A]\n"
             "                     export the selected items as a Taobao Assistant package in DIR and\n"
             "                     print the CSV file's path; the flags are the options \"不下载商品主图\"\n"
             "                     and \"不下载商品属性\"; the exported prices are price × F + A, rounded\n"
             "                     to two decimals (\"价格调整\", kept for later exports; without them\n"
             "                     the kept values hold, at first 1 and 0)"),
         {flag(QStringLiteral("no-main-pictures")), flag(QStringLiteral("no-props")),
          valued(QStringLiteral("price-factor"), QStringLiteral("F")),
          valued(QStringLiteral("price-add"), QStringLiteral("A"))},
         checkExport,
         runExport},
        {QStringLiteral("pictures"),
         QStringLiteral(
             "pictures DIR [--title-price]\n"
             "                     download the pictures of the selected items into a folder per item\n"
             "                     in DIR, watermarked, and print each item folder; --title-price names\n"
             "                     them title_price_n_suffix (data source taobao)"),
         {flag(QStringLiteral("title-price"))},
         [](const TCliArgs& a) { return oneFolder(QStringLiteral("pictures"), a); },
         runPictures},
        {QStringLiteral("edit"),
         QStringLiteral(
             "edit ROW [--title T] [--category T] [--price T] [--delivery T] [--detail-file FILE]\n"
             "                     change the named parts of item ROW (as numbered by `table`);\n"
             "                     --detail-file gives the description (UTF-8, or the code page when\n"
             "                     it is no UTF-8), kept as it stands"),
         {valued(QStringLiteral("title"), QStringLiteral("T")),
          valued(QStringLiteral("category"), QStringLiteral("T")),
          valued(QStringLiteral("price"), QStringLiteral("T")),
          valued(QStringLiteral("delivery"), QStringLiteral("T")),
          valued(QStringLiteral("detail-file"), QStringLiteral("FILE"))},
         checkEdit,
         runEdit,
         TCliCommand::TState::Everything,
         1},
        {QStringLiteral("batch-watermark"),
         QStringLiteral(
             "batch-watermark    give every selected item the current watermark text (\"批量修改水印文字\")"),
         {},
         without(QStringLiteral("batch-watermark")),
         runBatchWatermark},
        {QStringLiteral("retitle"),
         QStringLiteral(
             "retitle FILE       replace the titles of items 1 to n by the n lines of FILE "
             "(\"批量替换宝贝名称\");\n"
             "                     nothing changes when the file has no line or more lines than items"),
         {},
         checkRetitle,
         runRetitle},
        {QStringLiteral("clear-cache"),
         QStringLiteral("clear-cache        remove the cached replies older than 15 days (\"清除临时数据\")"),
         {},
         without(QStringLiteral("clear-cache")),
         runClearCache},
        {QStringLiteral("check-update"),
         QStringLiteral("check-update       print the running and the latest version and whether an update\n"
                        "                     is offered"),
         {},
         without(QStringLiteral("check-update")),
         runCheckUpdate,
         TCliCommand::TState::None},
        {QStringLiteral("update"),
         QStringLiteral(
             "update             when an update is offered, download the published window executable,\n"
             "                     check it and stage it in bak/ beside the executables, and start the\n"
             "                     script that puts it in place of Tovrel there once no process runs it;\n"
             "                     prints the staged file"),
         {},
         without(QStringLiteral("update")),
         runUpdate,
         TCliCommand::TState::None},
        {QStringLiteral("fetch"),
         QStringLiteral(
             "fetch PROFILE URL [-o FILE] [--data FORM]\n"
             "                     fetch URL with one request profile and print what it returns\n"
             "                     (HOpen: the byte count; -o writes the bytes to FILE); checks a\n"
             "                     connection or a proxy. PROFILE is one of HGetText, HGetTextNew,\n"
             "                     HGetTextLib, HGetTextPage, Htaobao_curl_detail, HPost (--data is\n"
             "                     the form it sends), HGet, HGetN, HOpen, HGetTextFileStr"),
         {valued(QStringLiteral("o"), QStringLiteral("FILE")),
          valued(QStringLiteral("data"), QStringLiteral("FORM"))},
         checkFetch,
         runFetch,
         TCliCommand::TState::None},
    };
    return list;
}

const TCliCommand* FindCliCommand(const QString& name) {
    for (const TCliCommand& c : CliCommands())
        if (c.name == name)
            return &c;
    return nullptr;
}

TResult<TCliArgs> ParseCliArgs(const TCliCommand& command, const QStringList& args) {
    TCliArgs parsed;
    parsed.positional = args.mid(0, command.leadingArguments);
    const QStringList rest = args.mid(command.leadingArguments);
    QCommandLineParser parser;
    // "-o" is the option o, as "--data" is data; a lone "-" (standard input) is an argument.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(command.options);
    QStringList argv{QStringLiteral("tovrel-cli")};
    // A command without options takes every argument as it is ("-3", a text that starts with "--").
    if (command.options.isEmpty())
        argv.append(QStringLiteral("--"));
    argv += rest;
    if (!parser.parse(argv)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty()) // the only other fault: an option that needs a value ends the line
            return usage(rest.last() + QStringLiteral(" needs a value"));
        QStringList known;
        for (const QCommandLineOption& option : command.options)
            known.append((option.names().first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                         option.names().first());
        const QString name = unknown.first();
        return usage(command.name + QStringLiteral(" takes ") + known.join(QStringLiteral(", ")) +
                     QStringLiteral(", not ") +
                     (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    }
    parsed.positional += parser.positionalArguments();
    for (const QCommandLineOption& option : command.options) {
        const QString name = option.names().first();
        if (parser.isSet(name))
            parsed.options.insert(name, option.valueName().isEmpty() ? QString() : parser.value(name));
    }
    return parsed;
}
