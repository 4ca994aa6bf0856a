#pragma once

#include "automation/Dispatch.h"

#include <QString>

#include <functional>
#include <memory>

/// The automation servers this machine offers, by program identifier: those the system registers (COM on
/// Windows, where an installed spreadsheet application is "Excel.Application") and the program's own,
/// where "Excel.Application" is the embedded spreadsheet application unless removed.
namespace AutomationServers {

using Factory = std::function<std::unique_ptr<Dispatch>()>;

/// Which of the two may serve a program identifier.
enum class Choice
{
    SystemFirst, // the system's server when it registers one, else the program's own
    SystemOnly,  // the system's server or nothing
    OwnOnly,     // the program's own server or nothing
};
/// For every server created from now on, in any thread. SystemFirst unless set.
void setChoice(Choice choice);
Choice choice();

/// A new instance of the server, or null when none is registered under that identifier. A server the
/// system registers but cannot start leaves the program's own to serve under SystemFirst.
std::unique_ptr<Dispatch> create(const QString& programId);

void registerServer(const QString& programId, Factory factory);
void unregisterServer(const QString& programId);
/// Puts back the servers the program comes with, and the choice SystemFirst.
void restoreDefaults();

} // namespace AutomationServers
