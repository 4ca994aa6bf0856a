#pragma once

#include "automation/Dispatch.h"

#include <QString>

#include <functional>
#include <memory>

/// The automation servers this machine offers, by program identifier, as the system registry lists them
/// for COM. "Excel.Application" is the embedded spreadsheet application unless removed.
namespace AutomationServers {

using Factory = std::function<std::unique_ptr<Dispatch>()>;

/// A new instance of the server, or null when none is registered under that identifier.
std::unique_ptr<Dispatch> create(const QString& programId);

void registerServer(const QString& programId, Factory factory);
void unregisterServer(const QString& programId);
/// Puts back the servers the program comes with.
void restoreDefaults();

} // namespace AutomationServers
