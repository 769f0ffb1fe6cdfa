#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class TItemTable;
class TLinkList;

// The commands whose captions change while their work runs.
enum class TCommand { Search, Export, Pictures };

// The program's state and behaviour without any window: the item table, the link list, the
// user's choices, and the start-up and shutdown steps. The window and tovrel-cli are front ends
// over one instance of it.
//
// Workers report through the signals below (status text, run log, captions, busy state). They
// may emit them from any thread; the window receives them queued on its own thread, tovrel-cli
// prints them.
class TAppCore : public QObject {
    Q_OBJECT
  public:
    explicit TAppCore(QObject* parent = nullptr);
    ~TAppCore() override;

    TItemTable* StringGrid1() const { return m_grid; }
    TLinkList* ListBox1() const { return m_links; }

    // The user's choices, as the window's controls hold them.
    struct TChoices {
        int DataSource = 0; // 0 "淘宝", 1 "1688", 2 "拍拍"
        int LinkKind = 0;   // 0 "宝贝连接", 1 "店铺连接", 2 "店铺分类"; -1 none
        QString LinkText;
        QString WatermarkText;
        bool cbDL = false;   // "不下载商品主图"
        bool cbDLXX = false; // "不下载商品属性"
        bool cbDLJG = false; // "标题合并价格"
    };
    TChoices Choices;

    bool NextstartupUpdate = false;
    QStringList ProvinceList;
    // Workers the user-interface thread waits for; changed only on that thread.
    int ThreadsRunning = 0;
    // The version label's text, set at start-up.
    QString VersionText;

    // The start-up steps that do not concern a window, in their order: page cache, settings,
    // table reset, saved table, saved link list, version text, update buffer, province list.
    void Startup();
    // The shutdown save: settings, link list (only when not empty), table; then the province
    // list is released.
    void SaveState();

    // The running program's file version as "major.minor.release.build".
    static QString FileVersionText();

    static QString DefaultCaption(TCommand command);

    // Reporting channels for workers and commands.
    void SetStatusText(const QString& text) { emit statusTextChanged(text); }
    void ClearLog() { emit logCleared(); }
    void Log(const QString& line) { emit logLine(line); }
    void EnableCommands(bool enabled) { emit commandsEnabled(enabled); }
    void SetCaption(TCommand command, const QString& caption) { emit captionChanged(command, caption); }

  signals:
    void statusTextChanged(const QString& text);
    void logCleared();
    void logLine(const QString& line);
    void commandsEnabled(bool enabled);
    void captionChanged(TCommand command, const QString& caption);

  private:
    TItemTable* m_grid;
    TLinkList* m_links;
};
