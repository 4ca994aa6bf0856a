#include "app/Application.h"

#include "app/AppPaths.h"
#include "app/MainWindow.h"
#include "app/QtTranslation.h"
#include "app/RunningCopy.h"
#include "app/SingleInstance.h"
#include "app/UsageNotes.h"
#include "platform/ExecutablePath.h"
#include "platform/FileNameEncoding.h"
#include "platform/InstanceChannel.h"

#include <QApplication>

#include <memory>
#include <vector>

int RunQuillmark(int argc, char** argv)
{
    platform::useLosslessFileNames();
    // All of the program's own files lie beside its executable. A launcher starts it by bare name, looked
    // up in PATH, from the user's home folder, and a symbolic link may stand for it: the executable's own
    // path names its folder, where the command line may not.
    const QByteArray executable = platform::runningExecutablePath();
    std::vector<const char*> arguments(argv, argv + argc);
    if (!arguments.empty() && !executable.isEmpty())
        arguments[0] = executable.constData();
    FillAppPaths(g_AppPaths, argc, arguments.data());

    auto application = std::make_unique<QApplication>(argc, argv);
    // One copy runs at a time, but a batch is never lost to a second start: a copy that is converting
    // keeps running, brings its window forward (not for a quiet start) and this start ends here.
    const QString channel = platform::instanceChannelName();
    if (!KeepSingleInstance(AskRunningCopy(channel, IsAutorunArgument(g_AppPaths.firstArgument))))
        return 0;
    const std::unique_ptr<QTranslator> translation = InstallQtChineseTranslation();

    auto window = std::make_unique<MainWindow>();
    auto laterStarts = std::make_unique<RunningCopyChannel>(
        [&window](bool quietStart) { return window->answerLaterStart(quietStart); });
    laterStarts->listen(channel);
    const int exitCode = application->exec();
    laterStarts.reset();
    window.reset();
    application.reset();
    return exitCode;
}
