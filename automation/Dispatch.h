#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>

/// What an automation server did with one member access.
struct DispatchResult
{
    enum class Outcome
    {
        Done,          // the member ran; `value` holds its result
        UnknownMember, // the object has no member of that name
        Failed,        // the member ran and raised an error: `error` says what
    };

    Outcome outcome = Outcome::Done;
    QVariant value;
    QString error;
    // What a server that reports its errors as COM does adds to `error`: the error code (0: none given),
    // the error's source and its help file.
    int errorCode = 0;
    QString errorSource;
    QString errorHelp;
    std::unique_ptr<class Dispatch> subObject; // for queries that return an object

    static DispatchResult done(QVariant value = {})
    {
        DispatchResult r;
        r.value = std::move(value);
        return r;
    }
    static DispatchResult object(std::unique_ptr<Dispatch> sub);
    static DispatchResult unknown()
    {
        DispatchResult r;
        r.outcome = Outcome::UnknownMember;
        return r;
    }
    static DispatchResult failed(QString message)
    {
        DispatchResult r;
        r.outcome = Outcome::Failed;
        r.error = std::move(message);
        return r;
    }
};

/// Where a server object sends its events: the event's name and arguments.
using EventSink = std::function<void(const QString& name, const QVariantList& arguments)>;

/// One object of an automation server, addressed with member strings, as a COM IDispatch would be.
/// Implementations run on the thread that created them.
class Dispatch
{
public:
    virtual ~Dispatch() = default;
    /// Where the object's events go, as COM connection points deliver them; most objects raise none.
    virtual void setEventSink(EventSink) {}
    /// A method call (dynamicCall).
    virtual DispatchResult call(const QByteArray& member, const QVariantList& arguments) = 0;
    /// A method or property that yields another object (querySubObject).
    virtual DispatchResult query(const QByteArray& member, const QVariantList& arguments) = 0;
    virtual DispatchResult setProperty(const QByteArray& name, const QVariant& value) = 0;
    virtual DispatchResult property(const QByteArray& name) = 0;
    /// Name of the server for error reports.
    virtual QString source() const = 0;
    /// True for a server the operating system registers (an installed application), false for one
    /// built into this program.
    virtual bool isSystemServer() const { return false; }
};

inline DispatchResult DispatchResult::object(std::unique_ptr<Dispatch> sub)
{
    DispatchResult r;
    r.subObject = std::move(sub);
    return r;
}
