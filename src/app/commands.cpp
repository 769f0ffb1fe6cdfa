// The commands of the core: the link-collection area, and the start of the search, the export and
// the picture download. They run on the core's thread and return at once; the work runs as jobs.
#include "app/appcore.h"

#include "acquire/offer1688.h"
#include "acquire/taobaoitem.h"
#include "base/text.h"
#include "base/textlines.h"
#include "collect/shopcrawler.h"
#include "config/servicevalues.h"
#include "export/csvexport.h"
#include "pictures/picturedownload.h"
#include "platform/fileinuse.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "update/update.h"
#include "web/pagecache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

QString TAppCore::DuplicateMessage() {
    return QStringLiteral("这个连接已经添加过了！");
}

namespace {

// Why a text cannot join the link list: it is no link, or the list is full; empty when it can.
QString whyNotAdded(const TLinkList& list, const QString& link) {
    const QString why = TLinkList::WhyNotALink(link);
    if (!why.isEmpty() || list.HasRoomFor(link))
        return why;
    return QStringLiteral("商品列表已满（最多 %1 个字符）").arg(MaxListChars);
}

} // namespace

QString TAppCore::WhyNotAnItemLink(int source, const QString& link) {
    return WhyNotAnItemLink(source, link, TServiceValues::Snapshot());
}

QString TAppCore::WhyNotAnItemLink(int source, const QString& link, const TServiceSnapshot& service) {
    const QUrl url(TrimText(link), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const QString host = url.host().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        host.isEmpty())
        return QStringLiteral("不是宝贝链接");
    auto onDomain = [&host](const QString& domain) {
        return !domain.isEmpty() && (host == domain || host.endsWith(QLatin1Char('.') + domain));
    };
    const QString configuredHost =
        service.Value(source == Source1688 ? TServiceKey::OfferHost1688 : TServiceKey::ItemHost).toLower();
    // An item of the marketplace: one of its domains, and the number that names the item (Taobao's
    // id=, 1688's offer number in the path).
    switch (source) {
    case Source1688:
        if (!(onDomain(QStringLiteral("1688.com")) || onDomain(configuredHost)))
            return QStringLiteral("不是 1688 的宝贝链接");
        if (!QRegularExpression(QStringLiteral("\\d")).match(url.path()).hasMatch())
            return QStringLiteral("不是宝贝链接（没有宝贝编号）");
        return {};
    case SourcePaipai:
        if (!(onDomain(QStringLiteral("paipai.com")) || onDomain(QStringLiteral("taobao.com")) ||
              onDomain(QStringLiteral("tmall.com")) || onDomain(configuredHost)))
            return QStringLiteral("不是拍拍或淘宝的宝贝链接");
        return {};
    default:
        if (!(onDomain(QStringLiteral("taobao.com")) || onDomain(QStringLiteral("tmall.com")) ||
              onDomain(configuredHost)))
            return QStringLiteral("不是淘宝或天猫的宝贝链接");
        if (TaobaoItemId(url.toString().toLower()).isEmpty()) // ID=, as a link in capitals writes it
            return QStringLiteral("不是宝贝链接（没有 id=）");
        return {};
    }
}

TAppCore::TAddResult TAppCore::AddLinks(const QStringList& links, TAddCounts* counts) {
    TAddCounts tally;
    const int source = Choices().DataSource;
    // service.ini's item host, read once for all the links.
    const TServiceSnapshot service = TServiceValues::Snapshot();
    for (qsizetype i = 0; i < links.size(); ++i) {
        if (const QString why = whyNotAdded(*m_links, links[i]); !why.isEmpty()) {
            if (tally.refused++ == 0)
                tally.refusal = QStringLiteral("第 %1 个：%2").arg(i + 1).arg(why);
            continue;
        }
        if (const QString why = WhyNotAnItemLink(source, links[i], service); !why.isEmpty()) {
            if (tally.refused++ == 0)
                tally.refusal = QStringLiteral("第 %1 行%2").arg(i + 1).arg(why);
            continue;
        }
        ++(m_links->AppendIfMissing(links[i]) ? tally.added : tally.listed);
    }
    SetStatusText(AddedLinksText(tally));
    if (counts)
        *counts = tally;
    return tally.added > 0     ? TAddResult::Added
           : tally.refused > 0 ? TAddResult::Refused
                               : TAddResult::Duplicate;
}

QString TAppCore::AddedLinksText(const TAddCounts& counts) {
    QString text = QStringLiteral("已添加 %1 个连接，%2 个已在列表中").arg(counts.added).arg(counts.listed);
    if (counts.refused > 0)
        text += QStringLiteral("，%1 个无法添加（%2）").arg(counts.refused).arg(counts.refusal);
    return text;
}

TAppCore::TAddResult TAppCore::AddLink(TAddCounts* counts) {
    TAddCounts tally;
    if (!counts)
        counts = &tally;
    *counts = TAddCounts();
    UpdateChoices([](TChoices& c) { c.LinkText = TrimText(c.LinkText); });
    const TChoices choices = Choices();
    const QStringList links = TLinkList::SplitLinks(choices.LinkText);
    if (choices.LinkKind != KindItem) {
        // Taobao and 1688 shops are crawled; Paipai has no crawler.
        if (choices.DataSource != SourceTaobao && choices.DataSource != Source1688)
            return TAddResult::Nothing;
        if (links.size() > 1) {
            ShowMessage(QStringLiteral("一次只能抓取一个店铺，请只留下一个店铺连接。"),
                        QStringLiteral("提示"));
            return TAddResult::Refused;
        }
        const QString shop = choices.LinkText;
        const bool taobao = choices.DataSource == SourceTaobao;
        const bool started = StartJob(TJobKind::Crawl, [this, shop, taobao](const TJobContext& job) {
            return taobao ? CrawlTaoBaoShop(job, *m_links, shop) : Crawl1688Shop(job, *m_links, shop);
        });
        return started ? TAddResult::CrawlStarted : TAddResult::Busy;
    }
    if (links.size() > 1) {
        const TAddResult added = AddLinks(links, counts);
        UpdateChoices([](TChoices& c) { c.LinkText.clear(); });
        return added;
    }
    if (const QString why = whyNotAdded(*m_links, choices.LinkText); !why.isEmpty()) {
        counts->refused = 1;
        counts->refusal = why;
        ShowMessage(QStringLiteral("这个连接无法添加：") + why, QStringLiteral("提示"));
        return TAddResult::Refused;
    }
    if (const QString why = WhyNotAnItemLink(choices.DataSource, choices.LinkText); !why.isEmpty()) {
        counts->refused = 1;
        counts->refusal = QStringLiteral("第 1 行") + why;
        ShowMessage(QStringLiteral("这个连接无法添加：第 1 行") + why, QStringLiteral("提示"));
        return TAddResult::Refused;
    }
    if (m_links->AppendIfMissing(choices.LinkText)) {
        counts->added = 1;
        return TAddResult::Added;
    }
    counts->listed = 1;
    ShowMessage(DuplicateMessage(), QStringLiteral("提示"));
    return TAddResult::Duplicate;
}

bool TAppCore::RemoveLink(int index) {
    return m_links->RemoveAt(index);
}

void TAppCore::ClearLinks() {
    m_links->Clear();
}

QString TAppCore::AddressTemplate(int source, int kind) {
    if (kind != KindShop)
        return {};
    if (source == SourceTaobao)
        return QStringLiteral("http://XXXXXXXX.") + TServiceValues::Value(TServiceKey::TaobaoShopDomain);
    if (source == Source1688)
        return QStringLiteral("http://XXXXXXXX.") + TServiceValues::Value(TServiceKey::ShopDomain1688);
    return {};
}

void TAppCore::ChangeLinkKind(int kind) {
    UpdateChoices([kind](TChoices& c) {
        c.LinkKind = kind;
        c.LinkText = AddressTemplate(c.DataSource, kind);
    });
}

void TAppCore::ChangeDataSource(int source) {
    if (Choices().DataSource == source)
        return;
    // The table is emptied: it is read first, so that a file that cannot be read is kept (and the
    // empty table not written over it).
    LoadTable();
    UpdateChoices([source](TChoices& c) { c.DataSource = source; });
    m_links->Clear();
    m_grid->ResetGrid();
}

bool TAppCore::StartSearch(const std::function<void()>& closeEditor) {
    if (Busy())
        return false;
    if (closeEditor)
        closeEditor();
    // The search works through the list as it stands now; later changes of the list do not
    // affect it. A link whose item is in the table already is passed by: searching again must
    // not give every row twice.
    QSet<QString> inTable;
    for (int r = 1; r < m_grid->RowCount(); ++r)
        inTable.insert(TrimText(m_grid->Cell(ColLink, r)).toLower());
    QStringList links;
    qint64 known = 0;
    for (const QString& link : m_links->Items()) {
        if (inTable.contains(TrimText(link).toLower()))
            ++known;
        else
            links.append(link);
    }
    const TChoices choices = Choices();
    std::function<TJobResult(const TJobContext&)> search;
    switch (choices.DataSource) {
    case SourceTaobao:
        search = [this, links](const TJobContext& job) { return InsertTaoBaoUrls(job, *m_changes, links); };
        break;
    case Source1688:
        search = [this, links](const TJobContext& job) { return Insert1688Urls(job, *m_changes, links); };
        break;
    default: {
        const QString watermark = choices.WatermarkText;
        search = [this, links, watermark](const TJobContext& job) {
            return InsertTaoBaoUrlsPerLink(job, *m_changes, links, job.Service().Head(), watermark);
        };
    }
    }
    return StartJob(TJobKind::Search, [search, known](const TJobContext& job) {
        if (known > 0)
            job.Report().Log(QStringLiteral("%1 个连接的宝贝已在表格中，跳过").arg(known));
        TJobResult result = search(job);
        result.AlreadyInTable = known;
        return result;
    });
}

TStatus TAppCore::StartExportTo(const QString& folder) {
    if (Busy())
        return MakeError(TErrc::Refused, QStringLiteral("另一个任务正在运行"));
    // A package without items is of no use to the assistant: nothing is written.
    if (m_grid->SelectionCount().selected == 0)
        return MakeError(TErrc::Refused, NothingSelectedMessage());
    const TExportJob job = ExportJobFor(folder);
    if (FileInUse(job.csvPath))
        return MakeError(TErrc::Locked, FileInUseMessage());
    if (!StartExport(job))
        return MakeError(TErrc::Refused, QStringLiteral("另一个任务正在运行"));
    return {};
}

QString TAppCore::NothingSelectedMessage() {
    return QStringLiteral("没有选中的宝贝");
}

bool TAppCore::StartExport(const TExportJob& job) {
    if (Busy() || m_grid->SelectionCount().selected == 0)
        return false;
    TExportJob exportJob = job;
    exportJob.rows = m_grid->SelectedRows();
    exportJob.tableRowCount = m_grid->RowCount();
    QDir().mkpath(exportJob.pictureFolder); // a failure shows later, when pictures are saved there
    return StartJob(TJobKind::Export, [this, exportJob](const TJobContext& context) {
        return ExportCsv(context, exportJob, m_pageCache.get());
    });
}

bool TAppCore::StartPictureDownload(const QString& folder) {
    if (Busy())
        return false;
    const QList<TRowCopy> rows = m_grid->SelectedRows();
    const TChoices choices = Choices();
    const bool titlePrice = choices.DataSource == SourceTaobao && choices.TitleWithPrice;
    return StartJob(TJobKind::Pictures, [this, rows, folder, titlePrice](const TJobContext& job) {
        return DownloadPictures(job, *m_changes, rows, folder, titlePrice);
    });
}

QString TAppCore::LatestVersion() {
    return TServiceValues::LatestVersion();
}

QString TAppCore::InstalledVersion() const {
    if (!m_installedVersion.isEmpty())
        return m_installedVersion;
    m_installedVersion = FileVersionText();
    const QFileInfo window(QDir(TPaths::InstallDir()).filePath(TPaths::WindowExecutableName()));
    if (window == QFileInfo(QCoreApplication::applicationFilePath()) || !window.isFile() ||
        !window.isExecutable())
        return m_installedVersion;
    // A program that does not answer within the time, or names no version, changes nothing.
    const TResult<QString> answer = VersionAnswer(window.filePath(), 10000);
    if (const QString version = answer ? VersionInAnswer(*answer) : QString(); !version.isEmpty())
        m_installedVersion = version;
    return m_installedVersion;
}

bool TAppCore::UpdateOffered() const {
    return IsNewVersion(LatestVersion(), InstalledVersion());
}

bool TAppCore::StartUpdateDownload() {
    const QString installDir = TPaths::InstallDir();
    // Only the version that was offered, signed with the key this build carries, is accepted.
    const TUpdateTrust trust{UpdateKey, LatestVersion()};
    return StartJob(TJobKind::Update, [installDir, trust](const TJobContext& job) {
        return DownloadUpdate(job, installDir, trust);
    });
}

QString TAppCore::StagedUpdate() {
    return StagedExecutable(TPaths::InstallDir());
}

qint64 TAppCore::MaxUpdateBytes() {
    return ::MaxUpdateBytes;
}

TStatus TAppCore::ApplyUpdate(bool restartNow) {
    // The new version starts on the same working folder as this one.
    QStringList arguments;
    if (QDir(TPaths::WorkDir()) != QDir(TPaths::InstallDir()))
        arguments << QStringLiteral("--workdir") << TPaths::WorkDir();
    return WriteUpdateScript(TPaths::InstallDir(), restartNow, arguments);
}

TStatus TAppCore::ClearTemporaryData() {
    if (!m_pageCache || !m_pageCache->ClearTemporaryData())
        return MakeError(TErrc::Io, QStringLiteral("清除临时数据失败"));
    return {};
}

int TAppCore::BatchWatermark() {
    return m_grid->SetCellOfSelectedRows(ColWatermark, Choices().WatermarkText);
}

TResult<int> TAppCore::RetitleFromFile(const QString& path) {
    // A title file is small; a file of many megabytes is no title file.
    constexpr qint64 MaxTitleFileBytes = 64 << 20;
    const TResult<QByteArray> bytes = ReadChosenFile(path, MaxTitleFileBytes);
    if (!bytes)
        return bytes.error();
    const QStringList lines = ReadTextLines(*bytes);
    const int items = m_grid->RowCount() - 1;
    if (lines.isEmpty())
        return MakeError(TErrc::Refused, QStringLiteral("文件中没有宝贝名称"));
    if (lines.size() > items || !m_grid->SetColumnFromFirstRow(ColTitle, lines))
        return MakeError(TErrc::Refused,
                         QStringLiteral("文件有 %1 行，比表格中的 %2 个宝贝多").arg(lines.size()).arg(items));
    return int(lines.size());
}

bool TAppCore::InstalledByPackageManager() {
    // A folder the user may not write, or the system's own program folders (which root may write,
    // but which belong to the package manager).
    const QString folder = QDir(TPaths::InstallDir()).canonicalPath();
    return !TPaths::InstallDirWritable() || folder.startsWith(QLatin1String("/usr/")) ||
           folder.startsWith(QLatin1String("/opt/"));
}

QString TAppCore::PackageManagerUpdateMessage() {
    return QStringLiteral("检测到新版本 '%1'。这个 Tovrel 由软件包管理器安装，请用它安装新版本"
                          "（例如 sudo apt-get install --only-upgrade tovrel）。")
        .arg(LatestVersion());
}

QString TAppCore::WhyNotAPrice(const QString& price) {
    // As the pages show prices: "128.00", "99", or a range "59.00-89.00".
    static const QRegularExpression form(QStringLiteral("^\\d+(\\.\\d+)?(\\s*-\\s*\\d+(\\.\\d+)?)?$"));
    if (form.match(price.trimmed()).hasMatch())
        return {};
    return QStringLiteral("价格必须是不小于 0 的数字，或两个这样的数字组成的范围（如 59.00-89.00）");
}

bool TAppCore::EditItemById(quint64 id, const TItemEdit& edit) {
    return m_grid->EditRow(id, edit);
}

int TAppCore::DeleteSelectedItems() {
    return m_grid->DeleteSelectedRows();
}

bool TAppCore::DeleteItem(int row) {
    return StringGridDel(*m_grid, row);
}

void TAppCore::SelectAllItems() {
    m_grid->SelectAll();
}

void TAppCore::InvertItemSelection() {
    m_grid->InvertSelection();
}

bool TAppCore::ToggleItem(int row) {
    return m_grid->ToggleMark(row);
}

TStatus TAppCore::EditItem(int row, const TItemEdit& edit) {
    if (!m_grid->IsUsableRow(row) || !m_grid->EditRow(m_grid->RowId(row), edit))
        return MakeError(TErrc::Refused, QStringLiteral("第 %1 行不是表格中的宝贝").arg(row));
    return {};
}
