#pragma once

#include <QTranslator>

#include <memory>

/// Qt's own texts (the buttons of message boxes, the folder dialog) in Simplified Chinese, like the rest
/// of the window, whatever the system's language: Qt's zh_CN translation, compiled into the program.
/// Installed in the application for as long as the returned object lives; null when it cannot be loaded.
std::unique_ptr<QTranslator> InstallQtChineseTranslation();
