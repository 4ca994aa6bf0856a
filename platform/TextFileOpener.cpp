#include "platform/TextFileOpener.h"

#include <QMutex>
#include <QMutexLocker>

namespace platform {

// The system's own opener, in TextFileOpenerUnix.cpp / TextFileOpenerWin.cpp.
void openWithSystemTextViewer(const QString& path);

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
    if (opener)
        opener(path);
    else
        openWithSystemTextViewer(path);
}

void setTextFileOpener(std::function<void(const QString&)> opener)
{
    QMutexLocker lock(&openerMutex);
    replacementOpener = std::move(opener);
}

} // namespace platform
