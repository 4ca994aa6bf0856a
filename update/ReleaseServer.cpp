#include "update/ReleaseServer.h"

#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"
#include "platform/ProcessList.h"
#include "update/ReleaseArchive.h"
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

namespace {

constexpr int kMaxRequestBytes = 16 * 1024;   // a request line, headers and a form body
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

// The request's end: header block and, when announced, body. -1 while incomplete, -2 when malformed.
int requestEnd(const QByteArray& received)
{
    const int headerEnd = received.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return -1;
    int bodyLength = 0;
    for (const QByteArray& line : received.left(headerEnd).split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool number = false;
            bodyLength = line.mid(colon + 1).trimmed().toInt(&number);
            if (!number || bodyLength < 0 || bodyLength > kMaxRequestBytes)
                return -2;
        }
    }
    const int end = headerEnd + 4 + bodyLength;
    return received.size() >= end ? end : -1;
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

QString ReleaseServer::publish(const QString& releaseFolder, const QStringList& files, const QString& secretKeyPath)
{
    release::SecretKey secretKey;
    const std::string keyError =
        release::readSecretKeyFile(platform::fileNameBytes(secretKeyPath).toStdString(), secretKey);
    if (!keyError.empty())
        return platform::fileNameFromBytes(keyError.c_str());

    const QString executable = QString::fromLocal8Bit(platform::programExecutableName());
    bool hasExecutable = false;
    for (const QString& file : files) {
        if (!QFileInfo(file).isFile())
            return QStringLiteral("not a file: %1").arg(file);
        hasExecutable = hasExecutable || QFileInfo(file).fileName() == executable;
    }
    if (!hasExecutable)
        return QStringLiteral("the release needs the program's executable, named %1").arg(executable);
    const QString archive = QDir(releaseFolder).filePath(archiveName());
    const QString temporary = archive + QStringLiteral(".new");
    QFile::remove(temporary);
    if (!JlCompress::compressFiles(temporary, files)) {
        QFile::remove(temporary);
        return QStringLiteral("cannot write %1").arg(temporary);
    }

    // The signature covers the archive's bytes as they are sent.
    QFile packed(temporary);
    const QByteArray bytes = packed.open(QIODevice::ReadOnly) ? packed.readAll() : QByteArray();
    const std::string signature = release::sign(std::string_view(bytes.constData(), bytes.size()), secretKey);
    const QString signatureFile = QDir(releaseFolder).filePath(signatureName());
    const QString temporarySignature = signatureFile + QStringLiteral(".new");
    QFile signatureOut(temporarySignature);
    if (bytes.isEmpty() || signature.size() != release::kSignatureBytes ||
        !signatureOut.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        signatureOut.write(signature.data(), static_cast<qint64>(signature.size())) !=
            static_cast<qint64>(signature.size()) ||
        !signatureOut.flush()) {
        QFile::remove(temporary);
        QFile::remove(temporarySignature);
        return QStringLiteral("cannot sign %1").arg(archive);
    }
    signatureOut.close();

    // Clients fetch the files at any moment. One that fetches the archive and the signature across the
    // two renames gets a pair that does not verify, and installs nothing until its next run.
    if (QString error = moveIntoPlace(temporarySignature, signatureFile); !error.isEmpty()) {
        QFile::remove(temporary);
        return error;
    }
    return moveIntoPlace(temporary, archive);
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
            const int end = requestEnd(*received);
            if (end == -1 && received->size() <= kMaxRequestBytes)
                return;
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr); // one request per connection
            const QList<QByteArray> requestLine = received->left(received->indexOf("\r\n")).split(' ');
            if (end < 0 || requestLine.size() != 3) {
                reply(socket, 400);
                return;
            }
            serve(socket, requestLine[0], requestLine[1]);
        });
    }
}

void ReleaseServer::serve(QTcpSocket* socket, const QByteArray& method, const QByteArray& target)
{
    const QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
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
