#include "app/Application.h"

#include "app/AppPaths.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "platform/FileNameEncoding.h"

#include <QApplication>

#include <memory>

int RunQuillmark(int argc, char** argv)
{
    platform::useLosslessFileNames();
    FillAppPaths(g_AppPaths, argc, argv);
    KeepSingleInstance();

    auto application = std::make_unique<QApplication>(argc, argv);
    auto window = std::make_unique<MainWindow>();
    const int exitCode = application->exec();
    window.reset();
    application.reset();
    return exitCode;
}
