#pragma once
// The urgency flag of a top-level window's WM_HINTS under X11, which taskbars
// and docks show as a request for attention. Qt's own request for attention
// asks an EWMH window manager for its demands-attention state and leaves
// WM_HINTS alone; panels that read only the hint need this as well. Does
// nothing on other platforms, or before the window has its X window.

class QWidget;

void SetUrgencyHint(QWidget& window, bool bUrgent);
