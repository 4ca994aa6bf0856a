#pragma once

#include "automation/Dispatch.h"

#include <QString>

#include <memory>

/// Automation servers the operating system registers by program identifier: on Windows, COM servers
/// (an installed spreadsheet application under "Excel.Application"), reached through IDispatch. Other
/// systems register none.
namespace platform {

/// Whether the system knows a server under the program identifier.
bool systemAutomationServerRegistered(const QString& programId);

/// A new instance of the system's server, its object addressed with member strings as AutomationObject
/// passes them; null with `error` set when none is registered or it does not start. Prepares the calling
/// thread for COM if nothing did; the object belongs to that thread.
std::unique_ptr<Dispatch> createSystemAutomationServer(const QString& programId, QString& error);

} // namespace platform
