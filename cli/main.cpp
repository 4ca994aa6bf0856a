// quillmark-convert: the window's automatic conversion without a window, for scripts and schedulers.

#include "cli/ConvertCommand.h"
#include "cli/ProgressLine.h"
#include "convert/BatchProgress.h"
#include "convert/MergeObject.h"
#include "platform/FileNameEncoding.h"
#include "platform/Terminal.h"
#include "platform/TerminationRequests.h"
#include "platform/TextFileOpener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <memory>

namespace {

// In the system's encoding (UTF-8), where a file name that is not valid in it is printed as its bytes.
void printLine(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    platform::useLosslessFileNames();
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments();
    arguments.removeFirst();

    const ConvertCommand command = parseConvertCommand(arguments);
    if (command.help) {
        std::fputs(convertUsage().toUtf8().constData(), stdout);
        return 0;
    }
    if (command.version) {
        printLine(stdout, convertVersion());
        return 0;
    }
    if (!command.error.isEmpty()) {
        printLine(stderr, QStringLiteral("quillmark-convert: ") + command.error);
        printLine(stderr, QStringLiteral("Try 'quillmark-convert --help'."));
        return 2;
    }
    if (!command.options.SaveToQuondamPath && !QDir().mkpath(command.options.SavePath)) {
        printLine(stderr, QStringLiteral("quillmark-convert: cannot create the output folder ") +
                              command.options.SavePath);
        return 1;
    }
    g_ConversionOptions = command.options;
    AutomationServers::setChoice(command.engine);

    // With --progress on a terminal, a line on standard error shows how far the batch is; it steps aside
    // for every line printed.
    std::unique_ptr<ProgressLine> progress;
    if (command.progress && platform::standardErrorIsTerminal())
        progress = std::make_unique<ProgressLine>(stderr);
    auto printStatus = [&progress](const QString& text) {
        if (progress)
            progress->clear();
        printLine(stdout, text);
    };

    if (command.bySettings) {
        // As the window does before a conversion by settings: an old list would mislead.
        QFile::remove(command.options.FailListPath);
        // Printed in turn with the status texts, which reach this thread as queued signals.
        platform::setTextFileOpener([&application, &printStatus](const QString& path) {
            QMetaObject::invokeMethod(&application, [path, &printStatus] { printStatus(path); }, Qt::QueuedConnection);
        });
    }

    // The same worker the window uses, on a thread of its own, reporting through queued signals.
    QThread thread;
    auto worker = std::make_unique<MergeObject>(QStringLiteral("tem"));
    worker->moveToThread(&thread);
    QObject::connect(worker.get(), &MergeObject::ShowDisposingFile, &application, printStatus);
    if (progress) {
        ProgressLine* line = progress.get();
        QObject::connect(worker->progress(), &BatchProgress::fileStarted, line, &ProgressLine::fileStarted);
        QObject::connect(worker->progress(), &BatchProgress::fileProgress, line, &ProgressLine::fileProgress);
        QObject::connect(worker->progress(), &BatchProgress::finished, line, &ProgressLine::finished);
    }
    QObject::connect(worker.get(), &MergeObject::Signal_SetButtonEnable, &application, &QCoreApplication::quit);
    // Ctrl+C or a termination signal stops the batch between row blocks: the workbooks written so far
    // stay, the one in hand is dropped with its temporary file, and the exit status says what ended it.
    int terminationStatus = 0;
    platform::TerminationRequests termination;
    QObject::connect(&termination, &platform::TerminationRequests::received, &application, [&](int status) {
        terminationStatus = terminationStatus ? terminationStatus : status;
        thread.requestInterruption();
    });
    thread.start();
    QMetaObject::invokeMethod(worker.get(), command.bySettings ? &MergeObject::Transform : &MergeObject::AutoTransform,
                              Qt::QueuedConnection);
    application.exec();
    thread.quit();
    thread.wait();

    if (progress)
        progress->finished();
    const BatchReport& report = worker->report();
    for (const QString& folder : report.unreadableFolders)
        printLine(stderr, QStringLiteral("quillmark-convert: cannot read the folder ") + folder);
    for (const QString& failure : report.failures)
        printLine(stderr, QStringLiteral("quillmark-convert: not converted: ") + failure);
    if (terminationStatus != 0)
        return terminationStatus;
    if (!report.finished)
        return 1;
    return report.converted == report.csvFiles && report.unreadableFolders.isEmpty() ? 0 : 1;
}
