#include "platform/TextFileOpener.h"

#include <QProcess>
#include <QStandardPaths>

namespace platform {

void openWithSystemTextViewer(const QString& path)
{
    const QString desktopOpener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!desktopOpener.isEmpty())
        QProcess::startDetached(desktopOpener, {path}); // the path as one argument, never through a shell
}

} // namespace platform
