#include "platform/TextFileOpener.h"

#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>

namespace platform {

namespace {

QMutex openerMutex;
std::function<void(const QString&)> replacementOpener;

} // namespace

void openTextFileForUser(const QString& path)
{
    std::function<void(const QString&)> opener;
    {
        QMutexLocker lock(&openerMutex);
        opener = replacementOpener;
    }
    if (opener) {
        opener(path);
        return;
    }
    const QString desktopOpener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!desktopOpener.isEmpty())
        QProcess::startDetached(desktopOpener, {path}); // the path as one argument, never through a shell
}

void setTextFileOpener(std::function<void(const QString&)> opener)
{
    QMutexLocker lock(&openerMutex);
    replacementOpener = std::move(opener);
}

} // namespace platform
