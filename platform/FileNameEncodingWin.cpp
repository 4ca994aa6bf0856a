#include "platform/FileNameEncoding.h"

namespace platform {

void useLosslessFileNames()
{
    // File names are UTF-16 on Windows: every name converts to text and back unchanged.
}

QByteArray fileNameBytes(const QString& path)
{
    return path.toUtf8();
}

QString fileNameFromBytes(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

} // namespace platform
