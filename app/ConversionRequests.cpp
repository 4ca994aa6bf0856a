// The window's side of a batch: the checks, the options record, the worker on its thread, the status line.

#include "app/MainWindow.h"

#include "app/ProgressDisplay.h"
#include "convert/BatchProgress.h"
#include "convert/ConversionOptions.h"
#include "convert/MergeObject.h"
#include "convert/StatusTexts.h"
#include "ui_MainWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

namespace {

void showMessage(QWidget* parent, const QString& text)
{
    QMessageBox::about(parent, QStringLiteral("Message:"), text);
}

} // namespace

void MainWindow::takeFolders(ConversionOptions& options)
{
    options.SourcePath = QDir::toNativeSeparators(ui->lEdt_SourcePath->text());
    options.SavePath = QDir::toNativeSeparators(ui->lEdt_SavePath->text());
    options.SaveToQuondamPath = ui->cBox_SaveToQuondamPath->isChecked();
}

// One message at most, the source folder's first. The output folder is not looked at when each workbook
// goes next to its source.
bool MainWindow::foldersExist(const ConversionOptions& options)
{
    if (!QFileInfo(options.SourcePath).isDir()) {
        showMessage(this, QStringLiteral("提取文件夹不存在!"));
        return false;
    }
    if (!options.SaveToQuondamPath && !QFileInfo(options.SavePath).isDir()) {
        showMessage(this, QStringLiteral("保存文件夹不存在!"));
        return false;
    }
    return true;
}

void MainWindow::rememberFolders(const ConversionOptions& options)
{
    writeSetting("SourcePath", options.SourcePath.toLocal8Bit().constData());
    if (!options.SaveToQuondamPath)
        writeSetting("SavePath", options.SavePath.toLocal8Bit().constData());
}

void MainWindow::removeOldFailureList(ConversionOptions& options)
{
    // Written, opened and named with the system's separators, as the source folder is.
    options.FailListPath =
        QDir::toNativeSeparators(options.SourcePath + QStringLiteral("/无法转换的文件目录.txt"));
    QFile::remove(options.FailListPath);
}

void MainWindow::lockForBatch(ConversionOptions& options)
{
    ui->lb_ShowDisposing->setText(QString());
    ui->pBtn_AutoTransform->setEnabled(false);
    ui->pBtn_Transform->setEnabled(false);

    options.xlsxMode = ui->rBtn_xlsx->isChecked();
    if (ui->rBtn_Tabs->isChecked())
        options.vbaOpenFunFomatArg = 1;
    else if (ui->rBtn_Semicolon->isChecked())
        options.vbaOpenFunFomatArg = 2;
    else if (ui->rBtn_Comma->isChecked())
        options.vbaOpenFunFomatArg = 3;
    else if (ui->rBtn_Space->isChecked())
        options.vbaOpenFunFomatArg = 4;
}

void MainWindow::on_pBtn_AutoTransform_clicked()
{
    ConversionOptions& options = g_ConversionOptions;
    takeFolders(options);
    if (!foldersExist(options))
        return;
    rememberFolders(options);
    // This mode lists its failures, with their reasons, in the list of the conversion by settings.
    removeOldFailureList(options);
    options.ListAutomaticFailures = true;
    lockForBatch(options);
    startBatch(&MainWindow::pBtn_AutoTransform_HasClicked, &MergeObject::AutoTransform);
}

void MainWindow::on_pBtn_Transform_clicked()
{
    ConversionOptions& options = g_ConversionOptions;
    takeFolders(options);
    options.UTF8BOM = ui->cBox_UTF8BOM->isChecked();
    options.UCS2 = ui->cBox_UCS2->isChecked() && !options.UTF8BOM;
    if (!foldersExist(options))
        return;
    rememberFolders(options);
    removeOldFailureList(options);

    lockForBatch(options);
    options.SetTextFormat = ui->cBox_SetTextFormat->isChecked();
    options.TextFormatColumns = options.SetTextFormat ? ui->lEdt_SetTextFormat->text() : QString();
    options.ConsecutiveDelimiter = ui->cBox_ConsecutiveDelimiter->isChecked();
    options.OtherLanguage = ui->cBox_OtherLanguage->isChecked();
    startBatch(&MainWindow::pBtn_Transform_HasClicked, &MergeObject::Transform);
}

// Each request gets a fresh worker on a fresh thread; the request signal reaches that worker alone, once.
void MainWindow::startBatch(void (MainWindow::*request)(), void (MergeObject::*batch)())
{
    disposeWorker();
    convertThread = std::make_unique<QThread>();
    convertThread->start();
    convertWorker = std::make_unique<MergeObject>(QStringLiteral("tem"));
    convertWorker->moveToThread(convertThread.get());
    connect(convertWorker.get(), &MergeObject::ShowDisposingFile, this, &MainWindow::on_ShowDisposingFile);
    connect(this, request, convertWorker.get(), batch);
    connect(convertWorker.get(), &MergeObject::Signal_SetButtonEnable, this,
            &MainWindow::on_Signal_SetButtonEnable);
    connect(convertWorker->progress(), &BatchProgress::fileStarted, this,
            [this](int number, int count) { showFileStarted(number, count); });
    connect(convertWorker->progress(), &BatchProgress::fileProgress, this, &MainWindow::showFileProgress);
    batchRunning = true;
    emit(this->*request)();
}

// The end signal of the previous batch may arrive while its slot is still returning on the worker's
// thread, so the thread is stopped and joined before the worker goes.
void MainWindow::disposeWorker()
{
    if (convertThread) {
        convertThread->quit();
        convertThread->wait();
    }
    convertWorker.reset();
    convertThread.reset();
}

void MainWindow::on_ShowDisposingFile(QString filePath)
{
    ui->lb_ShowDisposing->setText(filePath);
}

void MainWindow::on_Signal_SetButtonEnable()
{
    ui->pBtn_Transform->setEnabled(true);
    ui->pBtn_AutoTransform->setEnabled(true);
    batchRunning = false;
    progressPause->stop();
    progress.drawn = true;
    ui->pgBar_Progress->hide();
    reportBatchEnd();
    if (updateWaiting)
        announceUpdate();
}

// The worker's report is complete once its end signal has arrived.
void MainWindow::reportBatchEnd()
{
    const BatchReport& report = convertWorker->report();
    if (!report.stoppedAt.isEmpty()) {
        ui->lb_ShowDisposing->setText(StatusTexts::sourceCannotBeOpened() + StatusTexts::stoppedAt(report.stoppedAt));
    } else if (report.finished && (!report.failures.isEmpty() || !report.unreadableFolders.isEmpty())) {
        ui->lb_ShowDisposing->setText(StatusTexts::summary(report.converted) +
                                      StatusTexts::notConverted(report.failures.size(),
                                                                report.unreadableFolders.size(),
                                                                !report.failureListPath.isEmpty()));
    }
}

void MainWindow::showFileStarted(int number, int count)
{
    progress.number = number;
    progress.count = count;
    showFileProgress(QString(), 0, 0);
}

void MainWindow::showFileProgress(const QString& stage, qint64 done, qint64 total)
{
    progress.stage = stage;
    progress.done = done;
    progress.total = total;
    progress.drawn = false;
    drawProgressSoon();
}

// A batch of small files reports thousands of files a minute: drawing each would take the processor
// from the batch, and nobody could read it.
void MainWindow::drawProgressSoon()
{
    if (progressPause->isActive())
        return;
    drawProgress();
    progressPause->start();
}

void MainWindow::drawProgress()
{
    const ProgressDisplay display =
        progressDisplay(progress.number, progress.count, progress.stage, progress.done, progress.total);
    ui->pgBar_Progress->setValue(display.permille);
    ui->pgBar_Progress->setFormat(display.text);
    ui->pgBar_Progress->show();
    progress.drawn = true;
}
