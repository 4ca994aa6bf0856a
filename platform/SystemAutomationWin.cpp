#include "platform/SystemAutomation.h"

#include "platform/ComInitialization.h"

#include <QDateTime>
#include <QStringList>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

namespace {

// How long a call to a busy server is retried: 200 times 50 ms.
constexpr int kBusyRetries = 200;
constexpr DWORD kBusyPauseMs = 50;

// One reference to a COM interface, let go with its holder.
template <class Interface>
class ComRef
{
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ~ComRef()
    {
        if (pointer_)
            pointer_->Release();
    }
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    void** out() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

// VARIANTs that are cleared when they go; DISPPARAMS point into them.
class Variants
{
public:
    explicit Variants(std::size_t count) : values_(count)
    {
        for (VARIANT& v : values_)
            VariantInit(&v);
    }
    Variants(const Variants&) = delete;
    Variants& operator=(const Variants&) = delete;
    ~Variants()
    {
        for (VARIANT& v : values_)
            VariantClear(&v);
    }
    VARIANT& operator[](std::size_t i) { return values_[i]; }
    VARIANT* data() { return values_.data(); }
    UINT size() const { return static_cast<UINT>(values_.size()); }

private:
    std::vector<VARIANT> values_;
};

QString fromBstr(BSTR text)
{
    return text ? QString::fromWCharArray(text, static_cast<int>(SysStringLen(text))) : QString();
}

QString systemMessage(HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    QString text = length ? QString::fromWCharArray(buffer, static_cast<int>(length)).trimmed() : QString();
    LocalFree(buffer);
    const QString number = QStringLiteral("0x%1").arg(static_cast<quint32>(code), 8, 16, QLatin1Char('0'));
    return text.isEmpty() ? QStringLiteral("error %1").arg(number) : QStringLiteral("%1 (%2)").arg(text, number);
}

// ---------------------------------------------------------------------------------------------------------
// Member strings
// ---------------------------------------------------------------------------------------------------------

// The member's name: what comes before "(", trimmed ("SetVisible (bool Visible)" -> "SetVisible").
QString memberName(const QByteArray& member)
{
    const int paren = member.indexOf('(');
    return QString::fromLatin1(paren < 0 ? member : member.left(paren)).trimmed();
}

// The declared type of each parameter, without const, & and a parameter name: "SetVisible (bool
// Visible)" -> {"bool"}, "OpenText(const QString&,int,QList<LongLong>)" -> {"QString", "int", "QList"}.
QStringList parameterTypes(const QByteArray& member)
{
    const int open = member.indexOf('('), close = member.lastIndexOf(')');
    QStringList types;
    if (open < 0 || close <= open)
        return types;
    QString piece;
    int depth = 0;
    const QString list = QString::fromLatin1(member.mid(open + 1, close - open - 1)) + QLatin1Char(',');
    for (QChar c : list) {
        depth += c == QLatin1Char('<') ? 1 : c == QLatin1Char('>') ? -1 : 0;
        if (c != QLatin1Char(',') || depth > 0) {
            piece += c;
            continue;
        }
        piece.replace(QLatin1Char('&'), QLatin1Char(' ')).replace(QLatin1Char('*'), QLatin1Char(' '));
        QStringList words = piece.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        words.removeAll(QStringLiteral("const"));
        if (!words.isEmpty() && words.first() != QLatin1String("void"))
            types << words.first().section(QLatin1Char('<'), 0, 0);
        piece.clear();
    }
    return types;
}

// An argument in the type its member string declares, as ActiveQt converts it ("false" for a bool is
// false); kept as it is for QVariant, lists and types this layer does not know.
QVariant declared(const QVariant& value, const QString& type)
{
    if (!value.isValid())
        return value;
    if (type == QLatin1String("bool") || type == QLatin1String("Boolean"))
        return value.toBool();
    bool ok = false;
    if (type == QLatin1String("int") || type == QLatin1String("long") || type == QLatin1String("short")) {
        const int number = value.toInt(&ok);
        return ok ? QVariant(number) : value;
    }
    if (type == QLatin1String("LongLong") || type == QLatin1String("qlonglong")) {
        const qlonglong number = value.toLongLong(&ok);
        return ok ? QVariant(number) : value;
    }
    if (type == QLatin1String("double")) {
        const double number = value.toDouble(&ok);
        return ok ? QVariant(number) : value;
    }
    if (type == QLatin1String("QString"))
        return value.toString();
    return value;
}

// ---------------------------------------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------------------------------------

bool toVariant(const QVariant& value, VARIANT& out);

// A one-dimensional array of VARIANTs from 0 on, as a script's Array() makes it.
bool toArray(const QVariantList& items, VARIANT& out)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    if (!array)
        return false;
    out.vt = VT_ARRAY | VT_VARIANT;
    out.parray = array; // cleared with `out` from here on
    for (LONG i = 0; i < items.size(); ++i) {
        Variants item(1);
        if (!toVariant(items[i], item[0]) || FAILED(SafeArrayPutElement(array, &i, &item[0])))
            return false;
    }
    return true;
}

bool toVariant(const QVariant& value, VARIANT& out)
{
    switch (static_cast<int>(value.type())) {
    case QVariant::Invalid: // an optional argument left out
        out.vt = VT_ERROR;
        out.scode = DISP_E_PARAMNOTFOUND;
        return true;
    case QVariant::Bool:
        out.vt = VT_BOOL;
        out.boolVal = value.toBool() ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong: {
        const qlonglong number = value.toLongLong();
        if (number >= std::numeric_limits<LONG>::min() && number <= std::numeric_limits<LONG>::max()) {
            out.vt = VT_I4;
            out.lVal = static_cast<LONG>(number);
        } else {
            out.vt = VT_I8;
            out.llVal = number;
        }
        return true;
    }
    case QVariant::Double:
        out.vt = VT_R8;
        out.dblVal = value.toDouble();
        return true;
    case QVariant::List:
    case QVariant::StringList:
        return toArray(value.toList(), out);
    default:
        break;
    }
    if (!value.canConvert<QString>())
        return false;
    const QString text = value.toString();
    out.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()), static_cast<UINT>(text.size()));
    out.vt = out.bstrVal ? VT_BSTR : VT_EMPTY;
    return out.bstrVal != nullptr;
}

QVariant fromVariant(const VARIANT& in);

QVariant fromArray(SAFEARRAY* array)
{
    VARTYPE type = VT_EMPTY;
    LONG lower = 0, upper = -1;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &type)) || type != VT_VARIANT ||
        FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return {};
    QVariantList items;
    for (LONG i = lower; i <= upper; ++i) {
        Variants item(1);
        if (FAILED(SafeArrayGetElement(array, &i, &item[0])))
            return {};
        items << fromVariant(item[0]);
    }
    return items;
}

QVariant fromVariant(const VARIANT& in)
{
    Variants value(1);
    if (FAILED(VariantCopyInd(&value[0], const_cast<VARIANT*>(&in)))) // looks through VT_BYREF
        return {};
    VARIANT& v = value[0];
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return {};
    case VT_BSTR:
        return fromBstr(v.bstrVal);
    case VT_BOOL:
        return v.boolVal != VARIANT_FALSE;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_UI2: {
        Variants number(1);
        return SUCCEEDED(VariantChangeType(&number[0], &v, 0, VT_I4)) ? QVariant(int(number[0].lVal)) : QVariant();
    }
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
        Variants number(1);
        return SUCCEEDED(VariantChangeType(&number[0], &v, 0, VT_I8)) ? QVariant(qlonglong(number[0].llVal))
                                                                     : QVariant();
    }
    case VT_DATE: {
        SYSTEMTIME t{};
        if (!VariantTimeToSystemTime(v.date, &t))
            return {};
        return QDateTime(QDate(t.wYear, t.wMonth, t.wDay), QTime(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds));
    }
    case VT_ARRAY | VT_VARIANT:
        return fromArray(v.parray);
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return {}; // an object, which only querySubObject hands on
    default: {
        Variants number(1); // currency, decimal, single
        return SUCCEEDED(VariantChangeType(&number[0], &v, 0, VT_R8)) ? QVariant(number[0].dblVal) : QVariant();
    }
    }
}

// ---------------------------------------------------------------------------------------------------------
// The object
// ---------------------------------------------------------------------------------------------------------

DispatchResult failure(EXCEPINFO& info)
{
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    const HRESULT code = info.scode ? info.scode : (info.wCode ? MAKE_HRESULT(1, FACILITY_ITF, info.wCode) : E_FAIL);
    DispatchResult result = DispatchResult::failed(fromBstr(info.bstrDescription));
    if (result.error.isEmpty())
        result.error = systemMessage(code);
    result.errorCode = static_cast<int>(code);
    result.errorSource = fromBstr(info.bstrSource);
    result.errorHelp = fromBstr(info.bstrHelpFile);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    return result;
}

DispatchResult failure(HRESULT code, const QString& what)
{
    DispatchResult result = DispatchResult::failed(QStringLiteral("%1: %2").arg(what, systemMessage(code)));
    result.errorCode = static_cast<int>(code);
    return result;
}

// An object of a COM server, through its IDispatch. Members are looked up by name for each access (the
// table's members are few and each is used once per file or cell).
class SystemObject final : public Dispatch
{
public:
    SystemObject(ComRef<IDispatch> object, QString programId)
        : object_(std::move(object)), programId_(std::move(programId))
    {
    }

    QString source() const override { return programId_; }
    bool isSystemServer() const override { return true; }

    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        Variants result(1);
        return invoke(member, arguments, result);
    }

    DispatchResult query(const QByteArray& member, const QVariantList& arguments) override
    {
        Variants result(1);
        DispatchResult outcome = invoke(member, arguments, result);
        if (outcome.outcome != DispatchResult::Outcome::Done)
            return outcome;
        VARIANT& v = result[0];
        if (v.vt == (VT_BYREF | VT_DISPATCH) || v.vt == (VT_BYREF | VT_UNKNOWN))
            VariantCopyInd(&v, &v);
        IUnknown* unknown = v.vt == VT_DISPATCH ? v.pdispVal : v.vt == VT_UNKNOWN ? v.punkVal : nullptr;
        ComRef<IDispatch> sub;
        if (!unknown || FAILED(unknown->QueryInterface(IID_IDispatch, sub.out())))
            return DispatchResult::done(); // no object: null for the caller
        return DispatchResult::object(std::make_unique<SystemObject>(std::move(sub), programId_));
    }

    DispatchResult setProperty(const QByteArray& name, const QVariant& value) override
    {
        const QString member = memberName(name);
        DISPID id = DISPID_UNKNOWN;
        DispatchResult missing;
        if (!find(member, id, missing))
            return missing;
        return put(id, value, member);
    }

    DispatchResult property(const QByteArray& name) override
    {
        const QString member = memberName(name);
        DISPID id = DISPID_UNKNOWN;
        DispatchResult missing;
        if (!find(member, id, missing))
            return missing;
        Variants result(1);
        DispatchResult outcome = send(id, DISPATCH_PROPERTYGET, {}, result, member);
        if (outcome.outcome == DispatchResult::Outcome::Done)
            outcome.value = fromVariant(result[0]);
        return outcome;
    }

private:
    HRESULT lookUp(const QString& name, DISPID& id) const
    {
        std::wstring text = name.toStdWString();
        LPOLESTR names[] = {text.data()};
        return object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    }

    // The member's number; false, with `missing` saying why, for a member the object lacks or a server
    // that could not answer.
    bool find(const QString& name, DISPID& id, DispatchResult& missing) const
    {
        const HRESULT found = lookUp(name, id);
        if (SUCCEEDED(found))
            return true;
        missing = found == DISP_E_UNKNOWNNAME ? DispatchResult::unknown() : failure(found, name);
        return false;
    }

    // A method call or a property read with arguments, as ActiveQt makes it. A member the object lacks
    // whose name starts with "Set" writes the property of the rest of the name ("SetVisible(bool)" writes
    // Visible), as ActiveQt's property writers do.
    DispatchResult invoke(const QByteArray& member, const QVariantList& arguments, Variants& result)
    {
        const QString name = memberName(member);
        const QStringList types = parameterTypes(member);
        QVariantList typed;
        for (int i = 0; i < arguments.size(); ++i)
            typed << declared(arguments[i], types.value(i));
        DISPID id = DISPID_UNKNOWN;
        DispatchResult missing;
        if (!find(name, id, missing)) {
            const bool writer = missing.outcome == DispatchResult::Outcome::UnknownMember &&
                                name.startsWith(QLatin1String("Set")) && name.size() > 3 && typed.size() == 1;
            if (writer && SUCCEEDED(lookUp(name.mid(3), id)))
                return put(id, typed[0], name);
            return missing;
        }
        DispatchResult outcome = send(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, typed, result, name);
        if (outcome.outcome == DispatchResult::Outcome::Done)
            outcome.value = fromVariant(result[0]);
        return outcome;
    }

    DispatchResult put(DISPID id, const QVariant& value, const QString& name)
    {
        Variants none(1);
        return send(id, DISPATCH_PROPERTYPUT, {value}, none, name);
    }

    DispatchResult send(DISPID id, WORD flags, const QVariantList& arguments, Variants& result, const QString& name)
    {
        // DISPPARAMS hold the arguments last first; a property write names its value.
        Variants values(static_cast<std::size_t>(arguments.size()));
        for (int i = 0; i < arguments.size(); ++i) {
            if (!toVariant(arguments[i], values[values.size() - 1 - static_cast<UINT>(i)]))
                return DispatchResult::failed(
                    QStringLiteral("%1: argument %2 of type %3 cannot be passed to the automation server")
                        .arg(name)
                        .arg(i + 1)
                        .arg(QString::fromLatin1(arguments[i].typeName())));
        }
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS parameters{values.data(), nullptr, values.size(), 0};
        if (flags == DISPATCH_PROPERTYPUT) {
            parameters.rgdispidNamedArgs = &named;
            parameters.cNamedArgs = 1;
        }
        EXCEPINFO info{};
        UINT wrongArgument = 0;
        HRESULT done = S_OK;
        // An application busy with its own work (a dialog, a recalculation) turns calls away for a while;
        // this thread, in the multithreaded apartment, has no message filter to wait for it: it retries.
        for (int attempt = 0; attempt < kBusyRetries; ++attempt) {
            done = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                   flags == DISPATCH_PROPERTYPUT ? nullptr : &result[0], &info, &wrongArgument);
            if (done != RPC_E_CALL_REJECTED && done != RPC_E_SERVERCALL_RETRYLATER)
                break;
            Sleep(kBusyPauseMs);
        }
        if (done == DISP_E_EXCEPTION)
            return failure(info);
        if (FAILED(done))
            return failure(done, name);
        return DispatchResult::done();
    }

    ComRef<IDispatch> object_;
    QString programId_;
};

bool classOf(const QString& programId, CLSID& id, HRESULT& code)
{
    platform::initializeAutomationForThread();
    const std::wstring name = programId.toStdWString();
    code = CLSIDFromProgID(name.c_str(), &id);
    return SUCCEEDED(code);
}

} // namespace

namespace platform {

bool systemAutomationServerRegistered(const QString& programId)
{
    CLSID id;
    HRESULT code = S_OK;
    return classOf(programId, id, code);
}

std::unique_ptr<Dispatch> createSystemAutomationServer(const QString& programId, QString& error)
{
    CLSID id;
    HRESULT code = S_OK;
    if (!classOf(programId, id, code)) {
        error = QStringLiteral("%1 is not registered: %2").arg(programId, systemMessage(code));
        return nullptr;
    }
    ComRef<IDispatch> object;
    code = CoCreateInstance(id, nullptr, CLSCTX_SERVER, IID_IDispatch, object.out());
    if (FAILED(code) || !object) {
        error = QStringLiteral("%1 could not be started: %2").arg(programId, systemMessage(code));
        return nullptr;
    }
    return std::make_unique<SystemObject>(std::move(object), programId);
}

} // namespace platform
