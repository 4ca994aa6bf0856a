#include "platform/InstanceChannel.h"

#include "platform/ProcessList.h"

namespace platform {

QString instanceChannelName()
{
    // A named pipe of this user's; the server lets only its own user connect.
    QString user = QString::fromStdString(currentUser());
    for (QChar& c : user) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    return QStringLiteral("Quillmark-") + user;
}

} // namespace platform
