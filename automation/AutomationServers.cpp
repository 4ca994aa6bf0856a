#include "automation/AutomationServers.h"

#include "automation/SpreadsheetDispatch.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {

struct Registry
{
    QMutex mutex;
    QHash<QString, AutomationServers::Factory> factories;

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

std::unique_ptr<Dispatch> create(const QString& programId)
{
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
}

} // namespace AutomationServers
