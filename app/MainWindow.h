#pragma once

#include "app/RunningCopy.h"
#include "app/SettingsFile.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <array>
#include <functional>
#include <memory>

class MergeObject;
class QLineEdit;
class QThread;
class QTimer;
class SystemTray;
class ThreadPost;
struct ConversionOptions;

/// Whether this run's update check has been started: the first window starts it, once per run. Tests set
/// it beforehand so that no window of theirs looks for the update servers.
extern bool updateCheckStarted;

namespace Ui {
class MainWindow;
}

/// Where a window of size `window` first stands on a screen of size `screen`: centred across, a third of
/// the free height down (integer division, truncating toward zero). Screens smaller than the window give
/// negative coordinates.
QPoint InitialWindowPosition(const QSize& screen, const QSize& window);

/// The program's only window: the folders, the output format and the options of a batch, the two
/// conversion buttons and the red status line. It restores the remembered choices from the settings file
/// when it is built and writes each change back at once. It shows itself unless the program starts
/// quietly ("-autorun") and the tray icon can bring it up.
class MainWindow : public QMainWindow
{
    Q_OBJECT

  public:
    /// Asks the user for a folder; the folder with '/' separators, or empty text when cancelled.
    using FolderChooser = std::function<QString(QWidget* parent)>;

    explicit MainWindow(QWidget* parent = nullptr);
    /// A batch still running is told to stop and waited for: its thread and worker cannot outlive it.
    ~MainWindow() override;

    /// Replaces the folder dialog behind the two folder buttons.
    void setFolderChooser(FolderChooser chooser);

    /// The icon in the notification area, for messages to the user.
    SystemTray* trayIcon() const { return systemTray; }

    /// Answers a later start of the program: while a batch runs this copy keeps running (Busy) and shows
    /// its window unless the start is a quiet one; otherwise it is about to be ended (Idle) and starts no
    /// batch in the meantime.
    RunningCopyAnswer answerLaterStart(bool quietStart);

  protected:
    /// A folder dragged from a file manager and dropped onto the window becomes the source folder.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  signals:
    void pBtn_Transform_HasClicked();
    void pBtn_AutoTransform_HasClicked();

  public slots:
    /// Shows the window at its normal size, out of the minimised or maximised state, above other windows.
    void ShowSoftWindow();
    void SystemTrayActivated(QSystemTrayIcon::ActivationReason reason);

  private slots:
    void on_ShowDisposingFile(QString filePath);
    void on_pBtn_SourcePath_clicked();
    void on_pBtn_SavePath_clicked();
    void on_pBtn_Transform_clicked();
    void on_Signal_SetButtonEnable();
    void on_cBox_SaveToQuondamPath_clicked();
    void on_rBtn_Tabs_clicked();
    void on_rBtn_Comma_clicked();
    void on_rBtn_Space_clicked();
    void on_rBtn_Semicolon_clicked();
    void on_rBtn_xlsx_clicked();
    void on_rBtn_xls_clicked();
    void on_cBox_SetTextFormat_clicked();
    void on_cBox_UCS2_clicked();
    void on_cBox_UTF8BOM_clicked();
    void on_pBtn_AutoTransform_clicked();
    void on_pBtn_MustRead_clicked();
    void on_Signal_UpdateSuccess();

  private:
    void restoreSettings();
    void writeSetting(const char* key, const char* value);
    void chooseFolder(QLineEdit* field, const char* key);

    // Conversion requests.
    void takeFolders(ConversionOptions& options);
    bool foldersExist(const ConversionOptions& options);
    /// Empties the status line, locks both conversion buttons and takes the format and delimiter.
    void lockForBatch(ConversionOptions& options);
    /// The folders of a batch that starts are remembered, typed or chosen alike.
    void rememberFolders(const ConversionOptions& options);
    /// A list of failed files left by an earlier batch must not pass for this one's.
    void removeOldFailureList(ConversionOptions& options);
    void startBatch(void (MainWindow::*request)(), void (MergeObject::*batch)());
    void disposeWorker();
    /// The red line's last text names the files that were not converted, or the file that stopped it.
    void reportBatchEnd();
    void showFileStarted(int number, int count);
    void showFileProgress(const QString& stage, qint64 done, qint64 total);
    /// Draws the progress bar now, or when its pause is over: at most ten times a second.
    void drawProgressSoon();
    void drawProgress();
    void startUpdateCheck();
    /// The box of a completed update; its OK ends the program and starts the new version.
    void announceUpdate();

    std::unique_ptr<Ui::MainWindow> ui;
    int screenWidth = 0;
    int screenHeight = 0;
    int normalHeight = 0; // the size ShowSoftWindow() restores
    int normalWidth = 0;
    // The worker of the latest batch and its thread; both replaced at each request.
    std::unique_ptr<QThread> convertThread;
    std::unique_ptr<MergeObject> convertWorker;
    bool batchRunning = false;  // from the request until the worker's end signal
    bool updateWaiting = false; // an update completed during a batch, announced at its end
    // The progress last reported, and whether the bar shows it yet.
    struct
    {
        int number = 0, count = 0; // the file in hand, of how many
        QString stage;
        qint64 done = 0, total = 0;
        bool drawn = true;
    } progress;
    QTimer* progressPause = nullptr; // a child
    SystemTray* systemTray = nullptr;                   // child of the window
    // The update check's thread and worker: started once per run and never deleted while it runs.
    QThread* updateThread = nullptr;
    ThreadPost* updateWorker = nullptr;
    std::array<char, kSettingsTextSize> settingsText{}; // the settings file as read at start
    FolderChooser folderChooser;
};
