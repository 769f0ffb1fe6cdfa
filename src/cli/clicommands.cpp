#include "cli/clicommand.h"

#include "app/appcore.h"
#include "app/session.h"
#include "cli/clicommands.h"
#include "cli/clioutput.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
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
        return usage(command + QStringLiteral(" 不带参数"));
    return {};
}

TStatus oneOf(const QString& command, const TCliArgs& a, const QStringList& words) {
    if (a.positional.size() != 1 || !words.contains(a.positional[0]))
        return usage(QStringLiteral("命令的写法是：") + command + QLatin1Char(' ') +
                     words.join(QLatin1Char('|')));
    return {};
}

TStatus itemNumbers(const QString& command, const TCliArgs& a, bool single) {
    if (a.positional.isEmpty() || (single && a.positional.size() != 1))
        return usage(single ? command + QStringLiteral(" 需要一个行号")
                            : command + QStringLiteral(" 需要一个或多个行号"));
    for (const QString& text : a.positional)
        if (!parseNumber(text))
            return usage(QStringLiteral("不是行号：") + text);
    return {};
}

TStatus oneFolder(const QString& command, const TCliArgs& a) {
    if (a.positional.size() != 1 || a.positional[0].trimmed().isEmpty())
        return usage(command + QStringLiteral(" 需要一个文件夹"));
    return {};
}

// Every number must be an item of the table; checked before any change is made.
std::optional<QList<int>> itemRows(TCliContext& c, const TCliArgs& a) {
    const int rowCount = c.core.Items().RowCount();
    QList<int> rows;
    for (const QString& text : a.positional) {
        const int row = *parseNumber(text);
        if (row < 1 || row >= rowCount) {
            c.err << "tovrel-cli: 第 " << row << " 行不存在：表格中有 " << rowCount - 1 << " 个宝贝\n";
            return std::nullopt;
        }
        rows.append(row);
    }
    return rows;
}

// The folder argument as an absolute path, or the empty text after telling the user it does not exist.
QString existingFolder(TCliContext& c, const QString& folder) {
    if (!QDir(folder).exists()) {
        c.err << "tovrel-cli: 文件夹不存在：" << folder << '\n';
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
        return usage(QStringLiteral("命令的写法是：select all"));
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
        return usage(QStringLiteral("edit 需要一个宝贝序号"));
    if (a.Has(QStringLiteral("detail-file")) && a.Value(QStringLiteral("detail-file")).trimmed().isEmpty())
        return usage(QStringLiteral("--detail-file 需要一个文件"));
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
            return failure(c,
                           QStringLiteral("无法读取 ") + file + QStringLiteral("：") + detail.error().Detail);
        edit.LocalDetail = *detail;
    }
    if (const TStatus edited = c.core.EditItem(*parseNumber(a.positional[0]), edit); !edited)
        return failure(c, edited.error().Detail +
                              QStringLiteral("：表格中有 %1 个宝贝").arg(c.core.Items().RowCount() - 1));
    return int(TCliExit::Ok);
}

int runBatchWatermark(TCliContext& c, const TCliArgs&) {
    c.err << c.core.BatchWatermark() << " 个宝贝的水印文字已修改\n";
    return int(TCliExit::Ok);
}

TStatus checkRetitle(const TCliArgs& a) {
    if (a.positional.size() != 1 || a.positional[0].trimmed().isEmpty())
        return usage(QStringLiteral("retitle 需要一个文件"));
    return {};
}

int runRetitle(TCliContext& c, const TCliArgs& a) {
    const TResult<int> replaced = c.core.RetitleFromFile(a.positional[0]);
    if (!replaced)
        return failure(c, QStringLiteral("没有修改任何宝贝名称：") + replaced.error().Detail);
    c.err << "已替换 " << *replaced << " 个宝贝名称\n";
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
        return usage(QStringLiteral("add 需要宝贝连接或店铺地址，或用 - 从标准输入读取连接"));
    for (const QString& link : links)
        if (link.trimmed().isEmpty())
            return usage(QStringLiteral("add 不接受空的连接"));
    if (links.size() > 1 && links.contains(QStringLiteral("-")))
        return usage(QStringLiteral("add - 从标准输入读取全部连接，不再接受别的连接"));
    return {};
}

// The links piped to standard input: one per line (any white space separates them).
TResult<QStringList> readLinksFromStandardInput() {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return MakeError(TErrc::Io, QStringLiteral("无法读取标准输入：") + in.errorString());
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
        return MakeError(TErrc::Io, QStringLiteral("无法读取标准输入：") + in.errorString());
    if (bytes.size() > MaxLinkBytes)
        return MakeError(TErrc::Refused, QStringLiteral("标准输入中的连接超过 256 MB"));
    const QStringList links = TSession::SplitLinks(QString::fromUtf8(bytes));
    if (links.isEmpty())
        return MakeError(TErrc::Refused, QStringLiteral("标准输入中没有连接"));
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
            return failure(c, QStringLiteral("店铺连接一次只能添加一个店铺地址"));
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
        return failure(c, QStringLiteral("无法添加：这个数据来源不能按店铺查找宝贝"));
    return int(added == TAdd::Added ? TCliExit::Ok : TCliExit::Failure);
}

TStatus checkRemove(const TCliArgs& a) {
    if (a.positional.size() != 1 || !parseNumber(a.positional[0]))
        return usage(QStringLiteral("remove 需要一个连接序号"));
    return {};
}

int runRemove(TCliContext& c, const TCliArgs& a) {
    const int n = *parseNumber(a.positional[0]);
    if (!c.core.RemoveLink(n - 1))
        return failure(
            c,
            QStringLiteral("第 %1 个连接不存在：列表中有 %2 个连接").arg(n).arg(c.core.LinkItems().Count()));
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
        return usage(QStringLiteral("watermark-text 需要一段文字"));
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
    c.err << "表格中共有 " << after - 1 << " 个宝贝，新增 " << after - before << " 个\n";
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
            factor ? QStringLiteral("--price-factor 需要大于 0、不超过 %1 的数").arg(int(MaxPriceFactor))
                   : QStringLiteral("--price-add 需要 -%1 到 %1 之间的数").arg(qint64(MaxPriceAmount)));
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
    c.out << "当前版本：" << TAppCore::FileVersionText() << '\n';
    // An update replaces the window program: once it is in place, that program's version counts.
    if (c.core.InstalledVersion() != TAppCore::FileVersionText())
        c.out << "窗口程序版本：" << c.core.InstalledVersion() << '\n';
    c.out << "最新版本：" << TAppCore::LatestVersion() << '\n'
          << (c.core.UpdateOffered() ? "有可用的更新" : "没有更新：已经是最新版本") << '\n';
    if (c.core.UpdateOffered() && TAppCore::InstalledByPackageManager())
        c.out << TAppCore::PackageManagerUpdateMessage() << '\n';
    return int(TCliExit::Ok);
}

int runUpdate(TCliContext& c, const TCliArgs&) {
    if (!c.core.UpdateOffered()) {
        c.err << "没有更新：" << c.core.InstalledVersion() << " 已经是最新版本\n";
        return int(TCliExit::Ok);
    }
    if (TAppCore::InstalledByPackageManager())
        return failure(c, TAppCore::PackageManagerUpdateMessage());
    const std::optional<TJobResult> downloaded = runJob(c.core, [&] { return c.core.StartUpdateDownload(); });
    if (!downloaded || downloaded->Outcome != TJobOutcome::Done)
        return downloaded ? jobStatus(c, *downloaded, TJobKind::Update) : int(TCliExit::Failure);
    if (const TStatus started = c.core.ApplyUpdate(false); !started)
        return failure(c, QStringLiteral("更新已下载并检查，但无法安装：") + started.error().Detail);
    // The staged programs: the window's, and this one's when the publisher signed it too.
    QStringList replaced;
    for (const QString& staged : downloaded->Produced) {
        c.out << QDir::toNativeSeparators(staged) << '\n';
        replaced.append(
            QDir::toNativeSeparators(QDir(TSession::InstallFolder()).filePath(QFileInfo(staged).fileName())));
    }
    c.err << "没有进程运行 " << replaced.join(QStringLiteral("、")) << " 时，版本 "
          << TAppCore::LatestVersion() << " 将替换它\n";
    return int(TCliExit::Ok);
}

// fetch PROFILE URL [-o FILE] [--data FORM]
TStatus checkFetch(const TCliArgs& a) {
    if (a.positional.size() != 2)
        return usage(QStringLiteral("fetch 需要请求方式和网址"));
    if (!TSession::IsProfile(a.positional[0]))
        return usage(QStringLiteral("未知的请求方式：") + a.positional[0]);
    return {};
}

int runFetch(TCliContext& c, const TCliArgs& a) {
    const QString url = a.positional[1];
    const TResult<TSession::TFetched> fetched =
        TSession::Fetch(a.positional[0], url, a.Value(QStringLiteral("data")).toUtf8());
    if (!fetched)
        return failure(c, url + QStringLiteral(" 没有回应：") + fetched.error().Detail);
    if (fetched->Binary) {
        c.out << fetched->Bytes.size() << " 字节\n";
        const QString outFile = a.Value(QStringLiteral("o"));
        if (!outFile.isEmpty())
            if (const TStatus written = TSession::WriteFile(outFile, fetched->Bytes); !written)
                return failure(c, QStringLiteral("无法写入 ") + outFile + QStringLiteral("：") +
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
             "table [--json]     打印宝贝表格：每个宝贝一行，依次是序号、选择标记（[x] 选中，[ ] 未选）、\n"
             "                     商品名称、价格和配送方式，以制表符分隔；--json 以 JSON 打印每一行，\n"
             "                     包括标题行"),
         {flag(QStringLiteral("json"))},
         without(QStringLiteral("table")),
         runTable},
        {QStringLiteral("select"),
         QStringLiteral("select all         选中全部宝贝"),
         {},
         checkSelect,
         runSelect},
        {QStringLiteral("invert"),
         QStringLiteral("invert             反选"),
         {},
         without(QStringLiteral("invert")),
         runInvert},
        {QStringLiteral("toggle"),
         QStringLiteral("toggle ROW...      切换所列宝贝的选中状态（序号同 `table`）"),
         {},
         [](const TCliArgs& a) { return itemNumbers(QStringLiteral("toggle"), a, false); },
         runToggle},
        {QStringLiteral("delete"),
         QStringLiteral("delete ROW         删除一个宝贝，后面的宝贝重新编号"),
         {},
         [](const TCliArgs& a) { return itemNumbers(QStringLiteral("delete"), a, true); },
         runDelete},
        {QStringLiteral("source"),
         QStringLiteral("source taobao|1688|paipai\n"
                        "                     选择数据来源；换成别的来源会清空商品列表和宝贝表格"),
         {},
         [](const TCliArgs& a) { return oneOf(QStringLiteral("source"), a, SourceWords); },
         runSource,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("kind"),
         QStringLiteral("kind item|shop|category\n"
                        "                     选择 `add` 添加的连接类型：宝贝连接、店铺连接、店铺分类"),
         {},
         [](const TCliArgs& a) { return oneOf(QStringLiteral("kind"), a, KindWords); },
         runKind,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("add"),
         QStringLiteral(
             "add TEXT...|-      添加宝贝连接（可一次添加多个；- 从标准输入读取，每行一个），并说明添加了\n"
             "                     几个、几个已在列表中、哪些不是宝贝连接；连接类型为店铺连接或店铺分类时，\n"
             "                     查找 TEXT 店铺中的全部宝贝并添加它们的连接"),
         {},
         checkAdd,
         runAdd,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("remove"),
         QStringLiteral("remove N           移除商品列表中的第 N 个连接（序号同 `list`）"),
         {},
         checkRemove,
         runRemove,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("clear"),
         QStringLiteral("clear              清空商品列表"),
         {},
         without(QStringLiteral("clear")),
         runClear,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("list"),
         QStringLiteral("list               打印商品列表，每行一个带序号的连接"),
         {},
         without(QStringLiteral("list")),
         runList,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("watermark-text"),
         QStringLiteral("watermark-text TEXT\n"
                        "                     设置新宝贝和图片使用的水印文字"),
         {},
         checkWatermarkText,
         runWatermarkText,
         TCliCommand::TState::AllButTable},
        {QStringLiteral("search"),
         QStringLiteral(
             "search [--title-price]\n"
             "                     把列表中的每个连接下载到宝贝表格；--title-price 在每个商品名称后\n"
             "                     加上 \"_\" 和价格（数据来源为淘宝时）"),
         {flag(QStringLiteral("title-price"))},
         without(QStringLiteral("search")),
         runSearch},
        {QStringLiteral("export"),
         QStringLiteral(
             "export DIR [--no-main-pictures] [--no-props] [--price-factor F] [--price-add A]\n"
             "                     把选中的宝贝导出为淘宝助理数据包，保存在 DIR 中，并打印 CSV 文件的\n"
             "                     路径；两个开关即选项 \"不下载商品主图\" 和 "
             "\"不下载商品属性\"；导出的价格为\n"
             "                     价格 × F + A，保留两位小数（\"价格调整\"，之后的导出沿用；不给出时\n"
             "                     沿用保存的值，最初为 1 和 0）"),
         {flag(QStringLiteral("no-main-pictures")), flag(QStringLiteral("no-props")),
          valued(QStringLiteral("price-factor"), QStringLiteral("F")),
          valued(QStringLiteral("price-add"), QStringLiteral("A"))},
         checkExport,
         runExport},
        {QStringLiteral("pictures"),
         QStringLiteral(
             "pictures DIR [--title-price]\n"
             "                     把选中宝贝的图片下载到 DIR 中，每个宝贝一个文件夹，加上水印，并打印\n"
             "                     每个宝贝的文件夹；--title-price 用 名称_价格_n_后缀 "
             "命名（数据来源为淘宝时）"),
         {flag(QStringLiteral("title-price"))},
         [](const TCliArgs& a) { return oneFolder(QStringLiteral("pictures"), a); },
         runPictures},
        {QStringLiteral("edit"),
         QStringLiteral(
             "edit ROW [--title T] [--category T] [--price T] [--delivery T] [--detail-file FILE]\n"
             "                     修改第 ROW 个宝贝（序号同 `table`）中给出的部分；--detail-file 给出\n"
             "                     宝贝描述（UTF-8，不是 UTF-8 时按系统代码页读取），原样保存"),
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
         QStringLiteral("batch-watermark    把当前水印文字用于每个选中的宝贝（\"批量修改水印文字\"）"),
         {},
         without(QStringLiteral("batch-watermark")),
         runBatchWatermark},
        {QStringLiteral("retitle"),
         QStringLiteral(
             "retitle FILE       用 FILE 的 n 行替换第 1 到第 n 个宝贝的名称（\"批量替换宝贝名称\"）；\n"
             "                     文件没有内容或行数多于宝贝数时不做任何修改"),
         {},
         checkRetitle,
         runRetitle},
        {QStringLiteral("clear-cache"),
         QStringLiteral("clear-cache        删除超过 15 天的缓存网页（\"清除临时数据\"）"),
         {},
         without(QStringLiteral("clear-cache")),
         runClearCache},
        {QStringLiteral("check-update"),
         QStringLiteral("check-update       打印当前版本、最新版本以及是否有可用的更新"),
         {},
         without(QStringLiteral("check-update")),
         runCheckUpdate,
         TCliCommand::TState::None},
        {QStringLiteral("update"),
         QStringLiteral(
             "update             有可用的更新时，下载发布者签名的窗口程序，检查后放在程序旁的 bak/ 中，\n"
             "                     并启动脚本：没有进程运行 Tovrel 时由它替换 Tovrel；打印下载的文件"),
         {},
         without(QStringLiteral("update")),
         runUpdate,
         TCliCommand::TState::None},
        {QStringLiteral("fetch"),
         QStringLiteral(
             "fetch PROFILE URL [-o FILE] [--data FORM]\n"
             "                     用一种请求方式获取 URL 并打印结果（HOpen 打印字节数；-o 把内容写入\n"
             "                     FILE），用来检查网络连接或代理。PROFILE 为 HGetText、HGetTextNew、\n"
             "                     HGetTextLib、HGetTextPage、Htaobao_curl_detail、HPost（--data 为它\n"
             "                     发送的表单）、HGet、HGetN、HOpen、HGetTextFileStr 之一"),
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
            return usage(rest.last() + QStringLiteral(" 需要一个值"));
        QStringList known;
        for (const QCommandLineOption& option : command.options)
            known.append((option.names().first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                         option.names().first());
        const QString name = unknown.first();
        return usage(command.name + QStringLiteral(" 只接受 ") + known.join(QStringLiteral("、")) +
                     QStringLiteral("，不接受 ") +
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
