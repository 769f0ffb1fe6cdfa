#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>

class QLineEdit;
class QPushButton;
class QWebEngineView;
class TAppCore;

// The item editor ("编辑信息"): one row of the item table in a small window that stays above the main
// window without blocking it: title, category, price and delivery as one-line fields, and the
// description as an HTML page edited in place. Created hidden with the main window and kept for the
// whole run; "取消" and the window's close only hide it.
//
// The HTML view loads and reads back asynchronously. The editor remembers the row it was filled
// from (by its identity) and the description it is loading: "保存" pressed before the page has
// loaded writes that description (the user cannot have changed it yet), and a description read back
// later is written to the row the editor showed when "保存" was pressed, never to another.
class TFInfoEdit : public QWidget {
    Q_OBJECT
  public:
    explicit TFInfoEdit(TAppCore* core, QWidget* parent = nullptr);

    // Fills the editor from the table's current row when it is a usable row.
    void GridToInfoEdit();
    // GridToInfoEdit, then shows the window (without waiting for it).
    void ShowInfoEdit();
    // "保存": writes the four fields (as they stand, not trimmed) and the view's description into
    // the row the editor was filled from; nothing when the table's current row is the caption row or
    // a row without a number. The window stays open.
    void InfoEditToGrid();
    // Loads an HTML text into the view (through the ANSI code page, as the table's texts pass).
    void SetWebBrowser(const QString& Htmlstr);
    // The HTML text of the view's document (through the ANSI code page), given to `result` when the
    // view has serialised it; at once the text being loaded while a load is still under way.
    void GetWebBrowserHtml(const std::function<void(const QString&)>& result);

    // Whether the view's page has loaded the last text given to it.
    bool Loaded() const { return !m_loading; }

    QLineEdit* Edit1 = nullptr; // "商品名称"
    QLineEdit* Edit2 = nullptr; // "商品分类"
    QLineEdit* Edit3 = nullptr; // "价格"
    QLineEdit* Edit4 = nullptr; // "配送方式"
    QWebEngineView* WebBrowser1 = nullptr;
    QPushButton* BtnSave = nullptr;   // "保存"
    QPushButton* BtnCancel = nullptr; // "取消"

  signals:
    // "保存" wrote the row (with its description read back).
    void saved();
    // The view finished loading a description and is in edit mode.
    void loaded();

  private:
    TAppCore* m_core;
    quint64 m_row = 0;       // the identity of the row the editor shows
    QString m_pending;       // the description being loaded
    bool m_loading = false;  // a load has been started and has not finished
    QTemporaryDir m_pageDir; // the page the view loads, written as a file (no size limit)
};
