#pragma once

#include <QObject>
#include <QString>

/// How far a batch is, for a front end that shows it (quillmark-convert --progress): which .csv file of
/// how many, and how far through that file the spreadsheet application is. Lives beside the worker, on
/// its thread; a few signals a second at most, however large the file.
class BatchProgress : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    /// The batch starts on the `number`th of its `count` .csv files (from 1).
    void fileStarted(int number, int count, const QString& nativePath);
    /// Within the file: the stage ("reading", "preparing", "writing"), rows done, rows in all (0 while
    /// not known).
    void fileProgress(const QString& stage, qint64 done, qint64 total);
    /// No file is in hand any more: the batch has ended.
    void finished();
};
