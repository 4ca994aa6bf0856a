#pragma once

#include "automation/AutomationServers.h"
#include "convert/ConversionOptions.h"

#include <QString>
#include <QStringList>

/// What the command line of quillmark-convert asks for.
struct ConvertCommand
{
    ConversionOptions options;
    bool bySettings = false; // conversion by settings instead of automatic conversion
    bool help = false;       // --help or -h: print the usage, convert nothing
    bool version = false;    // --version: print the version, convert nothing
    bool progress = false;   // --progress: show how far the batch is on a terminal
    // --engine: which spreadsheet application converts; by default the installed one when there is one
    AutomationServers::Choice engine = AutomationServers::Choice::SystemFirst;
    QString error;           // one line naming the problem, when the command line is not usable
};

/// Reads the arguments (without the program name).
ConvertCommand parseConvertCommand(const QStringList& arguments);

/// The usage text.
QString convertUsage();

/// What --version prints: the program's name and version.
QString convertVersion();

/// Column numbers of --text-columns: numbers from 1 to 16,384 separated by commas, nothing else. False
/// for anything else.
bool validTextColumns(const QString& list);
