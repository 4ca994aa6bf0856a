#include "platform/TextFileOpener.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

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
    // Notepad with the native path as its one argument: quoted when it holds blanks, so "D:\My Data\..."
    // opens that file rather than asking whether to create "D:\My".
    QProcess::startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(path)});
}

void setTextFileOpener(std::function<void(const QString&)> opener)
{
    QMutexLocker lock(&openerMutex);
    replacementOpener = std::move(opener);
}

} // namespace platform
