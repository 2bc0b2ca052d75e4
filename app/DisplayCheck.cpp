#include "DisplayCheck.h"

#include <cstdlib>
#include <string_view>

const char* const kNoDisplayMessage =
    "zephran: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
    "zephran-server serves a room without one\n";

namespace {

bool Set(const char* value) { return value != nullptr && *value != '\0'; }

// Whether the platform plugin Qt is told to try first draws on a display
// server: X (xcb) and Wayland do; offscreen, minimal, vnc, linuxfb, eglfs
// and the like do not.
bool NeedsDisplayServer(std::string_view platforms)
{
    const std::string_view first = platforms.substr(0, platforms.find(';'));
    const std::string_view name = first.substr(0, first.find(':'));
    return name == "xcb" || name.starts_with("wayland");
}

}  // namespace

bool DisplayFound(const char* display, const char* waylandDisplay, const char* qpaPlatform)
{
    if (Set(qpaPlatform) && !NeedsDisplayServer(qpaPlatform))
        return true;
    return Set(display) || Set(waylandDisplay);
}

bool DisplayFound()
{
    return DisplayFound(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM"));
}
