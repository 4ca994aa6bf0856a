#include "automation/AutomationServers.h"

#include "automation/SpreadsheetDispatch.h"
#include "platform/SystemAutomation.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>

namespace {

struct Registry
{
    QMutex mutex;
    QHash<QString, AutomationServers::Factory> factories;
    std::atomic<AutomationServers::Choice> choice{AutomationServers::Choice::SystemFirst};

    Registry() { addDefaults(); }
    void addDefaults() { factories.insert(QStringLiteral("Excel.Application"), &createSpreadsheetApplication); }
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

namespace AutomationServers {

void setChoice(Choice choice)
{
    registry().choice = choice;
}

Choice choice()
{
    return registry().choice;
}

std::unique_ptr<Dispatch> create(const QString& programId)
{
    const Choice choice = registry().choice;
    if (choice != Choice::OwnOnly && platform::systemAutomationServerRegistered(programId)) {
        QString error;
        if (std::unique_ptr<Dispatch> server = platform::createSystemAutomationServer(programId, error))
            return server;
        qWarning("%s", qPrintable(error));
    }
    if (choice == Choice::SystemOnly)
        return nullptr;
    Factory factory;
    {
        QMutexLocker lock(&registry().mutex);
        factory = registry().factories.value(programId);
    }
    return factory ? factory() : nullptr;
}

void registerServer(const QString& programId, Factory factory)
{
    QMutexLocker lock(&registry().mutex);
    registry().factories.insert(programId, std::move(factory));
}

void unregisterServer(const QString& programId)
{
    QMutexLocker lock(&registry().mutex);
    registry().factories.remove(programId);
}

void restoreDefaults()
{
    QMutexLocker lock(&registry().mutex);
    registry().factories.clear();
    registry().addDefaults();
    registry().choice = Choice::SystemFirst;
}

} // namespace AutomationServers
