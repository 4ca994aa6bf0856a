#include "app/Application.h"

#include "app/AppPaths.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "platform/ExecutablePath.h"
#include "platform/FileNameEncoding.h"

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
    KeepSingleInstance();

    auto application = std::make_unique<QApplication>(argc, argv);
    auto window = std::make_unique<MainWindow>();
    const int exitCode = application->exec();
    window.reset();
    application.reset();
    return exitCode;
}
