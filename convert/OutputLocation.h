#pragma once

#include "convert/ConversionOptions.h"

#include <QFileInfo>
#include <QString>

/// Folder (native separators, ending with one separator) that receives the workbook of a source file:
/// the file's own folder, with the source folder replaced by the output folder as its leading part
/// unless workbooks go next to their sources. Both folders are compared cleaned and with exactly one
/// trailing separator, so "out" and "out/" mean the same folder and never a sibling such as "out2021".
QString outputFolderFor(const QFileInfo& source, const ConversionOptions& options);

/// Full output name: the output folder, the source's complete base name ("report.2021" of
/// "report.2021.csv") and ".xlsx" or ".xls".
QString outputFileNameFor(const QFileInfo& source, const ConversionOptions& options);

/// File format number of the output: 51 for .xlsx, 56 for .xls.
int outputFileFormat(const ConversionOptions& options);

/// Makes a folder path (forward slashes) exist, creating missing levels from the highest one down, and
/// returns it. Failures are not reported: the save that follows finds out.
QString MakeDirPath(const QString& path);
