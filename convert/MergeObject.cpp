#include "convert/MergeObject.h"

#include "automation/AutomationObject.h"
#include "convert/AutomaticConversion.h"
#include "convert/BatchProgress.h"
#include "convert/OutputLocation.h"
#include "convert/SettingsConversion.h"
#include "convert/StatusTexts.h"
#include "platform/ComInitialization.h"
#include "platform/TextFileOpener.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <memory>

MergeObject::MergeObject(const QString& text, QObject* parent)
    : QObject(parent), text_(text), progress_(new BatchProgress(this))
{
}

MergeObject::~MergeObject() = default;

namespace {

// A folder reached again through a symbolic link (a link to one of its own parents, say) is not listed
// twice: without this the walk would never end. A folder whose entries cannot be read is noted, so that its
// files are not missed without a word.
QList<QFileInfo> collectFiles(const QString& folder, QSet<QString>& visited, QStringList& unreadable)
{
    const QDir dir(folder);
    const QString canonical = dir.canonicalPath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return {};
    visited.insert(canonical);
    const QFileInfo info(folder);
    if (!info.isReadable() || !info.isExecutable()) {
        unreadable << QDir::toNativeSeparators(folder);
        return {};
    }
    // Regular files, and what only looks like one: a FIFO, a device or a socket, or a link to one, is
    // listed so that it is named as not converted rather than passed over. Links to files stay out.
    QList<QFileInfo> files;
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | QDir::System | QDir::Hidden)) {
        const bool special = entry.exists() && !entry.isFile() && !entry.isDir();
        if (special || (entry.isFile() && !entry.isSymLink()))
            files << entry;
    }
    // A link to a device passes Qt's folder filter too: only real folders are walked.
    const QList<QFileInfo> subfolders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& subfolder : subfolders) {
        if (subfolder.isDir())
            files += collectFiles(subfolder.absoluteFilePath(), visited, unreadable);
    }
    return files;
}

} // namespace

QList<QFileInfo> MergeObject::CollectFiles(const QString& folder)
{
    QSet<QString> visited;
    unreadableFolders_.clear();
    return collectFiles(folder, visited, unreadableFolders_);
}

void MergeObject::Transform()
{
    SettingsConversion step(g_ConversionOptions);
    runBatch(step);
}

void MergeObject::AutoTransform()
{
    AutomaticConversion step(g_ConversionOptions.ListAutomaticFailures);
    runBatch(step);
}

bool MergeObject::saveWorkbook(AutomationObject& workbook, const QFileInfo& source, const ConversionOptions& options,
                               QString& reason)
{
    const QString outputName = outputFileNameFor(source, options);
    MakeDirPath(QFileInfo(QDir::fromNativeSeparators(outputFolderFor(source, options))).path());

    // A failed save raises the automation object's exception; a save that claims success but left no
    // file behind is a failure as well.
    bool failed = false;
    const auto connection = connect(&workbook, &AutomationObject::exception, this,
                                    [&](int, const QString&, const QString& description, const QString&) {
                                        failed = true;
                                        reason = description;
                                    });
    workbook.dynamicCall("SaveAs(const QString&, QVariant)", outputName, outputFileFormat(options));
    disconnect(connection);
    if (!failed && !QFileInfo::exists(outputName)) {
        failed = true;
        reason = QStringLiteral("no workbook was written to %1").arg(outputName);
    }
    return !failed;
}

void MergeObject::writeFailureList(const QString& path, const QString& failureText)
{
    // In the system's 8-bit encoding, one native path per line. A list that cannot be written is not
    // opened; the files stay uncounted in the summary.
    QFile file(path);
    const QByteArray bytes = failureText.toLocal8Bit();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        qWarning("cannot write the list of files not converted: %s", qPrintable(path));
        return;
    }
    file.close();
    report_.failureListPath = path;
    platform::openTextFileForUser(QDir::toNativeSeparators(path));
}

void MergeObject::runBatch(ConversionStep& step)
{
    // The window writes the options only while no batch runs; a copy keeps this batch consistent anyway.
    const ConversionOptions options = g_ConversionOptions;
    report_ = BatchReport();
    QString failureText;

    const QList<QFileInfo> files = CollectFiles(options.SourcePath);
    report_.unreadableFolders = unreadableFolders_;
    if (step.keepsFailureList()) {
        for (const QString& folder : unreadableFolders_)
            failureText += step.failureListLine(folder, QStringLiteral("the folder could not be read"));
    }
    platform::initializeAutomationForThread();

    auto application = std::make_unique<AutomationObject>(this);
    emit ShowDisposingFile(StatusTexts::applicationCreated());
    if (application->setControl(QStringLiteral("Excel.Application")))
        emit ShowDisposingFile(StatusTexts::spreadsheetInUse(application->isSystemServer()));
    application->dynamicCall("SetVisible (bool Visible)", QStringLiteral("false"));
    application->setProperty("DisplayAlerts", false);
    AutomationObject* workbooks = application->querySubObject("WorkBooks");
    emit ShowDisposingFile(StatusTexts::workbooksObtained());

    QString openError;
    if (workbooks) {
        connect(workbooks, &AutomationObject::exception, this,
                [&](int, const QString&, const QString& description, const QString&) { openError = description; });
    }
    // How far the application is within a file, passed on a few times a second at most; a change of stage
    // always.
    const int csvFiles = int(std::count_if(files.begin(), files.end(), [](const QFileInfo& file) {
        return file.filePath().toLower().endsWith(QLatin1String(".csv"));
    }));
    QElapsedTimer sinceProgress;
    QString lastStage;
    connect(application.get(), &AutomationObject::serverEvent, this,
            [&](const QString& name, const QVariantList& arguments) {
                if (!name.startsWith(QLatin1String("Progress(")) || arguments.size() != 3)
                    return;
                const QString stage = arguments[0].toString();
                if (stage == lastStage && sinceProgress.isValid() && sinceProgress.elapsed() < 100)
                    return;
                lastStage = stage;
                sinceProgress.start();
                emit progress_->fileProgress(stage, arguments[1].toLongLong(), arguments[2].toLongLong());
            });

    bool stopped = false;
    QHash<QString, QString> savedFrom; // workbook written in this batch -> its source
    if (!workbooks) {
        emit ShowDisposingFile(StatusTexts::noSpreadsheetApplication());
    } else {
        for (const QFileInfo& file : files) {
            // The program is ending (the window closes): the import and the save of the file in hand stop
            // too, between row blocks, and leave no half-written workbook.
            if (QThread::currentThread()->isInterruptionRequested()) {
                stopped = true;
                break;
            }
            const QString nativePath = QDir::toNativeSeparators(file.filePath());
            if (!nativePath.toLower().endsWith(QLatin1String(".csv")))
                continue;
            ++report_.csvFiles;
            emit ShowDisposingFile(nativePath);
            emit progress_->fileStarted(report_.csvFiles, csvFiles, nativePath);
            lastStage.clear();

            QString reason;
            bool converted = false;
            // Two sources with one workbook name (data.csv and data.CSV): the later one is not written
            // over the workbook of the earlier one.
            const QString outputName = outputFileNameFor(file, options);
            const auto earlier = savedFrom.constFind(outputName);
            if (earlier != savedFrom.constEnd()) {
                reason = QStringLiteral("its workbook %1 was already written for %2").arg(outputName, *earlier);
            } else {
                openError.clear();
                AutomationObject* workbook = step.obtainWorkbook(*application, *workbooks, nativePath, stopped);
                if (stopped) {
                    report_.stoppedAt = nativePath;
                    emit ShowDisposingFile(StatusTexts::sourceCannotBeOpened());
                    report_.failures << nativePath + QStringLiteral(": it cannot be opened for reading and "
                                                                    "writing; the batch stopped here");
                    break;
                }
                if (!workbook) {
                    reason = step.failureReason();
                    if (reason.isEmpty())
                        reason = openError;
                    if (reason.isEmpty())
                        reason = QStringLiteral("the spreadsheet application could not open it");
                } else {
                    converted = saveWorkbook(*workbook, file, options, reason);
                    if (converted) {
                        ++report_.converted;
                        savedFrom.insert(outputName, nativePath);
                    }
                    workbook->dynamicCall("Close (Boolean)", false);
                }
            }
            if (!converted && QThread::currentThread()->isInterruptionRequested()) {
                // Stopped in the middle of the file: nothing of it was written, and it did not fail.
                step.cleanUp();
                stopped = true;
                break;
            }
            if (!converted) {
                report_.failures << nativePath + QStringLiteral(": ") + reason;
                if (step.keepsFailureList())
                    failureText += step.failureListLine(nativePath, reason);
            }
            step.cleanUp();
        }
        if (!stopped && !failureText.isEmpty())
            writeFailureList(options.FailListPath, failureText);
        if (!stopped) {
            emit ShowDisposingFile(StatusTexts::summary(report_.converted));
            report_.finished = true;
        }
    }

    application->dynamicCall("Quit(void)");
    application.reset();
    emit progress_->finished();
    emit Signal_SetButtonEnable();
}
