#include "export/csvexport.h"

#include "acquire/itemrow.h"
#include "acquire/province.h"
#include "acquire/taobaoitem.h"
#include "base/cipher.h"
#include "base/htmltext.h"
#include "base/servicekeys.h"
#include "base/text.h"
#include "export/price.h"
#include "export/props.h"
#include "pictures/picturedownload.h"
#include "pictures/watermark.h"
#include "platform/files.h"
#include "table/itemtable.h"
#include "web/httpclient.h"
#include "web/pagecache.h"
#include "web/requestslots.h"

#include <QDir>
#include <QFileInfo>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const QString EnglishHeader = QStringLiteral(
    "title,cid,seller_cids,stuff_status,location_state,location_city,item_type,price,auction_increment,num,"
    "valid_thru,freight_payer,post_fee,ems_fee,express_fee,has_invoice,has_warranty,approve_status,has_"
    "showcase,"
    "list_time,description,cateProps,postage_id,has_discount,modified,upload_fail_msg,picture_status,auction_"
    "point,"
    "picture,video,skuProps,inputPids,inputValues,outer_id,propAlias,auto_fill,num_id,local_cid,navigation_"
    "type,"
    "user_name,syncStatus,is_lighting_consigment,is_xinpin,foodparame,features,buyareatype,global_stock_type,"
    "global_stock_country,sub_stock_type,item_size,item_weight,sell_promise,custom_design_flag,wireless_desc,"
    "barcode,sku_barcode,newprepay,subtitle,cpv_memo,input_custom_cpv");

const QString ChineseHeader =
    QStringLiteral("宝贝名称,宝贝类目,店铺类目,新旧程度,省,城市,出售方式,宝贝价格,加价幅度,宝贝数量,有效期,"
                   "运费承担,平邮,EMS,快递,"
                   "发票,保修,放入仓库,橱窗推荐,开始时间,宝贝描述,宝贝属性,邮费模版ID,会员打折,修改时间,"
                   "上传状态,图片状态,返点比例,"
                   "新图片,视频,销售属性组合,用户输入ID串,用户输入名-值对,商家编码,销售属性别名,代充类型,"
                   "数字ID,本地ID,宝贝分类,"
                   "用户名称,宝贝状态,闪电发货,新品,食品专项,尺码库,采购地,库存类型,国家地区,库存计数,"
                   "物流体积,物流重量,退换货承诺,"
                   "定制工具,无线详情,商品条形码,sku 条形码,7天退货,宝贝卖点,属性值备注,自定义属性值");

QString tabs(QString line) {
    return line.replace(QLatin1Char(','), QLatin1Char('\t'));
}

QString quoted(const QString& text) {
    return QStringLiteral("“") + text + QStringLiteral("”");
}

// The address a picture capture stands for: the full-size picture, fetched like every page address.
QString pictureAddress(const QString& capture) {
    return PictureFetchAddress(capture, true);
}

// Writes one package picture; a picture that could not be fetched, is no picture, or could not be
// written leaves no file and a line in the run log (the picture field keeps the entry). Returns
// whether it was saved.
bool downloadExportPicture(const TJobContext& ctx, THttpClient& tc, QByteArray& buffer, const TExportJob& job,
                           const QString& watermark, const QString& fileName, const QString& url) {
    if (!QDir().mkpath(job.pictureFolder)) {
        ctx.Report().Log(QStringLiteral("图片文件夹 ") + QDir::toNativeSeparators(job.pictureFolder) +
                         QStringLiteral(" 无法创建"));
        return false;
    }
    const QString path = job.pictureFolder + QLatin1Char('/') + fileName;
    if (const TResult<QString> saved = SaveItemPicture(tc, buffer, watermark, path, url); !saved) {
        ctx.Report().Log(QStringLiteral("图片 ") + url + QStringLiteral(" 没有保存：") +
                         PictureFailureText(saved.error()));
        return false;
    }
    return true;
}

} // namespace

QStringList MainPictureAddresses(const TPatterns::TPatternText& cleanedText) {
    return TPatterns::FindSList(QStringLiteral("img data-src=\"([^\"]*)"), cleanedText, false);
}

QString SalePropertyBlock(const QString& cleaned) {
    // The sale-property list with pictures: the first element whose class names both J_TSaleProp
    // and tb-img, in any order ("J_TSaleProp tb-clearfix tb-img", "J_TSaleProp tb-img tb-clearfix",
    // Tmall's "tm-clear J_TSaleProp tb-img"). From its class (or the page's start when there is none)
    // up to the "<" of the first "</ul>".
    qsizetype marker = -1;
    for (qsizetype at = cleaned.indexOf(QStringLiteral("J_TSaleProp")); at >= 0 && marker < 0;
         at = cleaned.indexOf(QStringLiteral("J_TSaleProp"), at + 1)) {
        const qsizetype open = cleaned.lastIndexOf(QLatin1Char('"'), at);
        const qsizetype close = cleaned.indexOf(QLatin1Char('"'), at);
        if (open < 0 || close < 0)
            continue;
        const QStringList classes =
            cleaned.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (classes.contains(QStringLiteral("J_TSaleProp")) && classes.contains(QStringLiteral("tb-img")))
            marker = at;
    }
    const QString from = marker >= 0 ? cleaned.mid(marker) : cleaned;
    const qsizetype end = from.indexOf(QStringLiteral("</ul>"));
    return end >= 0 ? from.left(end + 1) : QString();
}

QStringList SalePropertyPictureAddresses(const QString& block) {
    return TPatterns::FindSList(QStringLiteral("style=\"background:url\\(([^\\)]*)"), block, false);
}

namespace {

// The picture step: downloads the main and sale-property pictures of a row into the package's
// picture folder (unless "不下载商品主图" is checked) and returns the picture field. `failed`
// counts the pictures that could not be saved.
QString ExportPictures(const TJobContext& ctx, THttpClient& tc, const TExportJob& job, const QString& cleaned,
                       const QStringList& main, const QString& title, const QString& watermark,
                       QStringList* failed) {
    const bool download = !ctx.Choices().NoMainPictures;
    if (download)
        ctx.Report().Log(QStringLiteral("宝贝 ") + quoted(title) + QStringLiteral(" 正在下载商品主图......"));
    QByteArray buffer;
    QString field;
    // The field names only the pictures written beside the CSV file: the assistant refuses a package
    // that names a file it does not hold.
    for (int i = 0; i < main.size() && !ctx.Stopped(); ++i) {
        const QString address = pictureAddress(main[i]);
        const QString name = Md5Text(address).toLower();
        if (!download)
            continue;
        if (!downloadExportPicture(ctx, tc, buffer, job, watermark, name + QStringLiteral(".tbi"), address)) {
            failed->append(address);
            continue;
        }
        field += name + QStringLiteral(":1:") + QString::number(i) + QStringLiteral(":|;");
    }
    const QString block = SalePropertyBlock(cleaned);
    const QStringList pictures = SalePropertyPictureAddresses(block);
    const QStringList values = tc.FindSList(QStringLiteral("data-value=\"([^\"]*)"), block, false);
    for (int j = 0; j < pictures.size() && !ctx.Stopped(); ++j) {
        const QString address = pictureAddress(pictures[j]);
        const QString name = Md5Text(address);
        if (!download)
            continue;
        if (!downloadExportPicture(ctx, tc, buffer, job, watermark, name + QStringLiteral(".tbi"), address)) {
            failed->append(address);
            continue;
        }
        // A picture without a value of its own gets an empty value id.
        field += name + QStringLiteral(":2:0:") + values.value(j) + QStringLiteral("|;");
    }
    return field;
}

// What one row could not get; such a row is exported all the same, with the values left empty.
struct TRowProblems {
    bool saleData = false;   // the sale data (province, city, stock) could not be fetched
    bool properties = false; // the category properties could not be fetched
    QStringList pictures;    // the addresses of the pictures not saved
    bool any() const { return saleData || properties || !pictures.isEmpty(); }
};

// Turns one selected row into its CSV line.
QString exportRow(const TJobContext& ctx, THttpClient& tc, const TExportJob& job, TPageCache* cache,
                  const QStringList& provinces, const TPriceAdjustment& adjustment, const TRowCopy& row,
                  TRowProblems* problems, QString* title) {
    auto cell = [&row](int col) { return row.Cell(col); };
    const QString cleaned = CleanPageText(cell(ColHtml), ctx.Service());
    // Made ready for the patterns once, for all of them.
    const TPatterns::TPatternText cleanedText(cleaned);

    // A Tmall item's page holds its stock itself, and names its category and pictures its own way.
    const bool tmall = IsTmallItem(cell(ColLink), cleanedText);

    // Sale data: stock and ship-from place.
    const QString saleUrl = tmall ? QString() : SaleDataAddress(cleanedText);
    QString saleReply;
    bool saleRefused = false;
    if (tmall) {
        saleReply = cleaned;
    } else if (!saleUrl.isEmpty()) {
        // The address comes out of the page. A page without one has none to fetch; one whose
        // request failed does.
        const TPageAddresses fromPage(tc);
        const TResult<QString> sale = tc.FetchPage(TProfile::Of("HGetTextLib"), saleUrl);
        saleReply = sale.value_or(QString());
        problems->saleData = !sale;
        saleRefused = !sale && sale.error().Code == TErrc::Refused;
    }
    saleReply.remove(QLatin1Char(' '));
    const auto [province, city] =
        SplitLocation(provinces, tc.FindsStr(QStringLiteral("sendCity\":\"([^\"]*)"), saleReply, false));

    TExportValues v;
    v.province = province;
    v.city = city;
    v.categoryId = tmall ? TmallCategoryId(cleanedText)
                         : tc.FindsStr(QStringLiteral("data-catid=\"([^\"]*)"), cleanedText, false);
    // Title and price are what the table shows (an edited or re-titled item exports as it reads),
    // prepared as the page's own values would be; the price adjusted as the user asked.
    v.price = ExportPrice(AdjustPrice(cell(ColPrice), adjustment));
    v.title = TrimText(cell(ColTitle));
    *title = v.title;
    ctx.Report().Log(QStringLiteral("宝贝 ") + quoted(v.title) + QStringLiteral(" 开始下载..."));
    if (saleRefused)
        ctx.Report().Log(QStringLiteral("宝贝 ") + quoted(v.title) + QStringLiteral(" 的") +
                         RefusedPageAddressText(QStringLiteral("销售数据"), saleUrl));
    else if (problems->saleData)
        ctx.Report().Log(QStringLiteral("宝贝 ") + quoted(v.title) + QStringLiteral(" 的销售数据无法获取：") +
                         saleUrl);

    v.description = DescriptionField(ItemDescription(row));
    v.quantity = tc.FindsStr(QStringLiteral("old_quantity=([^&]*)"), cleanedText, false);

    // Category properties, through the page cache; read the option anew for every row.
    const QString head = ctx.Service().Head();
    QString reply;
    if (!TrimText(head).isEmpty() && !ctx.Choices().NoProperties && cache) {
        const TResult<QString> properties = cache->CachedPage(
            PropertyRequestUrl(head, ctx.Service().Value(TServiceKey::PropsHost), v.categoryId), tc);
        reply = properties.value_or(QString());
        if (!properties) {
            problems->properties = true;
            ctx.Report().Log(QStringLiteral("宝贝 ") + quoted(v.title) +
                             QStringLiteral(" 的宝贝属性无法获取"));
        }
    }
    v.goodsProp = CategoryPropertyField(reply, cell(ColProps));

    v.pictures =
        ExportPictures(ctx, tc, job, cleaned,
                       tmall ? TmallMainPictureAddresses(cleanedText) : MainPictureAddresses(cleanedText),
                       v.title, cell(ColWatermark), &problems->pictures);

    v.sellProp = SkuField(saleReply, v.price);
    v.alias = AliasField(cleaned);
    const QString line = FillTemplate(ctx.Service().Value(TServiceKey::CsvTemplate), v);
    ctx.Report().Log(QStringLiteral("宝贝 ") + quoted(v.title) + QStringLiteral(" 下载完毕."));
    return line;
}

// A row's run-log lines, kept until the job reaches that row, so that the log reads row by row as
// it would if the rows were exported one after another.
class TRowLog : public TReporter {
  public:
    void Status(const QString&) override {}
    void ClearLog() override {}
    void Log(const QString& line) override { Lines.append(line); }
    void Progress(const QString&) override {}
    void Advance(qint64, qint64, const QString&) override {}
    QStringList Lines;
};

// What a worker made of one row.
struct TRowOutcome {
    bool ready = false;
    QString line;
    QString title;
    TRowProblems problems;
    QStringList log;
};

// The rows of an export fetched by several workers at once, each row's requests one after another
// and at most a few requests to one host at a time; the job takes the outcomes in table order.
class TParallelRows {
  public:
    // The most requests to one host at a time, as a browser keeps to.
    static constexpr int PerHost = 6;
    // How far the workers may run ahead of the row the job waits for: rows done out of order wait
    // in memory, and a slow row must not let the others pile up the whole package there.
    static constexpr int MaxAhead = 64;

    using TRowFunction = std::function<void(const TJobContext& rowJob, THttpClient& tc, qsizetype index,
                                            TRowOutcome& outcome)>;

    // `workers` rows under way at once, and so at most that many requests in flight.
    TParallelRows(const TJobContext& job, qsizetype rows, int workers, TRowFunction exportOne)
        : m_job(job), m_outcomes(size_t(rows)), m_exportOne(std::move(exportOne)),
          m_slots(PerHost, std::max(workers, 1)) {
        workers = int(std::clamp<qsizetype>(rows, 0, std::max(workers, 1)));
        m_running = workers;
        for (int w = 0; w < workers; ++w)
            m_threads.emplace_back([this] { work(); });
    }
    ~TParallelRows() { Finish(); }

    // Lets no worker start another row and waits for those under way (after a stop, at once).
    void Finish() {
        {
            std::lock_guard lock(m_lock);
            m_closing = true;
        }
        m_changed.notify_all();
        for (std::thread& thread : m_threads)
            if (thread.joinable())
                thread.join();
    }

    // Waits for row `index`; nullptr when it will never come (the job was stopped first). A worker's
    // exception (out of memory) comes out here.
    TRowOutcome* Take(qsizetype index) {
        std::unique_lock lock(m_lock);
        m_taken = index;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_outcomes[index].ready || m_running == 0 || m_failure; });
        if (m_failure)
            std::rethrow_exception(m_failure);
        return m_outcomes[index].ready ? &m_outcomes[index] : nullptr;
    }
    // Lets the memory of a row the job has written go.
    void Release(qsizetype index) { m_outcomes[index] = TRowOutcome(); }

  private:
    void work() {
        try {
            THttpClient tc(TRequestLimits(), m_job.StopFlag(), m_job.Service());
            tc.ShareRequestSlots(&m_slots);
            for (;;) {
                qsizetype index = 0;
                {
                    std::unique_lock lock(m_lock);
                    m_changed.wait(lock, [&] { return m_closing || m_next < m_taken + MaxAhead; });
                    if (m_closing || m_next >= qsizetype(m_outcomes.size()) || m_job.Stopped())
                        break;
                    index = m_next++;
                }
                TRowLog log;
                const TJobContext rowJob(
                    *m_job.StopFlag(), log, [this] { return m_job.Choices(); }, m_job.Service());
                TRowOutcome outcome;
                m_exportOne(rowJob, tc, index, outcome);
                outcome.log = std::move(log.Lines);
                outcome.ready = true;
                std::lock_guard lock(m_lock);
                m_outcomes[index] = std::move(outcome);
                m_changed.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(m_lock);
            if (!m_failure)
                m_failure = std::current_exception();
        }
        std::lock_guard lock(m_lock);
        --m_running;
        m_changed.notify_all();
    }

    const TJobContext& m_job;
    std::vector<TRowOutcome> m_outcomes;
    TRowFunction m_exportOne;
    TRequestSlots m_slots;
    std::mutex m_lock;
    std::condition_variable m_changed;
    qsizetype m_next = 0;
    qsizetype m_taken = 0;
    int m_running = 0;
    bool m_closing = false;
    std::exception_ptr m_failure;
    std::vector<std::thread> m_threads;
};

} // namespace

QString CsvHeaderLine(int kind) {
    return kind == 10 ? ChineseHeader : EnglishHeader;
}

TExportJob ExportJobFor(const QString& folder, const QDateTime& now) {
    QString path = QDir::fromNativeSeparators(folder);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path +=
        QStringLiteral("KVR_") + now.toString(QStringLiteral("yyyyMMddhhmmsszzz")) + QStringLiteral(".csv");
    TExportJob job;
    job.csvPath = path;
    job.pictureFolder = path.left(path.size() - 4);
    return job;
}

QString CleanPageText(const QString& html, const TServiceSnapshot& service) {
    QString text = html;
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    text.replace(QStringLiteral("\"><a href=\"#\"><span>"), QStringLiteral(":"), Qt::CaseInsensitive);
    text.replace(QStringLiteral("</span></a><i>"), QStringLiteral("\""), Qt::CaseInsensitive);
    text.replace(QStringLiteral("com/imgextra/"), QStringLiteral("com/bao/uploaded/"), Qt::CaseInsensitive);
    text.replace(QStringLiteral("img0"), QStringLiteral("gd"), Qt::CaseInsensitive);
    const QString oldCdn = service.Value(TServiceKey::PictureCdnOld);
    if (!oldCdn.isEmpty())
        text.replace(oldCdn, service.Value(TServiceKey::PictureCdnNew), Qt::CaseInsensitive);
    return text;
}

QString ExportPrice(const QString& price) {
    return TrimText(price).remove(QStringLiteral(".00"));
}

QString SkuField(const QString& saleReply, const QString& price) {
    // Every entry of the sale-data map, the first one (which follows "{") included.
    QString field;
    for (const QString& entry : TPatterns::FindSList(QStringLiteral("([{,]\";[^}]*)"), saleReply, false))
        field += price + QLatin1Char(':') +
                 TPatterns::FindsStr(QStringLiteral("\"stock\":\"?([^\",}]*)"), entry, false) +
                 QStringLiteral("::") + TPatterns::FindsStr(QStringLiteral("[{,]\";([^\"]*)"), entry, false);
    return field;
}

QString AliasField(const QString& cleaned) {
    QString text = cleaned;
    text.replace(QStringLiteral("\" title=\""), QStringLiteral(":"), Qt::CaseInsensitive);
    QString field;
    for (const QString& value :
         TPatterns::FindSList(QStringLiteral("<li data-value=\"([^\"]*)"), text, false))
        field += DecodeHtmlEntities(value) + QLatin1Char(';');
    return field;
}

QString DescriptionField(const QString& description) {
    QString text = description;
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return text;
}

QString FillTemplate(const QString& rowTemplate, const TExportValues& v) {
    const std::pair<QLatin1StringView, const QString*> placeholders[] = {
        {QLatin1StringView("k_title"), &v.title},
        {QLatin1StringView("k_id"), &v.categoryId},
        {QLatin1StringView("k_price"), &v.price},
        {QLatin1StringView("k_province"), &v.province},
        {QLatin1StringView("k_city"), &v.city},
        {QLatin1StringView("k_qty"), &v.quantity},
        {QLatin1StringView("k_desc"), &v.description},
        {QLatin1StringView("k_goods_prop"), &v.goodsProp},
        {QLatin1StringView("k_pic"), &v.pictures},
        {QLatin1StringView("k_sell_prop"), &v.sellProp},
        {QLatin1StringView("k_user_input_id"), nullptr},
        {QLatin1StringView("k_user_input_desc"), nullptr},
        {QLatin1StringView("k1_sell_prop_desc"), &v.alias},
    };
    // The template's own commas separate its fields; a value is put into its field as it is, never
    // searched for placeholders, and can never add or remove a field: its tabs and line breaks
    // become spaces, and in a quoted field its double quotes are doubled (the description comes
    // prepared that way). Commas inside values stay commas.
    QStringList fields = rowTemplate.split(QLatin1Char(','));
    for (QString& field : fields) {
        const bool quotedField = field.size() >= 2 && field.startsWith(u'"') && field.endsWith(u'"');
        QString filled;
        for (qsizetype i = 0; i < field.size();) {
            const std::pair<QLatin1StringView, const QString*>* found = nullptr;
            for (const auto& placeholder : placeholders)
                if (QStringView(field).sliced(i).startsWith(placeholder.first) &&
                    (!found || placeholder.first.size() > found->first.size()))
                    found = &placeholder;
            if (!found) {
                filled += field[i++];
                continue;
            }
            QString value = found->second ? *found->second : QString();
            for (QChar& c : value)
                if (c == u'\t' || c == u'\r' || c == u'\n')
                    c = u' ';
            if (quotedField && found->second != &v.description)
                value.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            filled += value;
            i += found->first.size();
        }
        field = filled;
    }
    return fields.join(QLatin1Char('\t'));
}

QByteArray CsvFileBytes(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + QLatin1Char('\n');
    QByteArray bytes("\xFF\xFE", 2);
    bytes.reserve(2 + text.size() * 2);
    for (QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

QString FileInUseMessage() {
    return QStringLiteral("要导出的文件名已经存在，并且正在使用中\n\r请关闭后重试！-_-。sorry！");
}

TJobResult ExportCsv(const TJobContext& job, const TExportJob& exportJob, TPageCache* cache) {
    TReporter& report = job.Report();
    report.ClearLog();
    report.Log(QStringLiteral("开始下载..."));
    if (exportJob.tableRowCount > 11)
        report.Log(QStringLiteral("下载的数据大于10条,请耐心等待^_^!~ 或者先去做点别的吧"));

    const QStringList provinces = ProvinceListEntries();
    QStringList lines{QStringLiteral("version 1.00"), tabs(CsvHeaderLine(0)), tabs(CsvHeaderLine(10))};
    TJobResult result;
    QStringList noSaleData, noProperties;
    int picturesFailed = 0;
    QStringList failedPictures; // the first few, to name them
    int incomplete = 0;
    // One adjustment for the whole package, as it stood when the export started.
    const TChoices choices = job.Choices();
    const TPriceAdjustment adjustment{choices.PriceFactor, choices.PriceAmount};
    const qint64 total = exportJob.rows.size();
    report.Advance(0, total);
    TParallelRows parallel(
        job, total, exportJob.rowsAtOnce,
        [&](const TJobContext& rowJob, THttpClient& tc, qsizetype index, TRowOutcome& outcome) {
            outcome.line = exportRow(rowJob, tc, exportJob, cache, provinces, adjustment,
                                     exportJob.rows[index], &outcome.problems, &outcome.title);
        });
    for (qsizetype index = 0; index < total; ++index) {
        if (job.Stopped())
            break;
        TRowOutcome* outcome = parallel.Take(index);
        if (!outcome || job.Stopped())
            break; // that row's requests were abandoned: it is not counted as exported
        for (const QString& line : std::as_const(outcome->log))
            report.Log(line);
        lines.append(outcome->line);
        const TRowProblems problems = outcome->problems;
        const QString title = outcome->title;
        parallel.Release(index);
        if (problems.saleData)
            noSaleData.append(quoted(title));
        if (problems.properties)
            noProperties.append(quoted(title));
        picturesFailed += int(problems.pictures.size());
        for (const QString& address : std::as_const(problems.pictures))
            if (failedPictures.size() < 3)
                failedPictures.append(address);
        incomplete += problems.any() ? 1 : 0;
        report.Advance(lines.size() - 3, total, title);
    }
    // No worker writes into the picture folder after this.
    parallel.Finish();
    // A row whose requests were abandoned by the stop is unfinished too: nothing is written.
    if (job.Stopped()) {
        result.Outcome = TJobOutcome::Stopped;
        result.Summary = QStringLiteral("导出已停止，没有写入 CSV 文件");
        report.Log(result.Summary);
        // The pictures saved so far belong to no package: an empty folder goes, one with pictures
        // is named as unfinished, so that nobody takes it for a package's.
        const QString folder = exportJob.pictureFolder;
        if (QFileInfo(folder).isDir() && !QDir().rmdir(folder)) {
            QString unfinished = folder + QStringLiteral("_未完成");
            for (int n = 2; PathTaken(unfinished); ++n)
                unfinished = folder + QStringLiteral("_未完成_%1").arg(n);
            if (QDir().rename(folder, unfinished))
                report.Log(QStringLiteral("已保存的图片在 ") + QDir::toNativeSeparators(unfinished));
            else
                report.Log(QStringLiteral("图片文件夹 ") + QDir::toNativeSeparators(folder) +
                           QStringLiteral(" 里的图片不完整"));
        }
        report.Status(QStringLiteral("导出已停止"));
        return result;
    }
    if (const TStatus written = WriteWholeFile(exportJob.csvPath, CsvFileBytes(lines)); !written) {
        // A file that was not written is never reported as exported.
        result.Outcome = TJobOutcome::Failed;
        result.Summary = QStringLiteral("无法写入文件 ") + QDir::toNativeSeparators(exportJob.csvPath) +
                         QStringLiteral("：") + written.error().Detail;
        report.Log(result.Summary);
        report.Status(QStringLiteral("导出失败"));
        return result;
    }
    result.Produced.append(exportJob.csvPath);
    result.Count = lines.size() - 3;
    result.Failures = incomplete;
    const QString exported =
        QStringLiteral("导出记录[") + QString::number(lines.size() - 3) + QStringLiteral("]条");
    if (noSaleData.isEmpty() && noProperties.isEmpty() && picturesFailed == 0) {
        report.Log(QStringLiteral("★★★已经全部下载完毕★★★"));
        result.Summary = exported;
        report.Status(result.Summary);
        return result;
    }
    // The file is written, but what could not be fetched is missing from it: that is said, never
    // "everything downloaded".
    QStringList missing;
    if (!noSaleData.isEmpty())
        missing.append(QStringLiteral("销售数据无法获取：") + noSaleData.join(QStringLiteral("、")));
    if (!noProperties.isEmpty())
        missing.append(QStringLiteral("宝贝属性无法获取：") + noProperties.join(QStringLiteral("、")));
    if (picturesFailed > 0)
        missing.append(QStringLiteral("图片 %1 张没有保存：").arg(picturesFailed) +
                       failedPictures.join(QStringLiteral("、")) +
                       (picturesFailed > failedPictures.size() ? QStringLiteral("……") : QString()));
    result.Outcome = TJobOutcome::Failed;
    result.Summary = exported + QStringLiteral("，但有数据没有下载完整。") +
                     missing.join(QStringLiteral("；")) + QStringLiteral("。请检查网络后重新导出。");
    report.Log(result.Summary);
    report.Status(exported + QStringLiteral("，有数据不完整"));
    return result;
}
