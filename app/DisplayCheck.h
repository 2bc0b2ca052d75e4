#pragma once
// Whether the desktop program has a display to open its windows on, asked
// before Qt starts: without one, Qt's platform plugin aborts the process.
// Plain functions of the environment; nothing is owned.

// Whether Qt will find a display: an X display (DISPLAY), a Wayland one
// (WAYLAND_DISPLAY), or a platform that needs none (QT_QPA_PLATFORM set to
// offscreen, say). Empty variables count as unset.
bool DisplayFound(const char* display, const char* waylandDisplay, const char* qpaPlatform);

// DisplayFound with this process's environment.
bool DisplayFound();

// The one line that tells a user started without a display what to do.
extern const char* const kNoDisplayMessage;
