// Times a batch of many small files started from the window, from the click to the end signal, with the
// window on Qt's offscreen platform: what the window does for every file (status line, progress bar)
// must not slow such a batch. Wall time, the processor time of the whole process (all threads), and that
// of the window's thread alone, where the window's share shows best on a loaded machine. Not a test;
// prints figures only.
//   window_batch [FILES [RUNS]]   (defaults: 2000 files, 5 runs)

#include "app/AppPaths.h"
#include "app/MainWindow.h"
#include "platform/TextFileOpener.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <time.h>
#include <memory>
#include <vector>

namespace {

// Processor seconds of the calling thread (POSIX; this benchmark runs on the development machines).
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QApplication application(argc, argv);
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("in"));
    const QString output = folder.filePath(QStringLiteral("out"));
    for (int i = 0; i < files; ++i) {
        const QString sub = source + QStringLiteral("/%1").arg(i / 100);
        QDir().mkpath(sub);
        QFile file(sub + QStringLiteral("/f%1.csv").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write("id,name,amount\r\n1,alpha,1.5\r\n2,beta,2.5\r\n");
    }
    QDir().mkpath(output);

    // No settings file beside this program path, no update check, no list opened.
    const QByteArray program = QFile::encodeName(folder.filePath(QStringLiteral("Quillmark")));
    const char* arguments[] = {program.constData()};
    FillAppPaths(g_AppPaths, 1, arguments);
    updateCheckStarted = true;
    platform::setTextFileOpener([](const QString&) {});

    std::vector<double> seconds, processor, windowThread;
    for (int run = 0; run < runs; ++run) {
        auto window = std::make_unique<MainWindow>();
        window->findChild<QLineEdit*>(QStringLiteral("lEdt_SourcePath"))->setText(source);
        window->findChild<QLineEdit*>(QStringLiteral("lEdt_SavePath"))->setText(output);
        auto* button = window->findChild<QPushButton*>(QStringLiteral("pBtn_AutoTransform"));
        QElapsedTimer timer;
        timer.start();
        const std::clock_t started = std::clock();
        const double windowStarted = threadSeconds();
        button->click();
        while (!button->isEnabled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        seconds.push_back(timer.nsecsElapsed() / 1e9);
        processor.push_back(double(std::clock() - started) / CLOCKS_PER_SEC);
        windowThread.push_back(threadSeconds() - windowStarted);
        std::printf("run %d: %.3f s, processor %.3f s, window thread %.3f s\n", run + 1, seconds.back(),
                    processor.back(), windowThread.back());
        std::fflush(stdout);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(processor.begin(), processor.end());
    std::sort(windowThread.begin(), windowThread.end());
    std::printf("%d files, %d runs: median %.3f s (min %.3f, max %.3f), processor median %.3f s (min %.3f), "
                "window thread median %.3f s (min %.3f)\n",
                files, runs, seconds[seconds.size() / 2], seconds.front(), seconds.back(),
                processor[processor.size() / 2], processor.front(), windowThread[windowThread.size() / 2], windowThread.front());
    return 0;
}
