#include "platform/SystemCodePage.h"

#include <QTextCodec>

namespace platform {

QTextCodec* systemCodePageCodec()
{
    return QTextCodec::codecForLocale();
}

} // namespace platform
