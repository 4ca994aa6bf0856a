#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

/// What the copy of the program that already runs for this user answers a later start.
enum class RunningCopyAnswer
{
    None, // nobody answered: no copy listens (or it cannot answer in time)
    Idle, // no batch runs there: the rule of one running copy ends it
    Busy, // a batch runs there: it keeps running and the later start leaves the window to it
};

/// Asks the copy listening on `channel` how it stands, telling it whether this start is a quiet one
/// ("-autorun"). Blocks for at most `timeoutMs` milliseconds in all.
RunningCopyAnswer AskRunningCopy(const QString& channel, bool quietStart, int timeoutMs = 2000);

/// The running copy's end of that exchange: a local socket that only this user can reach. Each later
/// start is answered with what `answer` returns for it; each question is one line ("start" or "quiet"),
/// each answer one line ("idle" or "busy").
class RunningCopyChannel : public QObject
{
    Q_OBJECT

  public:
    using Answer = std::function<RunningCopyAnswer(bool quietStart)>;

    explicit RunningCopyChannel(Answer answer, QObject* parent = nullptr);

    /// Listens on `channel`, taking over a name that an ended copy left behind. False when it cannot.
    bool listen(const QString& channel);

  private:
    void answerQuestion(QLocalSocket* socket);

    Answer answer_;
    QLocalServer* server_; // a child
};
