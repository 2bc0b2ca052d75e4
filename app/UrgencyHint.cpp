#include "UrgencyHint.h"

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
// WM_HINTS is nine 32-bit words, the first one its flags.
constexpr std::uint32_t kHintWords = 9;
constexpr std::uint32_t kUrgencyFlag = 1u << 8;
}  // namespace

void SetUrgencyHint(QWidget& window, bool bUrgent)
{
    const auto* pX11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (pX11 == nullptr || !window.testAttribute(Qt::WA_WState_Created))
        return;
    xcb_connection_t* pConn = pX11->connection();
    const auto id = static_cast<xcb_window_t>(window.winId());

    // The other hints (input focus, initial state, icon) stay as Qt set them.
    std::array<std::uint32_t, kHintWords> hints{};
    const xcb_get_property_cookie_t cookie =
        ::xcb_get_property(pConn, 0, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kHintWords);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> pReply(
        ::xcb_get_property_reply(pConn, cookie, nullptr), &std::free);
    if (pReply && pReply->format == 32) {
        const auto bytes = std::min<std::size_t>(static_cast<std::size_t>(::xcb_get_property_value_length(pReply.get())),
                                                 sizeof hints);
        std::memcpy(hints.data(), ::xcb_get_property_value(pReply.get()), bytes);
    }
    hints[0] = bUrgent ? hints[0] | kUrgencyFlag : hints[0] & ~kUrgencyFlag;
    ::xcb_change_property(pConn, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, kHintWords,
                          hints.data());
    ::xcb_flush(pConn);
}
