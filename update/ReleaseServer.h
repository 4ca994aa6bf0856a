#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

/// The update servers' side: serves the release in one folder to the program's update check.
///
/// - POST /version answers {"Quillmark":"<digest>"}, the MD5 of the executable inside the folder's release
///   archive, so the digest announced and the archive served can never disagree. Without an archive, or
///   with an archive that holds no executable, it answers 404.
/// - GET /Quillmark.zip (any query) sends the archive; 404 while there is none.
/// - GET /Quillmark.release (any query) sends the release's signed description (release/ReleaseManifest.h):
///   its version, and the archive's size and SHA-512. The program installs no release without it, and only
///   a version newer than its own.
/// - GET /Quillmark.zip.sig (any query) sends the archive's detached Ed25519 signature, which programs of
///   7.0 and before check instead of the description; 404 while there is none.
///
/// Files are read at each request: a release is published by renaming a new archive into the folder.
/// Each connection serves one request and is closed; one that stays silent is dropped after a while.
class ReleaseServer : public QObject
{
    Q_OBJECT

  public:
    explicit ReleaseServer(QString releaseFolder, QObject* parent = nullptr);
    ~ReleaseServer() override;

    /// Starts listening; port 0 chooses a free one. False with errorString() when that fails.
    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const;
    QString errorString() const;

    /// The archive's name in the release folder and in download addresses, its signature's and its signed
    /// description's.
    static QString archiveName();
    static QString signatureName();
    static QString manifestName();
    /// Packs `files` (one of them the program's executable) flat into the release archive of `releaseFolder`
    /// and signs it with the secret key in the file `secretKeyPath`: its detached signature and its
    /// description naming `version` (when empty: the version the executable records). All are written
    /// under temporary names and renamed into place, the archive last. An empty text on success, else what
    /// went wrong; nothing changes in the folder when the key cannot be read or the version is unknown.
    static QString publish(const QString& releaseFolder, const QStringList& files,
                           const QString& secretKeyPath, const QString& version = QString());
    /// Makes a new key pair: the secret key in a new file `secretKeyPath` that only its owner may read, the
    /// public key beside it (release::publicKeyPath()) and in `publicKeyHex`. Empty text on success.
    static QString keygen(const QString& secretKeyPath, QString& publicKeyHex);

  private:
    void accept();
    void serve(QTcpSocket* socket, const QByteArray& method, const QByteArray& path);
    void sendFromFolder(QTcpSocket* socket, const QByteArray& method, const QString& name,
                        const QByteArray& contentType);
    /// The digest of the executable in the archive, lowercase hex; empty when there is none. Recomputed
    /// only when the archive has changed.
    QByteArray releaseDigest();

    QString folder_;
    QTcpServer* server_;
    // The last computed digest and the archive it was computed from.
    QByteArray digest_;
    qint64 digestArchiveSize_ = -1;
    QDateTime digestArchiveModified_;
};
