#pragma once

#include <QString>

class AutomationObject;

/// What one conversion mode does with one .csv file inside the batch frame: obtain a workbook for it
/// from the spreadsheet application, and clean up afterwards.
class ConversionStep
{
public:
    virtual ~ConversionStep() = default;

    /// The workbook for the file (owned by the automation objects), or null when none was obtained.
    /// Sets `stopBatch` to end the whole batch at once.
    virtual AutomationObject* obtainWorkbook(AutomationObject& application, AutomationObject& workbooks,
                                             const QString& nativePath, bool& stopBatch) = 0;
    /// Why the last obtainWorkbook() gave no workbook, when the step knows better than the application.
    virtual QString failureReason() const { return {}; }
    /// Runs after the file was saved or failed, whichever way it went.
    virtual void cleanUp() {}
    /// Whether files that fail are listed in the failure list file at the end of the batch.
    virtual bool keepsFailureList() const { return false; }
    /// The line of the failure list for a file or folder that was not converted, with its line feed.
    virtual QString failureListLine(const QString& nativePath, const QString& /*reason*/) const
    {
        return nativePath + QLatin1Char('\n');
    }
};
