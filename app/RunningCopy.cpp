#include "app/RunningCopy.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {

constexpr int kQuestionMs = 2000;  // a client that says nothing in this time is dropped
constexpr qint64 kLongestLine = 16; // "start\n", "quiet\n", "idle\n", "busy\n"

} // namespace

RunningCopyAnswer AskRunningCopy(const QString& channel, bool quietStart, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(channel);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return RunningCopyAnswer::None;
    socket.write(quietStart ? "quiet\n" : "start\n");
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return RunningCopyAnswer::None;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || socket.bytesAvailable() > kLongestLine ||
            !socket.waitForReadyRead(int(deadline.remainingTime())))
            return RunningCopyAnswer::None;
    }
    const QByteArray line = socket.readLine(kLongestLine).trimmed();
    if (line == "busy")
        return RunningCopyAnswer::Busy;
    if (line == "idle")
        return RunningCopyAnswer::Idle;
    return RunningCopyAnswer::None;
}

RunningCopyChannel::RunningCopyChannel(Answer answer, QObject* parent)
    : QObject(parent), answer_(std::move(answer)), server_(new QLocalServer(this))
{
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answerQuestion(socket); });
            QTimer::singleShot(kQuestionMs, socket, [socket] { socket->abort(); });
        }
    });
}

bool RunningCopyChannel::listen(const QString& channel)
{
    if (server_->listen(channel))
        return true;
    // A copy that was ended leaves its socket behind; a copy that still listens has been asked before
    // this one got here, and is ending.
    QLocalServer::removeServer(channel);
    return server_->listen(channel);
}

void RunningCopyChannel::answerQuestion(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLongestLine)
            socket->abort();
        return;
    }
    const QByteArray question = socket->readLine(kLongestLine).trimmed();
    if (question != "start" && question != "quiet") {
        socket->abort();
        return;
    }
    const RunningCopyAnswer answer = answer_(question == "quiet");
    socket->write(answer == RunningCopyAnswer::Busy ? "busy\n" : "idle\n");
    socket->flush();
    socket->disconnectFromServer();
}
