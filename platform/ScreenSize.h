#pragma once

namespace platform {

struct ScreenSize
{
    int width = 0;
    int height = 0;
};

/// Size of the primary screen in pixels; 0 × 0 when there is none. Needs the application object.
ScreenSize primaryScreenSize();

} // namespace platform
