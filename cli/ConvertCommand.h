#pragma once

#include "convert/ConversionOptions.h"

#include <QString>
#include <QStringList>

/// What the command line of quillmark-convert asks for.
struct ConvertCommand
{
    ConversionOptions options;
    bool bySettings = false; // conversion by settings instead of automatic conversion
    QString error;           // set when the command line is not usable
};

/// Reads the arguments (without the program name).
ConvertCommand parseConvertCommand(const QStringList& arguments);

/// The usage text.
QString convertUsage();
