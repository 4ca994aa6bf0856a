#include "update/ReleaseServer.h"

#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"
#include "platform/ProcessList.h"
#include "platform/UrlDownload.h"
#include "update/ReleaseArchive.h"
#include "update/ReleaseManifest.h"
#include "update/ReleaseRequest.h"
#include "update/ReleaseSignature.h"

#include <quazip/JlCompress.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr qint64 kSendPieceBytes = 64 * 1024; // the archive goes out in pieces of this size
constexpr int kIdleLimitMs = 30 * 1000;       // a connection that moves nothing for this long is dropped
const QByteArray kVersionPath = "/version";

QByteArray statusLine(int status)
{
    switch (status) {
    case 200:
        return "HTTP/1.0 200 OK";
    case 400:
        return "HTTP/1.0 400 Bad Request";
    case 404:
        return "HTTP/1.0 404 Not Found";
    default:
        return "HTTP/1.0 405 Method Not Allowed";
    }
}

// No Date or other header that could hold the digits of a status: clients accept any header block that
// holds "200".
QByteArray header(int status, const QByteArray& contentType, qint64 length)
{
    QByteArray text = statusLine(status) + "\r\n";
    if (!contentType.isEmpty())
        text += "Content-Type: " + contentType + "\r\n";
    text += "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
    return text;
}

void reply(QTcpSocket* socket, int status, const QByteArray& contentType = {}, const QByteArray& body = {})
{
    socket->write(header(status, contentType, body.size()) + body);
    socket->disconnectFromHost(); // after the bytes are written
}

// Sends the open `file` behind its header in pieces, each when the previous one has left, so that a large
// archive never sits in memory whole.
void sendFile(QTcpSocket* socket, std::unique_ptr<QFile> file, const QByteArray& contentType)
{
    socket->write(header(200, contentType, file->size()));
    QFile* source = file.release();
    source->setParent(socket);
    auto sendPiece = [socket, source] {
        if (socket->bytesToWrite() >= kSendPieceBytes)
            return;
        const QByteArray piece = source->read(kSendPieceBytes);
        if (piece.isEmpty()) {
            source->close();
            socket->disconnectFromHost();
            return;
        }
        socket->write(piece);
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, source, sendPiece);
    sendPiece();
}

} // namespace

ReleaseServer::ReleaseServer(QString releaseFolder, QObject* parent)
    : QObject(parent), folder_(std::move(releaseFolder)), server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &ReleaseServer::accept);
}

ReleaseServer::~ReleaseServer() = default;

bool ReleaseServer::listen(const QHostAddress& address, quint16 port)
{
    return server_->listen(address, port);
}

quint16 ReleaseServer::port() const
{
    return server_->serverPort();
}

QString ReleaseServer::errorString() const
{
    return server_->errorString();
}

QString ReleaseServer::archiveName()
{
    return QStringLiteral("Quillmark.zip");
}

QString ReleaseServer::signatureName()
{
    return archiveName() + QStringLiteral(".sig");
}

QString ReleaseServer::manifestName()
{
    return QStringLiteral("Quillmark.release");
}

namespace {

// Moves `temporary` onto `target` at once: readers see the old file or the new one, never a partial one.
QString moveIntoPlace(const QString& temporary, const QString& target)
{
    if (platform::replaceFile(platform::fileNameBytes(temporary).toStdString(),
                              platform::fileNameBytes(target).toStdString()))
        return {};
    QFile::remove(temporary);
    return QStringLiteral("cannot replace %1").arg(target);
}

// Writes `bytes` to a new file `path`; false when that fails (nothing then stays).
bool writeNewFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
        file.flush())
        return true;
    file.remove();
    return false;
}

} // namespace

QString ReleaseServer::keygen(const QString& secretKeyPath, QString& publicKeyHex)
{
    release::PublicKey publicKey{};
    const std::string error =
        release::writeKeyFiles(platform::fileNameBytes(secretKeyPath).toStdString(), publicKey);
    if (!error.empty())
        return platform::fileNameFromBytes(error.c_str());
    publicKeyHex = QString::fromStdString(release::toHex(publicKey));
    return {};
}

QString ReleaseServer::publish(const QString& releaseFolder, const QStringList& files,
                               const QString& secretKeyPath, const QString& version)
{
    release::SecretKey secretKey;
    const std::string keyError =
        release::readSecretKeyFile(platform::fileNameBytes(secretKeyPath).toStdString(), secretKey);
    if (!keyError.empty())
        return platform::fileNameFromBytes(keyError.c_str());

    const QString executable = QString::fromLocal8Bit(platform::programExecutableName());
    QString executablePath;
    for (const QString& file : files) {
        if (!QFileInfo(file).isFile())
            return QStringLiteral("not a file: %1").arg(file);
        if (QFileInfo(file).fileName() == executable)
            executablePath = file;
    }
    if (executablePath.isEmpty())
        return QStringLiteral("the release needs the program's executable, named %1").arg(executable);
    release::Manifest manifest;
    manifest.version = version.toStdString();
    if (manifest.version.empty()) {
        std::string error;
        if (!release::versionOfExecutable(platform::fileNameBytes(executablePath).toStdString(), manifest.version,
                                          error))
            return platform::fileNameFromBytes(error.c_str());
    } else if (!release::isVersion(manifest.version)) {
        return QStringLiteral("not a version (numbers separated by dots, such as 7.1): %1").arg(version);
    }

    const QString archive = QDir(releaseFolder).filePath(archiveName());
    const QString temporary = archive + QStringLiteral(".new");
    QFile::remove(temporary);
    if (!JlCompress::compressFiles(temporary, files)) {
        QFile::remove(temporary);
        return QStringLiteral("cannot write %1").arg(temporary);
    }
    const std::string packedPath = platform::fileNameBytes(temporary).toStdString();
    if (!release::fileSha512(packedPath, platform::kDownloadMaxBytes, manifest.archiveBytes,
                             manifest.archiveSha512)) {
        QFile::remove(temporary);
        return QStringLiteral("%1 cannot be read, or is larger than the program downloads (%2 bytes)")
            .arg(temporary)
            .arg(platform::kDownloadMaxBytes);
    }

    // The description for programs that check versions; the detached signature over the archive's bytes as
    // they are sent for those of 7.0 and before, which read nothing else.
    QFile packed(temporary);
    const QByteArray bytes = packed.open(QIODevice::ReadOnly) ? packed.readAll() : QByteArray();
    packed.close();
    const std::string signature = release::sign(std::string_view(bytes.constData(), bytes.size()), secretKey);
    const std::string description = release::signedManifest(manifest, secretKey);
    const QString signatureFile = QDir(releaseFolder).filePath(signatureName());
    const QString manifestFile = QDir(releaseFolder).filePath(manifestName());
    const QString temporarySignature = signatureFile + QStringLiteral(".new");
    const QString temporaryManifest = manifestFile + QStringLiteral(".new");
    if (bytes.size() != manifest.archiveBytes || signature.size() != release::kSignatureBytes ||
        description.empty() || !writeNewFile(temporarySignature, QByteArray::fromStdString(signature)) ||
        !writeNewFile(temporaryManifest, QByteArray::fromStdString(description))) {
        QFile::remove(temporary);
        QFile::remove(temporarySignature);
        QFile::remove(temporaryManifest);
        return QStringLiteral("cannot sign %1").arg(archive);
    }

    // Clients fetch the files at any moment. One that fetches them across the renames gets a set that does
    // not verify, and installs nothing until its next run.
    for (const auto& [from, to] :
         {std::pair{temporarySignature, signatureFile}, std::pair{temporaryManifest, manifestFile},
          std::pair{temporary, archive}}) {
        if (QString error = moveIntoPlace(from, to); !error.isEmpty()) {
            QFile::remove(temporary);
            QFile::remove(temporaryManifest);
            return error;
        }
    }
    return {};
}

void ReleaseServer::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->start(kIdleLimitMs);
        connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        connect(socket, &QTcpSocket::bytesWritten, idle, [idle] { idle->start(kIdleLimitMs); });

        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, idle, received] {
            idle->start(kIdleLimitMs);
            *received += socket->readAll();
            const ReleaseRequest request = parseReleaseRequest(*received);
            if (request.state == ReleaseRequest::Incomplete)
                return;
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr); // one request per connection
            if (request.state == ReleaseRequest::Malformed)
                return reply(socket, 400);
            serve(socket, request.method, request.path);
        });
    }
}

void ReleaseServer::serve(QTcpSocket* socket, const QByteArray& method, const QByteArray& path)
{
    if (path == kVersionPath) {
        if (method != "POST")
            return reply(socket, 405);
        const QByteArray digest = releaseDigest();
        if (digest.isEmpty())
            return reply(socket, 404);
        return reply(socket, 200, "application/json", "{\"Quillmark\":\"" + digest + "\"}");
    }
    if (path == "/" + archiveName().toUtf8())
        return sendFromFolder(socket, method, archiveName(), "application/zip");
    if (path == "/" + signatureName().toUtf8())
        return sendFromFolder(socket, method, signatureName(), "application/octet-stream");
    if (path == "/" + manifestName().toUtf8())
        return sendFromFolder(socket, method, manifestName(), "text/plain");
    reply(socket, 404);
}

void ReleaseServer::sendFromFolder(QTcpSocket* socket, const QByteArray& method, const QString& name,
                                   const QByteArray& contentType)
{
    if (method != "GET")
        return reply(socket, 405);
    auto file = std::make_unique<QFile>(QDir(folder_).filePath(name));
    if (!file->open(QIODevice::ReadOnly))
        return reply(socket, 404);
    sendFile(socket, std::move(file), contentType);
}

QByteArray ReleaseServer::releaseDigest()
{
    const QFileInfo archive(QDir(folder_).filePath(archiveName()));
    if (!archive.isFile())
        return {};
    if (archive.size() == digestArchiveSize_ && archive.lastModified() == digestArchiveModified_)
        return digest_;

    digest_ = archivedExecutableDigest(archive.filePath());
    digestArchiveSize_ = archive.size();
    digestArchiveModified_ = archive.lastModified();
    return digest_;
}
