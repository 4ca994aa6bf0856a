#include "app/MainWindow.h"

#include "app/AppPaths.h"

#include <cstring>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quillmark"));
    if (std::strcmp(g_AppPaths.firstArgument, "-autorun") != 0)
        show();
}

MainWindow::~MainWindow() = default;
