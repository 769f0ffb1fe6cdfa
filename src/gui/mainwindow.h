#pragma once

#include <QMainWindow>
#include <QMessageBox>

#include "app/appcore.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class QToolButton;
class QWebEngineView;
class TAppCore;
class TFInfoEdit;
class TPointerFetcher;
class TStringGridView;

// The main window: tool buttons over five pages whose tabs are hidden, the status bar, and the
// start-up and shutdown steps that concern the window. All behaviour lives in TAppCore; the
// window shows its state, forwards the user's commands, and receives the workers' reports
// queued on its own thread.
class TFrMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit TFrMain(TAppCore* core, QWidget* parent = nullptr);
    ~TFrMain() override;

    // Window size for a screen: the screen less a fifth of it in each direction.
    static QSize SizeForScreen(const QSize& screen);

    // The busy state: sets exactly the eight commands that start more work to `Enabled`.
    void EnableCommands(bool Enabled);
    // The shutdown: stops the running jobs, waits for them, then saves; runs once, from the
    // destroy step.
    void FormDestroy();

    TAppCore* Core() const { return m_core; }

    // Controls. Their object names are the documented ones ("WebBrowser1", "Edit4", "Button9", ...);
    // the members say what each one is where the documented name would be taken for another.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr; // "欢迎使用"
    QWidget* TabSheet2 = nullptr; // "宝贝搜索"
    QWidget* TabSheet3 = nullptr; // " 设 置 "
    QWidget* TabSheet4 = nullptr; // " 日 志 "
    QWidget* TabSheet5 = nullptr; // "帮助中心"
    QList<QToolButton*> ToolButtons;
    QWebEngineView* WelcomeView = nullptr; // "WebBrowser1"
    QWebEngineView* HelpView = nullptr;    // "WebBrowser2"

    QGroupBox* RadioGroup1 = nullptr;
    QList<QRadioButton*> RadioGroup1Items;
    QComboBox* ComboBox1 = nullptr;
    QPlainTextEdit* edit1 = nullptr; // the address box
    QListWidget* ListBox1 = nullptr;
    QPushButton* BtnAdd = nullptr;
    QPushButton* BtnRemove = nullptr;
    QPushButton* BtnClear = nullptr;
    QPushButton* BtnSearch = nullptr;
    QPushButton* BtnSelectAll = nullptr;
    QPushButton* BtnInvert = nullptr;
    QPushButton* Button9 = nullptr;  // "导出CSV"
    QPushButton* Button10 = nullptr; // "下载图片"
    QPushButton* BtnBatchWatermark = nullptr;
    TStringGridView* StringGrid1 = nullptr;

    QPushButton* Button11 = nullptr;
    QLabel* Label5 = nullptr;     // version label
    QLabel* UpdateNote = nullptr; // beside it: a downloaded update waits for the end
    QGroupBox* Panel6 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QPushButton* BtnClearCache = nullptr;
    QLineEdit* WatermarkEdit = nullptr; // "Edit4": the watermark text
    QCheckBox* cbDL = nullptr;
    QCheckBox* cbDLXX = nullptr;
    QCheckBox* cbDLJG = nullptr;
    // "价格调整": the export's price factor and the amount added.
    QDoubleSpinBox* SpinPriceFactor = nullptr;
    QDoubleSpinBox* SpinPriceAmount = nullptr;
    QPushButton* BtnBatchTitles = nullptr;

    QPlainTextEdit* Memo1 = nullptr;
    // The item editor ("编辑信息"), hidden until "&E编辑".
    TFInfoEdit* InfoEdit = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    // Five panels: 0 a running job's progress, then what came of it; 2 the table's item and
    // selection count; 3 the version; 4 the latest status text.
    QList<QLabel*> StatusPanels;
    // Beside the first panel while a search, crawl, export or picture download runs.
    QProgressBar* ProgressBar1 = nullptr;
    // At the right of the status bar: how far an update download is ("更新中 42%"), then that a
    // downloaded update waits for the close; hidden otherwise. Seen from every page.
    QLabel* UpdateStatus = nullptr;

  protected:
    // A message box; tests replace it to answer without a dialog.
    virtual QMessageBox::StandardButton MessageBox(const QString& text, const QString& caption,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::Icon icon);
    // Opens an address in the user's browser (the help page's new windows). Tests replace it.
    virtual void OpenInBrowser(const QUrl& url);
    // Writes and starts the script that puts the staged update in place once this process has
    // ended. Tests replace it.
    virtual TStatus WriteUpdateScript(bool restartNow);
    // Ends the program once an update script was started and the state saved: the event loop
    // ends, and the window and its web views are taken down in order (leaving no helper process
    // behind), nothing saved again. Tests replace it.
    virtual void QuitAfterUpdate();
    // The folder picker; the empty text when the user cancels. Tests replace it.
    virtual QString ChooseFolder(const QString& caption);
    // The open-file dialog; the empty text when the user cancels. Tests replace it.
    virtual QString ChooseFile(const QString& caption);
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormCreate();
    void FormShow();
    void FormClose();
    // The version check: offers the update when the latest version differs from the running one;
    // `verbose` also says when it does not ("检测更新").
    void CheckUpdate(bool verbose);
    // The end of the update download: the failure message, or the choice between restarting now
    // and updating at the next start.
    void UpdateDownloaded(const TJobResult& result);
    // What is said of a downloaded update that waits for the close.
    static QString UpdateWaitsText();
    // Fetches a view's pointer file and shows the page it names, or the built-in page.
    void LoadPointedPage(QWebEngineView* view, const QString& pointerPath, const QUrl& builtIn);
    QWidget* buildSearchPage();
    QWidget* buildSettingsPage();
    QWidget* buildLogPage();
    void buildToolBar();
    void buildStatusBar();
    void connectCore();
    void showChoices();
    void deleteCurrentRow();
    void deleteSelectedRows();
    void Button9Click();
    // "批量修改水印文字": the selected rows get the watermark text.
    void BtnBatchWatermarkClick();
    // "批量替换宝贝名称": titles from a text file.
    void BtnBatchTitlesClick();
    void openSupportChat();
    QPushButton* commandButton(TJobKind kind) const;
    // A press of a command's button while its job runs: stops the job when the user confirms.
    // False when no job of that kind runs (the press starts the command).
    bool stopOnPress(TJobKind kind);
    void showJobStarted(TJobKind kind);
    void showJobAdvanced(TJobKind kind, qint64 done, qint64 total);
    void showJobFinished(TJobKind kind, const TJobResult& result);
    // The selection panel follows the table; changes that come in a burst are shown once.
    void selectionCountChanged();
    void showSelectionCount();

    TAppCore* m_core;
    TPointerFetcher* m_pointers = nullptr;
    bool m_shown = false;
    // The update question has been asked in this run: only "检测更新" asks it again.
    bool m_updateAsked = false;
    bool m_destroyed = false;
    bool m_selectionCountDue = false;
};
