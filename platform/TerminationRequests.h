#pragma once

#include <QObject>

#include <memory>

namespace platform {

/// Turns the requests to end a console program (Ctrl+C, a service manager's or kill's termination
/// signal) into a Qt signal on the thread that owns this object, so the program can stop its work and
/// clean up instead of dying in the middle of a file. The system's handler does nothing but note the
/// request; everything else happens in the event loop. One object at a time per process; the previous
/// handling comes back when it goes.
class TerminationRequests : public QObject
{
    Q_OBJECT

  public:
    explicit TerminationRequests(QObject* parent = nullptr);
    ~TerminationRequests() override;

    /// False when the requests could not be intercepted (they then end the program as usual).
    bool isActive() const;

  signals:
    /// A request arrived; `exitStatus` is the status a program ended by it reports to its shell (130 for
    /// Ctrl+C, 143 for a termination signal).
    void received(int exitStatus);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace platform
