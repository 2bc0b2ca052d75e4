#include "Resources.h"

#include <array>

namespace {

using K = EControlKind;

// The About box.
constexpr std::array g_aboutControls{
    CControlTemplate{IDC_STATIC, K::Static, "ZEPHRAN Version 1.0", 40, 10, 119, 8, CS_NOPREFIX},
    CControlTemplate{IDC_STATIC, K::Static, "A chat room for your local network", 40, 25, 119, 8, 0},
    CControlTemplate{IDOK, K::PushButton, "OK", 178, 7, 50, 14, CS_DEFAULT | CS_TABSTOP},
};

// The Connect dialog: the address box comes first so that it has the focus.
constexpr std::uint32_t kConnectEdit = CS_BORDER | CS_TABSTOP | CS_AUTOHSCROLL;
constexpr std::array g_connectControls{
    CControlTemplate{IDC_SERVER_ADDRESS, K::Edit, "", 25, 25, 115, 15, kConnectEdit},
    CControlTemplate{IDC_USER_NAME, K::Edit, "", 25, 55, 115, 15, kConnectEdit},
    CControlTemplate{IDOK, K::PushButton, "&OK", 10, 75, 50, 14, CS_DEFAULT | CS_TABSTOP},
    CControlTemplate{IDCANCEL, K::PushButton, "&Cancel", 105, 75, 50, 14, CS_TABSTOP},
    CControlTemplate{IDC_START_SERVER, K::PushButton, "&Start Server", 10, 110, 145, 15, CS_TABSTOP},
    CControlTemplate{IDC_STATIC, K::Static, "Enter the server's IP address below:", 0, 5, 166, 15,
                     CS_CENTER | CS_VCENTER, nullptr, IDC_SERVER_ADDRESS},
    CControlTemplate{IDC_STATIC, K::Static, "OR:", 10, 95, 145, 10, CS_CENTER},
    CControlTemplate{IDC_STATIC, K::Static, "And your name:", 25, 40, 115, 15, CS_CENTER | CS_VCENTER,
                     nullptr, IDC_USER_NAME},
};

// The log wraps at the box's width; the users box scrolls sideways instead.
// Neither has a label, nor have the counters but for the text they show, so
// each has a name of its own for screen readers.
constexpr std::uint32_t kLogBox =
    CS_MULTILINE | CS_READONLY | CS_VSCROLL | CS_BORDER | CS_STATICEDGE;
constexpr std::uint32_t kUsersBox = kLogBox | CS_HSCROLL | CS_AUTOHSCROLL;

// The server window. Its log and users boxes are reached by mouse only.
constexpr std::array g_serverControls{
    CControlTemplate{IDC_SHUTDOWN_SERVER, K::PushButton, "&Shutdown Server", 5, 211, 150, 15, CS_TABSTOP},
    CControlTemplate{IDC_BOOT_USER, K::PushButton, "&Boot User", 165, 211, 150, 15,
                     CS_TABSTOP | CS_DISABLED},
    CControlTemplate{IDC_LOG, K::Edit, "", 5, 35, 225, 170, kLogBox, "Chat log"},
    CControlTemplate{IDC_USERS, K::Edit, "", 235, 35, 80, 170, kUsersBox, "Users in the room"},
    CControlTemplate{IDC_STATIC, K::GroupBox, "Connection Statistics", 5, 5, 310, 25, CS_TRANSPARENT},
    CControlTemplate{IDC_BYTES_READ, K::Static, "Bytes Read: 0", 10, 15, 95, 10, CS_VCENTER, "Bytes Read"},
    CControlTemplate{IDC_BYTES_WRITTEN, K::Static, "Bytes Written: 0", 210, 15, 100, 10,
                     CS_RIGHT | CS_VCENTER, "Bytes Written"},
    CControlTemplate{IDC_TOTAL_CLIENTS, K::Static, "Total Clients: 0", 110, 15, 100, 10,
                     CS_CENTER | CS_VCENTER, "Total Clients"},
};

// The client window: the input box first (it has the focus), "Send" last.
constexpr std::array g_clientControls{
    CControlTemplate{IDC_INPUT, K::Edit, "", 5, 210, 260, 15, CS_BORDER | CS_AUTOHSCROLL | CS_TABSTOP,
                     "Message to send"},
    CControlTemplate{IDC_LOGON, K::PushButton, "Logon", 5, 230, 80, 15, CS_TABSTOP},
    CControlTemplate{IDC_DISCONNECT, K::PushButton, "Disconnect", 120, 230, 80, 15, CS_TABSTOP},
    CControlTemplate{IDC_QUIT, K::PushButton, "Quit", 235, 230, 80, 15, CS_TABSTOP},
    CControlTemplate{IDC_LOG, K::Edit, "", 5, 35, 225, 170, kLogBox | CS_TABSTOP, "Chat log"},
    CControlTemplate{IDC_USERS, K::Edit, "", 235, 35, 80, 170, kUsersBox | CS_TABSTOP, "Users in the room"},
    CControlTemplate{IDC_STATIC, K::GroupBox, "Connection Statistics", 5, 5, 310, 25, 0},
    CControlTemplate{IDC_BYTES_READ, K::Static, "Bytes Read: 0", 10, 15, 95, 10, CS_VCENTER, "Bytes Read"},
    CControlTemplate{IDC_BYTES_WRITTEN, K::Static, "Bytes Written: 0", 210, 15, 100, 10,
                     CS_RIGHT | CS_VCENTER, "Bytes Written"},
    CControlTemplate{IDC_TOTAL_CLIENTS, K::Static, "", 113, 15, 95, 10, CS_CENTER | CS_VCENTER,
                     "Total Clients"},
    CControlTemplate{IDC_SEND, K::PushButton, "Send", 265, 210, 50, 15, CS_DEFAULT | CS_TABSTOP},
};

constexpr const char* kFont = "MS Sans Serif";
constexpr int kFontPoints = 8;

constexpr std::array g_templates{
    CDialogTemplate{IDD_ABOUTBOX, "About ZEPHRAN", 235, 55, DS_SYSMENU | DS_MODALFRAME, kFont,
                    kFontPoints, g_aboutControls},
    CDialogTemplate{IDD_CLIENT_DIALOG, "ZEPHRAN Client", 322, 250,
                    DS_SYSMENU | DS_MINIMIZEBOX | DS_MODALFRAME | DS_APPWINDOW, kFont, kFontPoints,
                    g_clientControls},
    CDialogTemplate{IDD_CONNECT, "Connect", 168, 130, DS_SYSMENU | DS_MODALFRAME, kFont, kFontPoints,
                    g_connectControls},
    CDialogTemplate{IDD_SERVER_DIALOG, "ZEPHRAN Server", 322, 231,
                    DS_SYSMENU | DS_MINIMIZEBOX | DS_MODALFRAME, kFont, kFontPoints, g_serverControls},
};

struct CStringEntry {
    int id;
    const char* text;
};

constexpr std::array g_strings{
    CStringEntry{IDS_ABOUTBOX, "&About ZEPHRAN..."},
    CStringEntry{IDS_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
};

#include "icons/zephran-32.xpm"
#include "icons/zephran-16.xpm"

}  // namespace

const CDialogTemplate* FindDialogTemplate(int id)
{
    for (const CDialogTemplate& t : g_templates)
        if (t.id == id)
            return &t;
    return nullptr;
}

const char* LoadResourceString(int id)
{
    for (const CStringEntry& s : g_strings)
        if (s.id == id)
            return s.text;
    return "";
}

const char* const* LoadIconImage(int id, int size)
{
    if (id != IDR_MAINFRAME)
        return nullptr;
    if (size == 32)
        return g_zephranIcon32;
    if (size == 16)
        return g_zephranIcon16;
    return nullptr;
}
