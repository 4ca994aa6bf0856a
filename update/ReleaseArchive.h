#pragma once

#include <QByteArray>
#include <QString>

/// The MD5 digest, as 32 lowercase hexadecimal digits, of the program's executable inside the zip
/// archive at `archivePath`: the identity of the release it holds. Empty when the archive cannot be read
/// or holds no entry of the executable's name. Shared by the release server, which announces it, and the
/// program, which checks a downloaded archive against the announcement.
QByteArray archivedExecutableDigest(const QString& archivePath);
