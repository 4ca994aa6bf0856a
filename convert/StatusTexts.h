#pragma once

#include <QString>

/// Texts the conversion worker shows in the window's status line.
namespace StatusTexts {

inline QString applicationCreated() { return QStringLiteral("excel OK!"); }
/// Which spreadsheet application serves the batch: the one installed on the computer (through COM), or
/// the one built into the program.
inline QString spreadsheetInUse(bool installed)
{
    return installed ? QStringLiteral("使用电脑中安装的电子表格程序(Excel.Application)")
                     : QStringLiteral("使用Quillmark内置的电子表格程序");
}
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
/// Follows the summary when something was not converted: how many files, how many folders could not be
/// read, and where they are listed.
inline QString notConverted(int files, int folders, bool listed)
{
    QString text = QString::number(files) + QStringLiteral("个csv文件未能转换");
    if (folders > 0)
        text += QStringLiteral(",") + QString::number(folders) + QStringLiteral("个文件夹无法读取");
    if (listed)
        text += QStringLiteral(",详见无法转换的文件目录.txt");
    return text;
}
/// The file that stopped a conversion by settings, after sourceCannotBeOpened().
inline QString stoppedAt(const QString& nativePath)
{
    return QStringLiteral("  ") + nativePath;
}

} // namespace StatusTexts
