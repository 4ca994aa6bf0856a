// Times a batch of many small files started from the window, from the click to the end signal, with the
// window on Qt's offscreen platform: what the window does for every file (status line, progress bar)
// must not slow such a batch. Not a test; prints figures only.
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
#include <memory>
#include <vector>

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

    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        auto window = std::make_unique<MainWindow>();
        window->findChild<QLineEdit*>(QStringLiteral("lEdt_SourcePath"))->setText(source);
        window->findChild<QLineEdit*>(QStringLiteral("lEdt_SavePath"))->setText(output);
        auto* button = window->findChild<QPushButton*>(QStringLiteral("pBtn_AutoTransform"));
        QElapsedTimer timer;
        timer.start();
        button->click();
        while (!button->isEnabled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        seconds.push_back(timer.nsecsElapsed() / 1e9);
        std::printf("run %d: %.3f s\n", run + 1, seconds.back());
        std::fflush(stdout);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%d files, %d runs: median %.3f s, min %.3f s, max %.3f s\n", files, runs,
                seconds[seconds.size() / 2], seconds.front(), seconds.back());
    return 0;
}
