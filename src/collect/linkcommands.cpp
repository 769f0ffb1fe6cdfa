#include "collect/linkcommands.h"

#include "acquire/taobaoitem.h"
#include "app/appcore.h"
#include "app/servicevalues.h"
#include "app/text.h"
#include "collect/linklist.h"
#include "collect/taobaoshop.h"
#include "table/itemtable.h"

QString TLinkCommands::DuplicateMessage() {
    return QStringLiteral("这个连接已经添加过了！");
}

TLinkCommands::TAddResult TLinkCommands::Add(TAppCore& core) {
    core.UpdateChoices([](TAppCore::TChoices& c) { c.LinkText = TrimText(c.LinkText); });
    const TAppCore::TChoices choices = core.Choices();
    if (choices.LinkKind != KindItem) {
        if (choices.DataSource == SourceTaobao) {
            // The crawler holds the busy state; it is entered here, before the worker starts, so
            // that no second command slips in between.
            core.EnableCommands(false);
            core.StartWorker([&core] { CrawlTaoBaoShop(core); });
            return TAddResult::CrawlStarted;
        }
        // Seam: the 1688 shop crawler starts here once it exists. Paipai has no crawler.
        return TAddResult::Nothing;
    }
    if (core.ListBox1()->AppendIfMissing(choices.LinkText))
        return TAddResult::Added;
    core.ShowMessage(DuplicateMessage(), QStringLiteral("提示"));
    return TAddResult::Duplicate;
}

bool TLinkCommands::Remove(TAppCore& core, int index) {
    return core.ListBox1()->RemoveAt(index);
}

void TLinkCommands::Clear(TAppCore& core) {
    core.ListBox1()->Clear();
}

QString TLinkCommands::AddressTemplate(int source, int kind) {
    if (kind != KindShop)
        return {};
    if (source == SourceTaobao)
        return QStringLiteral("http://XXXXXXXX.") + TServiceValues::Value(TServiceKey::TaobaoShopDomain);
    if (source == Source1688)
        return QStringLiteral("http://XXXXXXXX.") + TServiceValues::Value(TServiceKey::ShopDomain1688);
    return {};
}

void TLinkCommands::ChangeLinkKind(TAppCore& core, int kind) {
    core.UpdateChoices([kind](TAppCore::TChoices& c) {
        c.LinkKind = kind;
        c.LinkText = AddressTemplate(c.DataSource, kind);
    });
}

void TLinkCommands::ChangeDataSource(TAppCore& core, int source) {
    if (core.Choices().DataSource == source)
        return;
    core.UpdateChoices([source](TAppCore::TChoices& c) { c.DataSource = source; });
    core.ListBox1()->Clear();
    core.StringGrid1()->ResetGrid();
}

void TLinkCommands::StartSearch(TAppCore& core, const std::function<void()>& closeEditor) {
    core.EnableCommands(false);
    core.SetCaption(TCommand::Search, QStringLiteral("搜索中.."));
    core.ThreadsRunning = 0;
    if (closeEditor)
        closeEditor();
    const QStringList links = core.ListBox1()->Items();
    const QString head = TServiceValues::Head();
    const TAppCore::TChoices choices = core.Choices();

    switch (choices.DataSource) {
    case SourceTaobao:
        // The run takes its own snapshot of the list and ends the search itself.
        core.StartWorker([&core] { InsertTaoBaoUrls(core); });
        break;
    case Source1688:
        // Seam: the 1688 run starts here once the 1688 scraper exists; until then the search
        // ends at once.
        core.SetCaption(TCommand::Search, TAppCore::DefaultCaption(TCommand::Search));
        core.EnableCommands(true);
        core.FinishSearch();
        break;
    default: {
        // One worker per link; the pool runs a bounded number at a time and queues the rest.
        const int total = int(links.size());
        auto done = std::make_shared<std::atomic<int>>(0);
        for (const QString& link : links) {
            auto* worker = new TthredInsertTaoBaoUrlGrid;
            worker->Head = head;
            worker->Html = link;
            worker->Picstr = choices.WatermarkText;
            worker->Grid = core.StringGrid1();
            worker->Stop = core.StopFlag();
            worker->setAutoDelete(true);
            worker->OnEnd = [&core, link, total, done](bool added) {
                core.Progress(
                    QStringLiteral("[%1/%2] %3%4")
                        .arg(++*done)
                        .arg(total)
                        .arg(link, added ? QString() : QStringLiteral(": the page could not be fetched")));
                QMetaObject::invokeMethod(
                    &core, [&core] { --core.ThreadsRunning; }, Qt::QueuedConnection);
            };
            ++core.ThreadsRunning;
            core.LinkWorkers().start(worker);
        }
        core.WaitForWorkers();
        core.SetCaption(TCommand::Search, TAppCore::DefaultCaption(TCommand::Search));
        core.EnableCommands(true);
        core.FinishSearch();
        break;
    }
    }
}
