#pragma once

#include <QString>

/// Texts the conversion worker shows in the window's status line.
namespace StatusTexts {

inline QString applicationCreated() { return QStringLiteral("excel OK!"); }
inline QString workbooksObtained() { return QStringLiteral("WorkBooks OK!"); }
inline QString noSpreadsheetApplication()
{
    return QStringLiteral("本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!");
}
inline QString sourceCannotBeOpened()
{
    return QStringLiteral("遇到无法打开的csv文件,请先将其关闭,或重启电脑后再尝试转换!");
}
inline QString summary(int converted)
{
    return QStringLiteral("成功转换") + QString::number(converted) + QStringLiteral("个csv文件,");
}

} // namespace StatusTexts
