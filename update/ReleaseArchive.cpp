#include "update/ReleaseArchive.h"

#include "platform/ProcessList.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QCryptographicHash>

QByteArray archivedExecutableDigest(const QString& archivePath)
{
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip) ||
        !zip.setCurrentFile(QString::fromLocal8Bit(platform::programExecutableName()), QuaZip::csSensitive))
        return {};
    QuaZipFile executable(&zip);
    QCryptographicHash md5(QCryptographicHash::Md5);
    // A damaged entry fails its CRC check when read to the end.
    if (!executable.open(QIODevice::ReadOnly) || !md5.addData(&executable) || executable.getZipError() != 0)
        return {};
    executable.close();
    if (executable.getZipError() != 0)
        return {};
    return md5.result().toHex();
}
