#pragma once

#include "convert/ConversionStep.h"

/// Automatic conversion: the spreadsheet application opens each .csv file unchanged and reads it by its
/// own rules; the program passes nothing but the path.
/// When asked (the window asks), the files it could not convert are listed with their reasons.
class AutomaticConversion : public ConversionStep
{
public:
    explicit AutomaticConversion(bool keepsFailureList = false) : keepsFailureList_(keepsFailureList) {}
    AutomationObject* obtainWorkbook(AutomationObject& application, AutomationObject& workbooks,
                                     const QString& nativePath, bool& stopBatch) override;
    bool keepsFailureList() const override { return keepsFailureList_; }
    /// "path: reason", as quillmark-convert names a failure.
    QString failureListLine(const QString& nativePath, const QString& reason) const override;

private:
    bool keepsFailureList_;
};
