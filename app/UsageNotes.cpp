#include "app/UsageNotes.h"

#include <QStringList>

#include <cstring>

QString UsageNotesTitle()
{
    return QStringLiteral("注意");
}

QString UsageNotesText()
{
    const QStringList notes{
        QStringLiteral(
            "本软件无需安装，解压后运行即可，但请勿解压到需要管理员权限的系统文件夹，否则无法保存设置，"
            "无法正常升级。"),
        QStringLiteral(
            "如有需管理员权限的设置，请使用“以管理员身份运行“(鼠标指向软件exe文件点击右键即可选择)，"
            "否则无法保存设置。"),
        QStringLiteral("软件请在微软Windows7或以上系统运行，不支持xp系统。"),
        QStringLiteral(
            "软件需要对电脑文件进行修改操作，如果360等软件询问是否允许，请选择总是运行，并勾选不再询问。"),
    };
    QStringList numbered;
    for (int i = 0; i < notes.size(); ++i)
        numbered << QString::number(i + 1) + QStringLiteral(". ") + notes[i];
    return QStringLiteral("<p style='font-size:16px;line-height:20px;'>") +
           numbered.join(QStringLiteral("<br><br>")) + QStringLiteral("</p>");
}

bool IsAutorunArgument(const char* firstArgument)
{
    return firstArgument && std::strcmp(firstArgument, "-autorun") == 0;
}

bool ShowsWindowAtStart(const char* firstArgument, bool trayAvailable)
{
    return !(IsAutorunArgument(firstArgument) && trayAvailable);
}
