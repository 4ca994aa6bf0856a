#include "platform/InstanceChannel.h"

#include "platform/ProcessList.h"

#include <QByteArray>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString instanceChannelName()
{
    // The run-time folder is the user's own (mode 0700): a socket there cannot be made by anyone else
    // first. /tmp is shared, so it is used only where the desktop gives no such folder.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat folder;
    if (!runtime.isEmpty() && ::stat(runtime.constData(), &folder) == 0 && S_ISDIR(folder.st_mode) &&
        folder.st_uid == ::getuid() && (folder.st_mode & 077) == 0)
        return QFile::decodeName(runtime) + QStringLiteral("/Quillmark.instance");
    return QStringLiteral("Quillmark-") + QString::fromStdString(currentUser());
}

} // namespace platform
