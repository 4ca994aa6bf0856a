#include "platform/SystemCodePage.h"

#include <QByteArray>
#include <QTextCodec>

#include <windows.h>

namespace platform {

QTextCodec* systemCodePageCodec()
{
    const UINT codePage = GetACP();
    QByteArray name;
    switch (codePage) {
    case 936: // GBK; GB18030 reads every GBK text the same
    case 54936:
        name = "GB18030";
        break;
    case 950:
        name = "Big5";
        break;
    case 932:
        name = "Shift_JIS";
        break;
    case 949:
        name = "EUC-KR";
        break;
    case 65001:
        name = "UTF-8";
        break;
    default:
        name = "windows-" + QByteArray::number(codePage);
        break;
    }
    QTextCodec* codec = QTextCodec::codecForName(name);
    return codec ? codec : QTextCodec::codecForLocale();
}

} // namespace platform
