#include "platform/SystemAutomation.h"

namespace platform {

bool systemAutomationServerRegistered(const QString&)
{
    return false;
}

std::unique_ptr<Dispatch> createSystemAutomationServer(const QString& programId, QString& error)
{
    error = QStringLiteral("%1: this system has no registry of automation servers").arg(programId);
    return nullptr;
}

} // namespace platform
