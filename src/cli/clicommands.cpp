#include "cli/clicommands.h"

#include "base/textlines.h"
#include "platform/files.h"

#include "app/appcore.h"
#include "export/csvexport.h"
#include "pictures/picturedownload.h"
#include "platform/fileinuse.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/termination.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "update/update.h"
#include "web/httpclient.h"
#include "web/pagecache.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <functional>
#include <optional>

namespace {

struct TInvocation {
    bool help = false;
    bool version = false;
    QString workDir;
    QString command;
    QStringList args;
};

// What is wrong with a command's arguments.
TError usage(const QString& problem) {
    return MakeError(TErrc::Refused, problem);
}

std::optional<int> parseRow(const QString& text) {
    bool ok = false;
    const int row = text.toInt(&ok);
    return ok ? std::optional<int>(row) : std::nullopt;
}

// One line of plain output per cell text: tabs and line breaks inside a cell become spaces, and
// the other control characters (which a terminal would obey) are shown escaped as \xNN.
QString flat(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\r' || u == u'\n')
            out += u' ';
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// A JSON string: the quote, the backslash and the control characters escaped, and a surrogate
// without its partner (which UTF-8 cannot carry) as a \u escape; everything else as it is.
void appendJsonString(QString& out, const QString& text) {
    static const char Hex[] = "0123456789abcdef";
    out += QLatin1Char('"');
    const qsizetype n = text.size();
    qsizetype runStart = 0;
    auto flush = [&](qsizetype upTo) { out.append(QStringView(text).sliced(runStart, upTo - runStart)); };
    for (qsizetype k = 0; k < n; ++k) {
        const char16_t u = text[k].unicode();
        const bool pairStart = QChar::isHighSurrogate(u) && k + 1 < n && text[k + 1].isLowSurrogate();
        if (pairStart) {
            ++k;
            continue;
        }
        if (u >= 0x20 && u != u'"' && u != u'\\' && !QChar::isSurrogate(u))
            continue;
        flush(k);
        runStart = k + 1;
        switch (u) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        case u'\b':
            out += QLatin1String("\\b");
            break;
        case u'\f':
            out += QLatin1String("\\f");
            break;
        default:
            out += QLatin1String("\\u");
            for (int shift = 12; shift >= 0; shift -= 4)
                out += QLatin1Char(Hex[(u >> shift) & 0xF]);
        }
    }
    flush(n);
    out += QLatin1Char('"');
}

int printTable(const TItemTable& grid, bool json, QTextStream& out) {
    if (json) {
        // Written a row at a time: a large table never exists as one JSON text.
        out << '[';
        QString line;
        const QList<QStringList> rows = grid.Snapshot();
        for (qsizetype r = 0; r < rows.size(); ++r) {
            line.resize(0);
            line += QLatin1String(r > 0 ? ",[" : "[");
            for (qsizetype c = 0; c < rows[r].size(); ++c) {
                if (c > 0)
                    line += QLatin1Char(',');
                appendJsonString(line, rows[r][c]);
            }
            line += QLatin1Char(']');
            out << line;
        }
        out << "]\n";
        return int(TCliExit::Ok);
    }
    const int rowCount = grid.RowCount();
    for (int r = 1; r < rowCount; ++r) {
        const QString mark = TItemTable::IsSelectedMark(grid.Cell(ColSelect, r)) ? QStringLiteral("[x]")
                                                                                 : QStringLiteral("[ ]");
        out << flat(grid.Cell(ColNo, r)) << '\t' << mark << '\t' << flat(grid.Cell(ColTitle, r)) << '\t'
            << flat(grid.Cell(ColPrice, r)) << '\t' << flat(grid.Cell(ColDelivery, r)) << '\n';
    }
    return int(TCliExit::Ok);
}

struct TCliContext {
    TAppCore& core;
    QTextStream& out;
    QTextStream& err;
};

// One command: its usage line, a check of its arguments that runs before anything is loaded (so a
// usage error touches no file), and its body.
struct TCliCommand {
    QString name;
    QString usage;
    std::function<TStatus(const QStringList&)> check;
    std::function<int(TCliContext&, const QStringList&)> run;
    // Whether it works on the working folder's state (loaded at start, saved when it changed).
    bool usesWorkFolder = true;
};

TStatus checkRows(const QString& command, const QStringList& args, bool single) {
    if (args.isEmpty() || (single && args.size() != 1))
        return usage(single ? command + QStringLiteral(" needs exactly one row number")
                            : command + QStringLiteral(" needs one or more row numbers"));
    for (const QString& a : args)
        if (!parseRow(a))
            return usage(QStringLiteral("not a row number: ") + a);
    return {};
}

// Every row must be a data row of the table; checked before any change is made.
std::optional<QList<int>> dataRows(TCliContext& c, const QStringList& args) {
    TItemTable& grid = *c.core.Table();
    QList<int> rows;
    for (const QString& a : args) {
        const int row = *parseRow(a);
        if (row < 1 || row >= grid.RowCount()) {
            c.err << "tovrel-cli: row " << row << " does not exist: the table has " << grid.RowCount() - 1
                  << " data row(s)\n";
            return std::nullopt;
        }
        rows.append(row);
    }
    return rows;
}

// edit ROW [--title T] [--category T] [--price T] [--delivery T] [--detail-file FILE]
struct TEditArgs {
    TItemEdit edit;
    QString detailFile;
};

TResult<TEditArgs> parseEdit(const QStringList& options) {
    TEditArgs args;
    const std::pair<const char*, std::optional<QString> TItemEdit::*> parts[] = {
        {"--title", &TItemEdit::Title},
        {"--category", &TItemEdit::Category},
        {"--price", &TItemEdit::Price},
        {"--delivery", &TItemEdit::Delivery}};
    for (qsizetype i = 0; i < options.size(); i += 2) {
        if (i + 1 >= options.size())
            return usage(options[i] + QStringLiteral(" needs a value"));
        bool known = false;
        for (const auto& [name, part] : parts)
            if (options[i] == QLatin1String(name)) {
                args.edit.*part = options[i + 1];
                known = true;
            }
        if (options[i] == u"--detail-file") {
            if (options[i + 1].trimmed().isEmpty())
                return usage(QStringLiteral("--detail-file needs a file"));
            args.detailFile = options[i + 1];
            known = true;
        }
        if (!known)
            return usage(QStringLiteral(
                             "edit takes --title, --category, --price, --delivery and --detail-file, not ") +
                         options[i]);
    }
    return args;
}

// fetch PROFILE URL [-o FILE] [--data FORM]
struct TFetchArgs {
    QString profile;
    QString url;
    QString outFile;
    QString form;
};

std::optional<TFetchArgs> parseFetch(const QStringList& args, QString* problem) {
    TFetchArgs f;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"-o" || args[i] == u"--data") {
            if (i + 1 >= args.size()) {
                *problem = args[i] + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            QString& target = args[i] == u"-o" ? f.outFile : f.form;
            target = args[++i];
        } else {
            positional.append(args[i]);
        }
    }
    if (positional.size() != 2) {
        *problem = QStringLiteral("fetch needs a profile and an address");
        return std::nullopt;
    }
    f.profile = positional[0];
    f.url = positional[1];
    return f;
}

int runFetch(TCliContext& c, const QStringList& args) {
    QString problem;
    const TFetchArgs f = *parseFetch(args, &problem);
    const TProfile& profile = *TProfile::Named(f.profile);
    TC tc;
    auto noResponse = [&](const TError& error) {
        c.err << "tovrel-cli: no response from " << f.url << ": " << error.Detail << '\n';
        return int(TCliExit::Failure);
    };
    if (profile.Body == TProfile::TBody::Bytes) {
        const TResult<QByteArray> bytes = tc.FetchBytes(profile, f.url, f.form.toUtf8());
        if (!bytes)
            return noResponse(bytes.error());
        c.out << bytes->size() << " bytes\n";
        if (!f.outFile.isEmpty()) {
            if (const TStatus written = WriteWholeFile(f.outFile, *bytes); !written) {
                c.err << "tovrel-cli: cannot write " << f.outFile << ": " << written.error().Detail << '\n';
                return int(TCliExit::Failure);
            }
        }
        return int(TCliExit::Ok);
    }
    const TResult<QString> text = tc.FetchText(profile, f.url, f.form.toUtf8());
    if (!text)
        return noResponse(text.error());
    c.out << *text;
    if (!text->endsWith(u'\n'))
        c.out << '\n';
    return int(TCliExit::Ok);
}

TStatus noArguments(const QString& command, const QStringList& a) {
    if (!a.isEmpty())
        return usage(command + QStringLiteral(" takes no arguments"));
    return {};
}

TStatus oneOf(const QString& command, const QStringList& a, const QStringList& words) {
    if (a.size() != 1 || !words.contains(a[0]))
        return usage(QStringLiteral("the command is: ") + command + QLatin1Char(' ') +
                     words.join(QLatin1Char('|')));
    return {};
}

// A command that takes one folder and the given flags.
TStatus checkFolderAndFlags(const QString& command, const QStringList& a, const QStringList& flags) {
    QStringList rest = a;
    for (const QString& flag : flags)
        rest.removeAll(flag);
    if (rest.size() != 1 || rest[0].startsWith(u"--") || rest[0].trimmed().isEmpty())
        return usage(command + QStringLiteral(" needs one folder and takes only ") +
                     flags.join(QStringLiteral(" and ")));
    return {};
}

// export's valued options, taken out of its arguments (the folder and the flags stay in `rest`).
struct TExportOptions {
    std::optional<double> factor, amount;
    QStringList rest;
};

TResult<TExportOptions> parseExportOptions(const QStringList& a) {
    TExportOptions options;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const bool factor = a[i] == u"--price-factor";
        if (!factor && a[i] != u"--price-add") {
            options.rest.append(a[i]);
            continue;
        }
        bool ok = false;
        const double value = i + 1 < a.size() ? a[i + 1].trimmed().toDouble(&ok) : 0;
        if (!ok || !(factor ? IsPriceFactor(value) : IsPriceAmount(value)))
            return usage(factor ? QStringLiteral("--price-factor needs a number above 0 and at most %1")
                                      .arg(int(MaxPriceFactor))
                                : QStringLiteral("--price-add needs a number from -%1 to %1")
                                      .arg(qint64(MaxPriceAmount)));
        (factor ? options.factor : options.amount) = value;
        ++i;
    }
    return options;
}

// The folder argument as an absolute path, or the empty text after telling the user it does not exist.
QString existingFolder(TCliContext& c, const QStringList& a) {
    QString folder;
    for (const QString& arg : a)
        if (!arg.startsWith(u"--"))
            folder = arg;
    if (!QDir(folder).exists()) {
        c.err << "tovrel-cli: the folder does not exist: " << folder << '\n';
        return {};
    }
    return QDir(folder).absolutePath();
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
    const QStringList links = TLinkList::SplitLinks(QString::fromUtf8(bytes));
    if (links.isEmpty())
        return MakeError(TErrc::Refused, QStringLiteral("no link on standard input"));
    return links;
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

const QList<TCliCommand>& commands() {
    static const QList<TCliCommand> list = {
        {QStringLiteral("table"),
         QStringLiteral(
             "table [--json]     print the item table: one line per item with number, selection\n"
             "                     mark ([x] selected, [ ] not), title, price and delivery, separated by\n"
             "                     tabs; --json prints every row, the caption row included, as JSON"),
         [](const QStringList& a) -> TStatus {
             if (a.size() > 1 || (a.size() == 1 && a[0] != u"--json"))
                 return usage(QStringLiteral("table takes no arguments other than --json"));
             return {};
         },
         [](TCliContext& c, const QStringList& a) {
             return printTable(*c.core.Table(), !a.isEmpty(), c.out);
         }},
        {QStringLiteral("select"), QStringLiteral("select all         select every item"),
         [](const QStringList& a) -> TStatus {
             if (a.size() != 1 || a[0] != u"all")
                 return usage(QStringLiteral("the command is: select all"));
             return {};
         },
         [](TCliContext& c, const QStringList&) {
             c.core.Table()->SelectAll();
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("invert"), QStringLiteral("invert             invert the selection"),
         [](const QStringList& a) -> TStatus {
             if (!a.isEmpty())
                 return usage(QStringLiteral("invert takes no arguments"));
             return {};
         },
         [](TCliContext& c, const QStringList&) {
             c.core.Table()->InvertSelection();
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("toggle"),
         QStringLiteral("toggle ROW...      flip the selection of the given items (numbers as in `table`)"),
         [](const QStringList& a) { return checkRows(QStringLiteral("toggle"), a, false); },
         [](TCliContext& c, const QStringList& a) {
             const std::optional<QList<int>> rows = dataRows(c, a);
             if (!rows)
                 return int(TCliExit::Failure);
             for (int row : *rows)
                 c.core.Table()->ToggleMark(row);
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("delete"),
         QStringLiteral("delete ROW         delete one item; the items below it are renumbered"),
         [](const QStringList& a) { return checkRows(QStringLiteral("delete"), a, true); },
         [](TCliContext& c, const QStringList& a) {
             const std::optional<QList<int>> rows = dataRows(c, a);
             if (!rows)
                 return int(TCliExit::Failure);
             StringGridDel(*c.core.Table(), rows->first());
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("source"),
         QStringLiteral(
             "source taobao|1688|paipai\n"
             "                     choose the data source; a change empties the link list and the table"),
         [](const QStringList& a) { return oneOf(QStringLiteral("source"), a, SourceWords); },
         [](TCliContext& c, const QStringList& a) {
             c.core.ChangeDataSource(int(SourceWords.indexOf(a[0])));
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("kind"),
         QStringLiteral("kind item|shop|category\n"
                        "                     choose the link kind that `add` takes"),
         [](const QStringList& a) { return oneOf(QStringLiteral("kind"), a, KindWords); },
         [](TCliContext& c, const QStringList& a) {
             c.core.ChangeLinkKind(int(KindWords.indexOf(a[0])));
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("add"),
         QStringLiteral(
             "add TEXT...|-      add item links (several at once; - reads them from standard input,\n"
             "                     one per line) and say how many were added and how many were listed\n"
             "                     already; with kind shop/category crawl the shop at TEXT and add the\n"
             "                     link of every item found"),
         [](const QStringList& a) -> TStatus {
             if (a.isEmpty())
                 return usage(QStringLiteral("add needs a link or shop address, or - to read links"));
             for (const QString& link : a)
                 if (link.trimmed().isEmpty())
                     return usage(QStringLiteral("add takes no empty link"));
             if (a.size() > 1 && a.contains(QStringLiteral("-")))
                 return usage(
                     QStringLiteral("add - reads every link from standard input and takes no other"));
             return {};
         },
         [](TCliContext& c, const QStringList& a) {
             QStringList links = a;
             if (a == QStringList{QStringLiteral("-")}) {
                 const TResult<QStringList> read = readLinksFromStandardInput();
                 if (!read) {
                     c.err << "tovrel-cli: " << read.error().Detail << '\n';
                     return int(TCliExit::Failure);
                 }
                 links = *read;
             }
             if (links.size() > 1) {
                 if (c.core.Choices().LinkKind != KindItem) {
                     c.err << "tovrel-cli: a crawl takes one shop address\n";
                     return int(TCliExit::Failure);
                 }
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
             if (added == TAdd::Nothing) {
                 c.err << "tovrel-cli: nothing to add: this data source has no shop crawler\n";
                 return int(TCliExit::Failure);
             }
             return int(added == TAdd::Added ? TCliExit::Ok : TCliExit::Failure);
         }},
        {QStringLiteral("remove"),
         QStringLiteral("remove N           remove link N of the list (numbers as in `list`)"),
         [](const QStringList& a) -> TStatus {
             if (a.size() != 1 || !parseRow(a[0]))
                 return usage(QStringLiteral("remove needs one link number"));
             return {};
         },
         [](TCliContext& c, const QStringList& a) {
             const int n = *parseRow(a[0]);
             if (!c.core.RemoveLink(n - 1)) {
                 c.err << "tovrel-cli: link " << n << " does not exist: the list has "
                       << c.core.Links()->Count() << " link(s)\n";
                 return int(TCliExit::Failure);
             }
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("clear"), QStringLiteral("clear              empty the link list"),
         [](const QStringList& a) { return noArguments(QStringLiteral("clear"), a); },
         [](TCliContext& c, const QStringList&) {
             c.core.ClearLinks();
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("list"),
         QStringLiteral("list               print the link list, one numbered link per line"),
         [](const QStringList& a) { return noArguments(QStringLiteral("list"), a); },
         [](TCliContext& c, const QStringList&) {
             const QStringList links = c.core.Links()->Items();
             for (int i = 0; i < links.size(); ++i)
                 c.out << i + 1 << '\t' << flat(links[i]) << '\n';
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("watermark-text"),
         QStringLiteral("watermark-text TEXT\n"
                        "                     set the watermark text that new rows and pictures take"),
         [](const QStringList& a) -> TStatus {
             if (a.size() != 1)
                 return usage(QStringLiteral("watermark-text needs one text"));
             return {};
         },
         [](TCliContext& c, const QStringList& a) {
             c.core.UpdateChoices([&a](TChoices& ch) { ch.WatermarkText = a[0]; });
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("search"),
         QStringLiteral(
             "search [--title-price]\n"
             "                     download every listed link into the table; --title-price appends\n"
             "                     \"_\" and the price to each title (data source taobao)"),
         [](const QStringList& a) -> TStatus {
             if (a.size() > 1 || (a.size() == 1 && a[0] != u"--title-price"))
                 return usage(QStringLiteral("search takes no arguments other than --title-price"));
             return {};
         },
         [](TCliContext& c, const QStringList& a) {
             const bool titlePrice = !a.isEmpty();
             c.core.UpdateChoices([titlePrice](TChoices& ch) { ch.TitleWithPrice = titlePrice; });
             const int before = c.core.Table()->RowCount();
             const std::optional<TJobResult> search = runJob(c.core, [&] { return c.core.StartSearch(); });
             c.err << "the table holds " << c.core.Table()->RowCount() - 1 << " item(s), "
                   << c.core.Table()->RowCount() - before << " new\n";
             return search ? jobStatus(c, *search, TJobKind::Search) : int(TCliExit::Failure);
         }},
        {QStringLiteral("export"),
         QStringLiteral(
             "export DIR [--no-main-pictures] [--no-props] [--price-factor F] [--price-add A]\n"
             "                     export the selected items as a Taobao Assistant package in DIR and\n"
             "                     print the CSV file's path; the flags are the options \"不下载商品主图\"\n"
             "                     and \"不下载商品属性\"; the exported prices are price × F + A, rounded\n"
             "                     to two decimals (\"价格调整\", kept for later exports; without them\n"
             "                     the kept values hold, at first 1 and 0)"),
         [](const QStringList& a) -> TStatus {
             const TResult<TExportOptions> options = parseExportOptions(a);
             if (!options)
                 return options.error();
             return checkFolderAndFlags(QStringLiteral("export"), options->rest,
                                        {QStringLiteral("--no-main-pictures"), QStringLiteral("--no-props")});
         },
         [](TCliContext& c, const QStringList& a) {
             const TExportOptions options = *parseExportOptions(a);
             const QString folder = existingFolder(c, options.rest);
             if (folder.isEmpty())
                 return int(TCliExit::Failure);
             const bool noPictures = a.contains(QStringLiteral("--no-main-pictures"));
             const bool noProps = a.contains(QStringLiteral("--no-props"));
             c.core.UpdateChoices([&](TChoices& ch) {
                 ch.NoMainPictures = noPictures;
                 ch.NoProperties = noProps;
                 ch.PriceFactor = options.factor.value_or(ch.PriceFactor);
                 ch.PriceAmount = options.amount.value_or(ch.PriceAmount);
             });
             const TExportJob job = ExportJobFor(folder);
             if (FileInUse(job.csvPath)) {
                 c.err << FileInUseMessage() << '\n';
                 return int(TCliExit::Failure);
             }
             const std::optional<TJobResult> exported =
                 runJob(c.core, [&] { return c.core.StartExport(job); });
             if (!exported || exported->Outcome != TJobOutcome::Done)
                 return exported ? jobStatus(c, *exported, TJobKind::Export) : int(TCliExit::Failure);
             c.out << QDir::toNativeSeparators(job.csvPath) << '\n';
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("pictures"),
         QStringLiteral(
             "pictures DIR [--title-price]\n"
             "                     download the pictures of the selected items into a folder per item\n"
             "                     in DIR, watermarked, and print each item folder; --title-price names\n"
             "                     them title_price_n_suffix (data source taobao)"),
         [](const QStringList& a) {
             return checkFolderAndFlags(QStringLiteral("pictures"), a, {QStringLiteral("--title-price")});
         },
         [](TCliContext& c, const QStringList& a) {
             const QString folder = existingFolder(c, a);
             if (folder.isEmpty())
                 return int(TCliExit::Failure);
             const bool titlePrice = a.contains(QStringLiteral("--title-price"));
             c.core.UpdateChoices([titlePrice](TChoices& ch) { ch.TitleWithPrice = titlePrice; });
             const std::optional<TJobResult> pictures =
                 runJob(c.core, [&] { return c.core.StartPictureDownload(folder); });
             if (!pictures)
                 return int(TCliExit::Failure);
             for (const QString& itemFolder : pictures->Produced)
                 c.out << itemFolder << '\n';
             return jobStatus(c, *pictures, TJobKind::Pictures);
         }},
        {QStringLiteral("edit"),
         QStringLiteral(
             "edit ROW [--title T] [--category T] [--price T] [--delivery T] [--detail-file FILE]\n"
             "                     change the named parts of item ROW (as numbered by `table`);\n"
             "                     --detail-file gives the description (UTF-8, or the code page when\n"
             "                     it is no UTF-8), kept as it stands"),
         [](const QStringList& a) -> TStatus {
             if (a.isEmpty() || !parseRow(a[0]))
                 return usage(QStringLiteral("edit needs an item number"));
             const TResult<TEditArgs> parsed = parseEdit(a.mid(1));
             return parsed ? TStatus() : TStatus(parsed.error());
         },
         [](TCliContext& c, const QStringList& a) {
             const TEditArgs args = *parseEdit(a.mid(1));
             TItemEdit edit = args.edit;
             if (!args.detailFile.isEmpty()) {
                 // As large as a description the marketplace sends may be.
                 constexpr qint64 MaxDetailBytes = 16 << 20;
                 const TResult<QByteArray> bytes = ReadChosenFile(args.detailFile, MaxDetailBytes);
                 if (!bytes) {
                     c.err << "tovrel-cli: cannot read " << args.detailFile << ": " << bytes.error().Detail
                           << '\n';
                     return int(TCliExit::Failure);
                 }
                 edit.LocalDetail = DecodeUserText(*bytes);
             }
             if (const TStatus edited = c.core.EditItem(*parseRow(a[0]), edit); !edited) {
                 c.err << "tovrel-cli: " << edited.error().Detail << ": the table has "
                       << c.core.Table()->RowCount() - 1 << " item(s)\n";
                 return int(TCliExit::Failure);
             }
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("batch-watermark"),
         QStringLiteral(
             "batch-watermark    give every selected item the current watermark text (\"批量修改水印文字\")"),
         [](const QStringList& a) { return noArguments(QStringLiteral("batch-watermark"), a); },
         [](TCliContext& c, const QStringList&) {
             c.err << c.core.BatchWatermark() << " item(s) got the watermark text\n";
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("retitle"),
         QStringLiteral(
             "retitle FILE       replace the titles of items 1 to n by the n lines of FILE "
             "(\"批量替换宝贝名称\");\n"
             "                     nothing changes when the file has no line or more lines than items"),
         [](const QStringList& a) -> TStatus {
             if (a.size() != 1 || a[0].trimmed().isEmpty())
                 return usage(QStringLiteral("retitle needs one file"));
             return {};
         },
         [](TCliContext& c, const QStringList& a) {
             const TResult<int> replaced = c.core.RetitleFromFile(a[0]);
             if (!replaced) {
                 c.err << "tovrel-cli: no title changed: " << replaced.error().Detail << '\n';
                 return int(TCliExit::Failure);
             }
             c.err << *replaced << " title(s) replaced\n";
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("clear-cache"),
         QStringLiteral("clear-cache        remove the cached replies older than 15 days (\"清除临时数据\")"),
         [](const QStringList& a) { return noArguments(QStringLiteral("clear-cache"), a); },
         [](TCliContext& c, const QStringList&) {
             if (const TStatus cleared = c.core.ClearTemporaryData(); !cleared) {
                 c.err << cleared.error().Detail << '\n';
                 return int(TCliExit::Failure);
             }
             return int(TCliExit::Ok);
         }},
        {QStringLiteral("check-update"),
         QStringLiteral("check-update       print the running and the latest version and whether an update\n"
                        "                     is offered"),
         [](const QStringList& a) { return noArguments(QStringLiteral("check-update"), a); },
         [](TCliContext& c, const QStringList&) {
             c.out << "running version: " << TAppCore::FileVersionText() << '\n'
                   << "latest version: " << TAppCore::LatestVersion() << '\n'
                   << (c.core.UpdateOffered() ? "an update is offered"
                                              : "no update: this is the latest version")
                   << '\n';
             return int(TCliExit::Ok);
         },
         false},
        {QStringLiteral("update"),
         QStringLiteral(
             "update             when an update is offered, download the published window executable,\n"
             "                     check it and stage it in bak/ beside the executables, and start the\n"
             "                     script that puts it in place of Tovrel there once no process runs it;\n"
             "                     prints the staged file"),
         [](const QStringList& a) { return noArguments(QStringLiteral("update"), a); },
         [](TCliContext& c, const QStringList&) {
             if (!c.core.UpdateOffered()) {
                 c.err << "no update: " << TAppCore::FileVersionText() << " is the latest version\n";
                 return int(TCliExit::Ok);
             }
             const std::optional<TJobResult> downloaded =
                 runJob(c.core, [&] { return c.core.StartUpdateDownload(); });
             if (!downloaded || downloaded->Outcome != TJobOutcome::Done)
                 return downloaded ? jobStatus(c, *downloaded, TJobKind::Update) : int(TCliExit::Failure);
             if (const TStatus started = c.core.ApplyUpdate(false); !started) {
                 c.err << "tovrel-cli: the update was staged but cannot be put in place: "
                       << started.error().Detail << '\n';
                 return int(TCliExit::Failure);
             }
             c.out << QDir::toNativeSeparators(StagedExecutable(TPaths::InstallDir())) << '\n';
             c.err << "version " << TAppCore::LatestVersion() << " replaces "
                   << QDir::toNativeSeparators(
                          QDir(TPaths::InstallDir()).filePath(TPaths::WindowExecutableName()))
                   << " once no process runs it\n";
             return int(TCliExit::Ok);
         },
         false},
        {QStringLiteral("fetch"),
         QStringLiteral(
             "fetch PROFILE URL [-o FILE] [--data FORM]\n"
             "                     fetch URL with one request profile and print what it returns\n"
             "                     (HOpen: the byte count; -o writes the bytes to FILE); checks a\n"
             "                     connection or a proxy. PROFILE is one of HGetText, HGetTextNew,\n"
             "                     HGetTextLib, HGetTextPage, Htaobao_curl_detail, HPost (--data is\n"
             "                     the form it sends), HGet, HGetN, HOpen, HGetTextFileStr"),
         [](const QStringList& a) -> TStatus {
             QString problem;
             const std::optional<TFetchArgs> f = parseFetch(a, &problem);
             if (!f)
                 return usage(problem);
             if (!TProfile::Named(f->profile))
                 return usage(QStringLiteral("unknown profile: ") + f->profile);
             return {};
         },
         runFetch, false},
    };
    return list;
}

const TCliCommand* findCommand(const QString& name) {
    for (const TCliCommand& c : commands())
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace

QString CliUsage() {
    QString usage = QStringLiteral(
        "usage: tovrel-cli [--workdir DIR] COMMAND [ARGS]\n"
        "       tovrel-cli --help | --version\n"
        "\n"
        "Runs one command on the program's saved state (the working directory, by default the\n"
        "folder of the executable) and saves the state again, as the window does when it closes.\n"
        "\n"
        "commands:\n");
    for (const TCliCommand& c : commands())
        usage += QStringLiteral("  ") + c.usage + QLatin1Char('\n');
    usage += QStringLiteral("\nexit status: 0 success, 1 failure, 2 usage error\n");
    return usage;
}

namespace {

// The invocation the arguments make: the options, the command and its arguments (checked before
// anything is loaded, so a usage error touches no file). Fails (TErrc::Refused) with what is wrong.
TResult<TInvocation> parseInvocation(const QStringList& args) {
    TInvocation inv;
    qsizetype i = 0;
    for (; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--help" || a == u"-h") {
            inv.help = true;
            return inv;
        }
        if (a == u"--version") {
            inv.version = true;
            return inv;
        }
        if (a == u"--workdir") {
            if (i + 1 >= args.size() || args[i + 1].trimmed().isEmpty())
                return MakeError(TErrc::Refused, QStringLiteral("--workdir needs a folder"));
            inv.workDir = args[++i];
            continue;
        }
        if (a.startsWith(u"--"))
            return MakeError(TErrc::Refused, QStringLiteral("unknown option: ") + a);
        break;
    }
    if (i >= args.size())
        return MakeError(TErrc::Refused, QStringLiteral("no command given"));
    inv.command = args[i];
    inv.args = args.mid(i + 1);
    const TCliCommand* command = findCommand(inv.command);
    if (!command)
        return MakeError(TErrc::Refused, QStringLiteral("unknown command: ") + inv.command);
    if (const TStatus checked = command->check(inv.args); !checked)
        return checked.error();
    return inv;
}

} // namespace

int RunCli(const QStringList& args, QTextStream& out, QTextStream& err) {
    const TResult<TInvocation> parsed = parseInvocation(args);
    if (!parsed) {
        err << "tovrel-cli: " << parsed.error().Detail << "\n\n" << CliUsage();
        return int(TCliExit::Usage);
    }
    const TInvocation& inv = *parsed;
    if (inv.help) {
        out << CliUsage();
        return int(TCliExit::Ok);
    }
    if (inv.version) {
        out << "tovrel-cli " << TAppCore::FileVersionText() << '\n';
        return int(TCliExit::Ok);
    }
    const TCliCommand* command = findCommand(inv.command);

    if (!inv.workDir.isEmpty()) {
        if (!QDir(inv.workDir).exists()) {
            err << "tovrel-cli: the working folder does not exist: " << inv.workDir << '\n';
            return int(TCliExit::Failure);
        }
        TPaths::SetWorkDir(inv.workDir);
    }

    TAppCore core;
    // The texts the window would show go to the error stream, one line each. Jobs report from
    // their threads, so the writes are serialised.
    auto errLock = std::make_shared<QMutex>();
    auto say = [&err, errLock](const QString& text) {
        QMutexLocker lock(errLock.get());
        err << text << '\n';
        err.flush();
    };
    QObject::connect(&core, &TAppCore::statusTextChanged, &core, say, Qt::DirectConnection);
    QObject::connect(&core, &TAppCore::logLine, &core, say, Qt::DirectConnection);
    QObject::connect(&core, &TAppCore::progress, &core, say, Qt::DirectConnection);
    // A line per finished step, as the window's first status panel counts it, and what came of
    // the job when it ends. The update download's bytes are not counted line by line.
    QObject::connect(
        &core, &TAppCore::jobAdvanced, &core,
        [say](TJobKind kind, qint64 done, qint64 total, const QString& detail) {
            if (kind == TJobKind::Update || done == 0)
                return;
            const QString step = TAppCore::ProgressText(kind, done, total);
            say(detail.isEmpty() ? step : step + QLatin1Char(' ') + flat(detail));
        },
        Qt::DirectConnection);
    QObject::connect(
        &core, &TAppCore::jobFinished, &core,
        [say](TJobKind kind, const TJobResult& result) {
            if (kind != TJobKind::Update)
                say(TAppCore::OutcomeText(kind, result));
        },
        Qt::DirectConnection);
    QObject::connect(
        &core, &TAppCore::logCleared, &core, [] {}, Qt::DirectConnection);
    QObject::connect(
        &core, &TAppCore::messageShown, &core, [say](const QString& text, const QString&) { say(text); },
        Qt::DirectConnection);

    // Ctrl+C, SIGTERM or a closed terminal stop the running job the way the window's close does:
    // what was finished stays and is saved, and the exit status tells that it was interrupted.
    TTerminationWatcher termination;
    QObject::connect(&termination, &TTerminationWatcher::terminationRequested, &core, [&core, say](int) {
        say(QStringLiteral("stopping: the work finished so far is kept"));
        core.AskJobsToStop();
    });

    TCliContext context{core, out, err};
    if (!command->usesWorkFolder) {
        const int status = command->run(context, inv.args);
        out.flush();
        return status;
    }
    // One process writes a working folder at a time.
    if (const TStatus started = core.Startup(); !started) {
        err << "tovrel-cli: " << core.FolderBusyMessage() << '\n';
        return int(TCliExit::Failure);
    }
    int status = command->run(context, inv.args);
    // Jobs are stopped and waited for, then what changed is saved. A change that could not be
    // saved is a failure (the reasons have been printed).
    if (const TStatus saved = core.Shutdown(); !saved && status == int(TCliExit::Ok))
        status = int(TCliExit::Failure);
    if (TTerminationWatcher::LastRequest() != 0)
        status = int(TCliExit::Interrupted);
    out.flush();
    err.flush();
    return status;
}
