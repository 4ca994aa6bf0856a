#pragma once

#include "convert/ConversionOptions.h"

#include <QFileInfo>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class AutomationObject;
class BatchProgress;
class ConversionStep;

/// How the last batch of a worker went; read after Signal_SetButtonEnable().
struct BatchReport
{
    int csvFiles = 0;        // .csv files in the file list
    int converted = 0;       // workbooks saved
    bool finished = false;   // the batch reached its summary
    QStringList failures;    // "native path: reason", one per file not converted
    QStringList unreadableFolders; // native paths of the folders whose files could not be listed
    QString failureListPath; // the list of files not converted written at the end, if any
    QString stoppedAt;       // native path of the file that stopped a conversion by settings, if any
};

/// Runs one conversion batch on a thread of its own: lists the files below the source folder, starts
/// one spreadsheet application, converts each .csv file into a workbook under the mirrored output
/// folder, and reports every file and the final count as status texts.
class MergeObject : public QObject
{
    Q_OBJECT

public:
    explicit MergeObject(const QString& text, QObject* parent = nullptr);
    ~MergeObject() override;

    /// Every file below a folder: the folder's own files (hidden ones too, symbolic links not) in name
    /// order ignoring case, then the files of each visible subfolder (a symbolic link to a folder
    /// included, each folder once) in the same order, recursively. A folder that cannot be read is noted
    /// in unreadableFolders().
    QList<QFileInfo> CollectFiles(const QString& folder);

    /// Native paths of the folders the last CollectFiles() could not read.
    const QStringList& unreadableFolders() const { return unreadableFolders_; }

    const BatchReport& report() const { return report_; }

    /// How far the running batch is; connect to it before the batch starts.
    BatchProgress* progress() const { return progress_; }

signals:
    void Signal_SetButtonEnable();
    void ShowDisposingFile(QString filePath);

public slots:
    /// One batch of conversion by settings: each file decoded, staged and imported with the user's
    /// delimiter and column options.
    void Transform();
    /// One batch of automatic conversion: each file opened by the spreadsheet application as it is.
    void AutoTransform();

private:
    void runBatch(ConversionStep& step);
    void writeFailureList(const QString& path, const QString& failureText);
    bool saveWorkbook(AutomationObject& workbook, const QFileInfo& source, const ConversionOptions& options,
                      QString& reason);

    QString text_;
    BatchReport report_;
    BatchProgress* progress_; // a child: it moves to the worker's thread with it
    QStringList unreadableFolders_;
};
