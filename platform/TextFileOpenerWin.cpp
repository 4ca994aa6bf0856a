#include "platform/TextFileOpener.h"

#include <QDir>
#include <QProcess>

namespace platform {

void openWithSystemTextViewer(const QString& path)
{
    // Notepad with the native path as its one argument: quoted when it holds blanks, so "D:\My Data\..."
    // opens that file rather than asking whether to create "D:\My".
    QProcess::startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(path)});
}

} // namespace platform
