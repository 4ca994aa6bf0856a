#pragma once

#include "convert/ConversionStep.h"

/// Automatic conversion: the spreadsheet application opens each .csv file unchanged and reads it by its
/// own rules; the program passes nothing but the path.
class AutomaticConversion : public ConversionStep
{
public:
    AutomationObject* obtainWorkbook(AutomationObject& application, AutomationObject& workbooks,
                                     const QString& nativePath, bool& stopBatch) override;
};
