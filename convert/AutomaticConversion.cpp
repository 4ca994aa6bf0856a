#include "convert/AutomaticConversion.h"

#include "automation/AutomationObject.h"

AutomationObject* AutomaticConversion::obtainWorkbook(AutomationObject&, AutomationObject& workbooks,
                                                      const QString& nativePath, bool&)
{
    return workbooks.querySubObject("Open(const QString&)", nativePath);
}

QString AutomaticConversion::failureListLine(const QString& nativePath, const QString& reason) const
{
    return nativePath + QStringLiteral(": ") + reason + QLatin1Char('\n');
}
