#pragma once

// Shared by the convert tests: files on disk, and a conversion worker on a thread of its own whose
// signals reach the test thread queued, as they reach the window.

#include "convert/MergeObject.h"
#include "tests/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>
#include <QtTest>

constexpr int kBatchTimeout = 60000;

// Every entry below a folder (hidden ones too, links not followed), relative and sorted.
inline QStringList treeOf(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

class BatchWorker
{
  public:
    BatchWorker() : worker_(new MergeObject(QStringLiteral("tem")))
    {
        worker_->moveToThread(&thread_);
        QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
        QObject::connect(worker_, &MergeObject::ShowDisposingFile, &receiver_,
                         [this](const QString& text) { statuses << text; });
        QObject::connect(worker_, &MergeObject::Signal_SetButtonEnable, &receiver_, [this] { ++endSignals; });
        thread_.start();
    }
    ~BatchWorker()
    {
        thread_.quit();
        if (!thread_.wait(kBatchTimeout)) // a batch that never ends has failed already: do not hang
            qFatal("the worker's thread did not finish");
    }

    void requestInterruption() { thread_.requestInterruption(); }

    // Runs one batch, waits for its end signal, then for the worker to go idle and every signal it sent
    // to arrive. False when the batch did not end in time.
    bool run(const ConversionOptions& options, void (MergeObject::*batch)() = &MergeObject::AutoTransform)
    {
        start(options, batch);
        return waitForEnd();
    }
    // run() in two halves, for tests that act while the batch runs.
    void start(const ConversionOptions& options, void (MergeObject::*batch)() = &MergeObject::AutoTransform)
    {
        statuses.clear();
        endSignals = 0;
        g_ConversionOptions = options;
        QMetaObject::invokeMethod(worker_, batch, Qt::QueuedConnection);
    }
    bool waitForEnd()
    {
        if (!QTest::qWaitFor([this] { return endSignals > 0; }, kBatchTimeout))
            return false;
        QMetaObject::invokeMethod(
            worker_, [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
        return true;
    }
    // Safe between batches: run() has synchronised with the idle worker.
    const BatchReport& report() const { return worker_->report(); }

    QStringList statuses;
    int endSignals = 0;

  private:
    QThread thread_;
    MergeObject* worker_;
    QObject receiver_; // lives on the test thread
};
