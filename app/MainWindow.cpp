#include "app/MainWindow.h"

#include "QuillmarkVersion.h"
#include "app/AppPaths.h"
#include "app/SystemTray.h"
#include "app/UsageNotes.h"
#include "convert/MergeObject.h"
#include "platform/ScreenSize.h"
#include "ui_MainWindow.h"
#include "update/ThreadPost.h"
#include "update/UpdateRestart.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QThread>
#include <QTimer>
#include <QUrl>

// The pictures live in a static library; this keeps them linked in. Must stand outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

// How long a copy that told a later start it is idle keeps its buttons locked: the later start ends it
// at once, and should that fail this copy goes on as before.
constexpr int kEndingMs = 10000;

QString chooseFolderWithDialog(QWidget* parent)
{
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("选择文件夹"), QStringLiteral("."),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

// The one local folder a drag from a file manager carries; empty for anything else (files, several
// items, remote places, text).
QString draggedFolder(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return QString();
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isDir())
        return QString();
    return url.toLocalFile();
}

} // namespace

bool updateCheckStarted = false;

QPoint InitialWindowPosition(const QSize& screen, const QSize& window)
{
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height()) / 3};
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()), folderChooser(chooseFolderWithDialog)
{
    initResources();
    ui->setupUi(this);

    // Placed while it still has the form's height, then given its normal one in place.
    const platform::ScreenSize screen = platform::primaryScreenSize();
    screenWidth = screen.width;
    screenHeight = screen.height;
    normalHeight = height();
    normalWidth = width();
    move(InitialWindowPosition(QSize(screenWidth, screenHeight), QSize(normalWidth, normalHeight)));

    setWindowTitle(QStringLiteral("Quillmark" QUILLMARK_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/images/qmk.ico")));

    systemTray = new SystemTray(this);
    connect(systemTray, &SystemTray::showWidget, this, &MainWindow::ShowSoftWindow);
    connect(systemTray, &QSystemTrayIcon::activated, this, &MainWindow::SystemTrayActivated);

    ReadSettingsFile(settingsText.data(), settingsText.size(), g_AppPaths.settingsPath);

    normalHeight = 420;
    resize(normalWidth, normalHeight);

    startUpdateCheck();

    restoreSettings();

    // Folders dropped on the line edits are the window's too, not text for them.
    setAcceptDrops(true);
    ui->lEdt_SourcePath->setAcceptDrops(false);
    ui->lEdt_SavePath->setAcceptDrops(false);
    ui->pgBar_Progress->hide(); // shown while a batch runs
    progressPause = new QTimer(this);
    progressPause->setSingleShot(true);
    progressPause->setInterval(100);
    connect(progressPause, &QTimer::timeout, this, [this] {
        if (!progress.drawn)
            drawProgressSoon();
    });

    if (ShowsWindowAtStart(g_AppPaths.firstArgument, QSystemTrayIcon::isSystemTrayAvailable()))
        show();
}

MainWindow::~MainWindow()
{
    // The program is ending. A batch still running is asked to stop after its current file and waited
    // for: its worker and thread cannot be destroyed under it, and an unfinished workbook is never left
    // behind, as workbooks are written under a temporary name.
    if (convertThread)
        convertThread->requestInterruption();
    disposeWorker();
    if (updateWorker)
        updateWorker->stop(); // a check still looking for a server gives up; nothing waits for it
}

// Once per run, after the settings are read and before the controls are filled: the version check and
// self-update on a thread of its own. Its results come back as queued signals: the success, and the
// balloon of a failed download.
void MainWindow::startUpdateCheck()
{
    if (updateCheckStarted)
        return;
    updateCheckStarted = true;
    // Without parents and never deleted: the program does not wait for the update when it ends.
    updateThread = new QThread;
    updateWorker = new ThreadPost(
        programUpdateSetup(g_AppPaths.programPath, g_AppPaths.programDir, g_AppPaths.updateArchivePath));
    updateWorker->moveToThread(updateThread);
    connect(updateThread, &QThread::started, updateWorker, &ThreadPost::startPost);
    connect(updateWorker, &ThreadPost::Signal_UpdateSuccess, this, &MainWindow::on_Signal_UpdateSuccess);
    connect(updateWorker, &ThreadPost::Signal_ShowMessage, systemTray,
            [tray = systemTray](const QString& title, const QString& text) {
                tray->showMessage(title, text, QSystemTrayIcon::Information, kUpdateBalloonMs);
            });
    updateThread->start(QThread::InheritPriority);
}

void MainWindow::on_Signal_UpdateSuccess()
{
    // Started quietly, the program keeps running: the new executable takes effect at the next start.
    if (!restartsAfterUpdate(g_AppPaths.firstArgument))
        return;
    // The restart would end a running batch: the box waits for its end.
    if (batchRunning) {
        updateWaiting = true;
        return;
    }
    announceUpdate();
}

void MainWindow::announceUpdate()
{
    updateWaiting = false;
    QMessageBox::about(this, updateSuccessTitle(), updateSuccessText());
    quitAndRestart(g_AppPaths.programPath);
}

RunningCopyAnswer MainWindow::answerLaterStart(bool quietStart)
{
    if (batchRunning) {
        if (!quietStart)
            ShowSoftWindow();
        return RunningCopyAnswer::Busy;
    }
    ui->pBtn_AutoTransform->setEnabled(false);
    ui->pBtn_Transform->setEnabled(false);
    QTimer::singleShot(kEndingMs, this, [this] {
        if (!batchRunning) {
            ui->pBtn_Transform->setEnabled(true);
            ui->pBtn_AutoTransform->setEnabled(true);
        }
    });
    return RunningCopyAnswer::Idle;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!draggedFolder(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString folder = draggedFolder(event->mimeData());
    if (folder.isEmpty())
        return;
    // As the folder button writes it: native separators, one at the end.
    ui->lEdt_SourcePath->setText(QDir::toNativeSeparators(QDir::cleanPath(folder) + QLatin1Char('/')));
    event->acceptProposedAction();
}

void MainWindow::setFolderChooser(FolderChooser chooser)
{
    folderChooser = std::move(chooser);
}

// Only the first byte of the options counts. Setting a state here emits no clicked(), so nothing is
// written back.
void MainWindow::restoreSettings()
{
    char value[kSettingValueSize];
    GetSettingValue(value, sizeof value, settingsText.data(), "SourcePath");
    if (value[0])
        ui->lEdt_SourcePath->setText(QString::fromLocal8Bit(value));
    GetSettingValue(value, sizeof value, settingsText.data(), "SavePath");
    if (value[0])
        ui->lEdt_SavePath->setText(QString::fromLocal8Bit(value));

    GetSettingValue(value, sizeof value, settingsText.data(), "SaveToQuondamPath");
    if (value[0] == 'y') {
        ui->cBox_SaveToQuondamPath->setChecked(true);
        ui->pBtn_SavePath->setEnabled(false);
        ui->lEdt_SavePath->setEnabled(false);
    }

    GetSettingValue(value, sizeof value, settingsText.data(), "xlsxMode");
    (value[0] == 'n' ? ui->rBtn_xls : ui->rBtn_xlsx)->setChecked(true);

    GetSettingValue(value, sizeof value, settingsText.data(), "vbaOpenFunFomatArg");
    switch (value[0]) {
    case '2':
        ui->rBtn_Semicolon->setChecked(true);
        break;
    case '3':
        ui->rBtn_Comma->setChecked(true);
        break;
    case '4':
        ui->rBtn_Space->setChecked(true);
        break;
    default:
        ui->rBtn_Tabs->setChecked(true);
    }
}

void MainWindow::writeSetting(const char* key, const char* value)
{
    // A settings file that is missing or cannot be written loses the change, without a message.
    SetSettingValue(g_AppPaths.settingsPath, key, value);
}

void MainWindow::chooseFolder(QLineEdit* field, const char* key)
{
    const QString chosen = folderChooser(this);
    if (chosen.isEmpty())
        return;
    // A folder always ends with exactly one added separator: a root folder "/" becomes "//".
    const QString folder = QDir::toNativeSeparators(chosen + QLatin1Char('/'));
    field->setText(folder);
    writeSetting(key, folder.toLocal8Bit().constData());
}

void MainWindow::on_pBtn_SourcePath_clicked()
{
    chooseFolder(ui->lEdt_SourcePath, "SourcePath");
}

void MainWindow::on_pBtn_SavePath_clicked()
{
    chooseFolder(ui->lEdt_SavePath, "SavePath");
}

void MainWindow::on_cBox_SaveToQuondamPath_clicked()
{
    const bool checked = ui->cBox_SaveToQuondamPath->isChecked();
    ui->pBtn_SavePath->setEnabled(!checked);
    ui->lEdt_SavePath->setEnabled(!checked);
    writeSetting("SaveToQuondamPath", checked ? "y" : "n");
}

void MainWindow::on_rBtn_Tabs_clicked()
{
    writeSetting("vbaOpenFunFomatArg", "1");
}

void MainWindow::on_rBtn_Semicolon_clicked()
{
    writeSetting("vbaOpenFunFomatArg", "2");
}

void MainWindow::on_rBtn_Comma_clicked()
{
    writeSetting("vbaOpenFunFomatArg", "3");
}

void MainWindow::on_rBtn_Space_clicked()
{
    writeSetting("vbaOpenFunFomatArg", "4");
}

void MainWindow::on_rBtn_xlsx_clicked()
{
    writeSetting("xlsxMode", "y");
}

void MainWindow::on_rBtn_xls_clicked()
{
    writeSetting("xlsxMode", "n");
}

void MainWindow::on_cBox_SetTextFormat_clicked()
{
    ui->lEdt_SetTextFormat->setEnabled(ui->cBox_SetTextFormat->isChecked());
}

// The two source encodings exclude each other.
void MainWindow::on_cBox_UCS2_clicked()
{
    ui->cBox_UTF8BOM->setChecked(false);
}

void MainWindow::on_cBox_UTF8BOM_clicked()
{
    ui->cBox_UCS2->setChecked(false);
}

void MainWindow::ShowSoftWindow()
{
    showNormal();
    resize(normalWidth, normalHeight);
    raise();
    activateWindow();
}

void MainWindow::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The context menu opens by itself; a middle click does nothing.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        ShowSoftWindow();
}

void MainWindow::on_pBtn_MustRead_clicked()
{
    QMessageBox::about(nullptr, UsageNotesTitle(), UsageNotesText());
}
