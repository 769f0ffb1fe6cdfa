#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QWebEngineProfile;
class QWebEngineView;
class TAppCore;

// The page the editor shows a description in. A description comes from a marketplace page and may
// be hostile: the page runs no scripts of its own, reaches no local file, opens no window, shows
// no script dialog, and goes nowhere but to the document the editor itself loads (a link, a meta
// refresh, a form or a frame's navigation is refused).
class TDescriptionPage : public QWebEnginePage {
  public:
    TDescriptionPage(QWebEngineProfile* profile, QObject* parent);
    // Lets the next main-frame navigation through: the editor's own load.
    void ExpectOwnLoad() { m_ownLoad = true; }
    // No navigation is let through any more (the own load has finished).
    void Settle() { m_ownLoad = false; }

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& text) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& text) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& text, const QString& value,
                          QString* result) override;

  private:
    bool m_ownLoad = false;
};

// The item editor ("编辑信息"): one row of the item table in a small window that stays above the main
// window without blocking it: title, category, price and delivery as one-line fields, and the
// description as an HTML page edited in place. Created hidden with the main window and kept for the
// whole run; "取消" and the window's close only hide it.
//
// The description is shown in a TDescriptionPage with an http base (the item's own address), so its
// remote pictures show (through the proxies, like every request), and the pictures the picture
// download saved on this computer show through a scheme of the editor's own that serves picture
// files only. "保存" stores the edited body of the description, with script elements, event-handler
// attributes and script addresses removed; a description the seller did not change is stored
// exactly as it was (unless it held scripts). The table keeps Unicode: no character is lost.
//
// The page loads and reads back asynchronously. The editor remembers the row it was filled from (by
// its identity): "保存" pressed before the page has loaded writes the description being loaded (the
// user cannot have changed it yet), and a description read back later is written to the row the
// editor showed when "保存" was pressed, never to another. When the page could not be shown, "保存"
// writes the four fields, keeps the row's description and says so.
class TFInfoEdit : public QWidget {
    Q_OBJECT
  public:
    // `currentRow` tells the table's current row (the view's).
    TFInfoEdit(TAppCore* core, std::function<int()> currentRow, QWidget* parent = nullptr);
    ~TFInfoEdit() override;

    // Fills the editor from the table's current row when it is a usable row.
    void GridToInfoEdit();
    // GridToInfoEdit, then shows the window (without waiting for it).
    void ShowInfoEdit();
    // "保存": writes the four fields (as they stand, not trimmed) and the view's description into
    // the row the editor was filled from; nothing when the table's current row is the caption row or
    // a row without a number. The window stays open.
    void InfoEditToGrid();
    // Loads a description into the view, on the base address `base` (an http or https address).
    void SetWebBrowser(const QString& Htmlstr, const QUrl& base = QUrl());
    // The description as "保存" stores it, given to `result` when the view has read it back: the
    // edited body without scripts, or the loaded text itself when nothing was changed, or at once the
    // text being loaded while a load is still under way. `result` gets nothing when the view could
    // not show the description.
    void GetWebBrowserHtml(const std::function<void(const std::optional<QString>&)>& result);

    // Whether the view's page has loaded the last text given to it (or failed to).
    bool Loaded() const { return m_state != TState::Loading; }

    // The fields (object names "Edit1" to "Edit4") and the description's view.
    QLineEdit* TitleEdit = nullptr;            // "商品名称"
    QLineEdit* CategoryEdit = nullptr;         // "商品分类"
    QLineEdit* PriceEdit = nullptr;            // "价格"
    QLineEdit* DeliveryEdit = nullptr;         // "配送方式"
    QWebEngineView* DescriptionView = nullptr; // "WebBrowser1"
    QLabel* LabelNote = nullptr;               // what the last "保存" could not do
    QPushButton* BtnSave = nullptr;            // "保存"
    QPushButton* BtnCancel = nullptr;          // "取消"

    // The scheme the editor shows local pictures through; registered before the application starts.
    static void RegisterPictureScheme();

  signals:
    // "保存" wrote the row (with its description read back, or kept when it could not be).
    void saved();
    // The view finished loading a description (or failed to) and is in edit mode.
    void loaded();

  private:
    enum class TState { Loading, Ready, Failed };
    // Loads the document descriptions are shown in.
    void loadDocument();
    void pageLoaded(bool ok);
    // Puts the pending description into the document.
    void showPending();
    // The address the row's description is shown on.
    QUrl baseFor(const QString& link) const;

    TAppCore* m_core;
    std::function<int()> m_currentRow;
    QWebEngineProfile* m_profile = nullptr;
    TDescriptionPage* m_page = nullptr;
    bool m_documentLoading = false; // the document's own load is under way
    bool m_ready = false;           // the document is there, in edit mode
    quint64 m_row = 0;              // the identity of the row the editor shows
    QString m_pending;              // the description being loaded, as the row has it
    QUrl m_base;                    // the address it is shown on
    QString m_baseline; // its body as the view first read it back (to tell whether it was changed)
    bool m_hadScripts = false;
    TState m_state = TState::Loading;
    quint64 m_load = 0; // the serial number of the latest load
};
