#include "platform/ScreenSize.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform {

ScreenSize primaryScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QSize size = screen->size();
    return {size.width(), size.height()};
}

} // namespace platform
