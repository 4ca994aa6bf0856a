#include "automation/AutomationObject.h"

#include "automation/AutomationServers.h"
#include "automation/Dispatch.h"

#include <QDebug>

namespace {

// Error code of a failed member, as COM reports an exception raised by the server (DISP_E_EXCEPTION).
constexpr int kServerException = static_cast<int>(0x80020009);

} // namespace

AutomationObject::AutomationObject(QObject* parent) : QObject(parent) {}

AutomationObject::AutomationObject(const QString& control, QObject* parent) : QObject(parent)
{
    setControl(control);
}

AutomationObject::AutomationObject(std::unique_ptr<Dispatch> dispatch, QObject* parent)
    : QObject(parent), dispatch_(std::move(dispatch))
{
}

AutomationObject::~AutomationObject() = default;

bool AutomationObject::setControl(const QString& control)
{
    control_ = control;
    dispatch_ = AutomationServers::create(control);
    if (!dispatch_) {
        qWarning("AutomationObject::setControl: requested control %s could not be instantiated", qPrintable(control));
        return false;
    }
    dispatch_->setEventSink(
        [this](const QString& name, const QVariantList& arguments) { emit serverEvent(name, arguments); });
    return true;
}

bool AutomationObject::isSystemServer() const
{
    return dispatch_ && dispatch_->isSystemServer();
}

QVariantList AutomationObject::collect(std::initializer_list<const QVariant*> vars)
{
    // Trailing invalid values are the unused defaults; an invalid value between two valid ones stays.
    QVariantList list;
    int last = -1, index = 0;
    for (const QVariant* v : vars) {
        if (v->isValid())
            last = index;
        ++index;
    }
    index = 0;
    for (const QVariant* v : vars) {
        if (index++ > last)
            break;
        list.append(*v);
    }
    return list;
}

bool AutomationObject::accept(DispatchResult& result, const char* member)
{
    switch (result.outcome) {
    case DispatchResult::Outcome::Done:
        return true;
    case DispatchResult::Outcome::UnknownMember:
        qWarning("AutomationObject: %s: no such member in %s", member,
                 dispatch_ ? qPrintable(dispatch_->source()) : "an unbound object");
        return false;
    case DispatchResult::Outcome::Failed:
        emit exception(result.errorCode ? result.errorCode : kServerException,
                       result.errorSource.isEmpty() ? dispatch_->source() : result.errorSource, result.error,
                       result.errorHelp);
        return false;
    }
    return false;
}

QVariant AutomationObject::dynamicCall(const char* function, const QVariant& var1, const QVariant& var2,
                                       const QVariant& var3, const QVariant& var4, const QVariant& var5,
                                       const QVariant& var6, const QVariant& var7, const QVariant& var8)
{
    QVariantList vars = collect({&var1, &var2, &var3, &var4, &var5, &var6, &var7, &var8});
    return dynamicCall(function, vars);
}

QVariant AutomationObject::dynamicCall(const char* function, QList<QVariant>& vars)
{
    if (!dispatch_) {
        qWarning("AutomationObject::dynamicCall: %s: the object is not bound to a server", function);
        return {};
    }
    DispatchResult result = dispatch_->call(QByteArray(function), vars);
    return accept(result, function) ? result.value : QVariant();
}

AutomationObject* AutomationObject::querySubObject(const char* name, const QVariant& var1, const QVariant& var2,
                                                   const QVariant& var3, const QVariant& var4, const QVariant& var5,
                                                   const QVariant& var6, const QVariant& var7, const QVariant& var8)
{
    QVariantList vars = collect({&var1, &var2, &var3, &var4, &var5, &var6, &var7, &var8});
    return querySubObject(name, vars);
}

AutomationObject* AutomationObject::querySubObject(const char* name, QList<QVariant>& vars)
{
    if (!dispatch_) {
        qWarning("AutomationObject::querySubObject: %s: the object is not bound to a server", name);
        return nullptr;
    }
    DispatchResult result = dispatch_->query(QByteArray(name), vars);
    if (!accept(result, name) || !result.subObject)
        return nullptr;
    // Owned by this object, as QAxObject's sub-objects are.
    return new AutomationObject(std::move(result.subObject), this);
}

bool AutomationObject::setProperty(const char* name, const QVariant& value)
{
    if (!dispatch_) {
        qWarning("AutomationObject::setProperty: %s: the object is not bound to a server", name);
        return false;
    }
    DispatchResult result = dispatch_->setProperty(QByteArray(name), value);
    return accept(result, name);
}

QVariant AutomationObject::property(const char* name)
{
    if (!dispatch_)
        return {};
    DispatchResult result = dispatch_->property(QByteArray(name));
    return accept(result, name) ? result.value : QVariant();
}
