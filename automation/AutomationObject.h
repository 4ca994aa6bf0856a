#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

class Dispatch;

/// An object of an automation server, used with member strings ("WorkBooks", "SaveAs(const QString&,
/// QVariant)") the way an ActiveQt QAxObject is. It reaches the servers of AutomationServers: those the
/// system registers (COM on Windows) and the program's own. Objects obtained with querySubObject() are children of
/// the object they came from and go with it.
///
/// A member the object lacks gives a warning and an invalid result; a member that fails emits
/// exception() and gives an invalid result (null for querySubObject).
class AutomationObject : public QObject
{
    Q_OBJECT

public:
    explicit AutomationObject(QObject* parent = nullptr);
    explicit AutomationObject(const QString& control, QObject* parent = nullptr);
    ~AutomationObject() override;

    /// Binds this object to a new instance of the server with the program identifier; false when no
    /// such server exists (the object then stays null).
    bool setControl(const QString& control);
    QString control() const { return control_; }
    bool isNull() const { return !dispatch_; }
    /// True when an application the system registers serves this object (through COM on Windows), false
    /// when the program's own does, or nothing.
    bool isSystemServer() const;

    QVariant dynamicCall(const char* function, const QVariant& var1 = QVariant(), const QVariant& var2 = QVariant(),
                         const QVariant& var3 = QVariant(), const QVariant& var4 = QVariant(),
                         const QVariant& var5 = QVariant(), const QVariant& var6 = QVariant(),
                         const QVariant& var7 = QVariant(), const QVariant& var8 = QVariant());
    QVariant dynamicCall(const char* function, QList<QVariant>& vars);

    AutomationObject* querySubObject(const char* name, const QVariant& var1 = QVariant(),
                                     const QVariant& var2 = QVariant(), const QVariant& var3 = QVariant(),
                                     const QVariant& var4 = QVariant(), const QVariant& var5 = QVariant(),
                                     const QVariant& var6 = QVariant(), const QVariant& var7 = QVariant(),
                                     const QVariant& var8 = QVariant());
    AutomationObject* querySubObject(const char* name, QList<QVariant>& vars);

    /// Writes a property of the server object (not a Qt dynamic property).
    bool setProperty(const char* name, const QVariant& value);
    /// Reads a property of the server object.
    QVariant property(const char* name);

signals:
    /// The server raised an error in a member: code, source, description, help file.
    void exception(int code, const QString& source, const QString& desc, const QString& help);
    /// The server raised an event, with its name and arguments (on Windows: QAxObject::signal). Emitted
    /// on the object's thread, in the middle of the member that raised it.
    void serverEvent(const QString& name, const QVariantList& arguments);

private:
    AutomationObject(std::unique_ptr<Dispatch> dispatch, QObject* parent);
    static QVariantList collect(std::initializer_list<const QVariant*> vars);
    bool accept(struct DispatchResult& result, const char* member);

    std::unique_ptr<Dispatch> dispatch_;
    QString control_;
};
