#pragma once

#include "convert/ConversionOptions.h"
#include "convert/ConversionStep.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

/// Column numbers typed into the text-column field, split at "," with empty pieces kept, each read as
/// a base-10 number (0 when it is not one).
QList<int> columnPieces(const QString& textFormatColumns);

/// Whether the text-column list is in force: asked for and not empty.
bool textColumnsInForce(const ConversionOptions& options);

/// The field info of the text import: (column, 2) per column piece when the text-column list is in
/// force, otherwise (1, 1) and (2, 1).
QVariantList fieldInfo(const ConversionOptions& options);

/// The 13 arguments of the text import for a staged file.
QVariantList textImportArguments(const QString& stagedPath, const ConversionOptions& options);

/// Delimiter of the cell-by-cell import: "\t", ";", "," or " ".
QString cellDelimiter(int vbaOpenFunFomatArg);

/// Lines of the cell-by-cell import: split at CR LF, else at LF, else at CR; empty pieces stay.
QStringList splitLines(const QString& text);

/// Conversion by settings: each file is read and decoded by the program, staged as a temporary text file
/// in code page 936, and imported with the user's delimiter and column options, or written cell by cell.
class SettingsConversion : public ConversionStep
{
public:
    explicit SettingsConversion(const ConversionOptions& options);
    AutomationObject* obtainWorkbook(AutomationObject& application, AutomationObject& workbooks,
                                     const QString& nativePath, bool& stopBatch) override;
    QString failureReason() const override { return failure_; }
    void cleanUp() override;
    bool keepsFailureList() const override { return true; }

private:
    AutomationObject* decodeAndImport(AutomationObject& application, AutomationObject& workbooks,
                                      const QString& nativePath, bool& stopBatch);
    AutomationObject* importText(AutomationObject& application, AutomationObject& workbooks);
    AutomationObject* importCellByCell(AutomationObject& application, AutomationObject& workbooks,
                                       const QString& text);

    ConversionOptions options_;
    QString stagedPath_;
    QString failure_; // why the last file gave no workbook, when known here
};
