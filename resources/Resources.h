#pragma once
// The program's resources as data: the four dialog templates, the string
// table, the icon images and the ids of every control. Kept as plain tables
// so that the windows are laid out from data, not from code; owns no widgets.

#include <cstdint>
#include <span>

// Resource ids.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;              // "&About ZEPHRAN..."
constexpr int IDD_CLIENT_DIALOG = 102;
constexpr int IDS_SOCKETS_INIT_FAILED = 103;   // "Windows sockets initialization failed."
constexpr int IDR_MAINFRAME = 128;             // the program icon
constexpr int IDD_CONNECT = 129;
constexpr int IDD_SERVER_DIALOG = 130;

// Control ids.
constexpr int IDC_STATIC = -1;  // controls the program never addresses
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_INPUT = 1000;
constexpr int IDC_START_SERVER = 1006;  // Connect dialog
constexpr int IDC_LOGON = 1006;         // client window
constexpr int IDC_DISCONNECT = 1007;
constexpr int IDC_QUIT = 1008;
constexpr int IDC_LOG = 1011;
constexpr int IDC_USERS = 1012;
constexpr int IDC_SERVER_ADDRESS = 1014;
constexpr int IDC_BOOT_USER = 1015;
constexpr int IDC_USER_NAME = 1016;
constexpr int IDC_BYTES_READ = 1017;
constexpr int IDC_BYTES_WRITTEN = 1018;
constexpr int IDC_TOTAL_CLIENTS = 1019;
constexpr int IDC_SEND = 1020;
constexpr int IDC_SHUTDOWN_SERVER = IDCANCEL;  // the server window's "&Shutdown Server"

// The window menu's About entry.
constexpr unsigned IDM_ABOUTBOX = 0x0010;

enum class EControlKind { PushButton, Edit, Static, GroupBox };

// Control styles, as bits.
enum : std::uint32_t {
    CS_TABSTOP = 1u << 0,
    CS_DEFAULT = 1u << 1,      // the default push button
    CS_DISABLED = 1u << 2,
    CS_MULTILINE = 1u << 3,
    CS_READONLY = 1u << 4,
    CS_VSCROLL = 1u << 5,
    CS_HSCROLL = 1u << 6,
    CS_AUTOHSCROLL = 1u << 7,  // scrolls sideways as text is typed; no wrapping
    CS_BORDER = 1u << 8,
    CS_STATICEDGE = 1u << 9,
    CS_CENTER = 1u << 10,      // text centred horizontally (left is the default)
    CS_RIGHT = 1u << 11,
    CS_VCENTER = 1u << 12,
    CS_NOPREFIX = 1u << 13,    // "&" shown as it is, not as a mnemonic
    CS_TRANSPARENT = 1u << 14,
};

// Dialog styles, as bits.
enum : std::uint32_t {
    DS_SYSMENU = 1u << 0,
    DS_MINIMIZEBOX = 1u << 1,
    DS_MODALFRAME = 1u << 2,
    DS_APPWINDOW = 1u << 3,
};

struct CControlTemplate {
    int id;
    EControlKind kind;
    const char* text;
    int x, y, cx, cy;  // dialog units
    std::uint32_t style;
    // What a screen reader calls a control that no label names, in the
    // words a user would use; null if its text or its label says it.
    const char* accessibleName = nullptr;
    // A static text that names another control: that control's id (its
    // buddy, which the label's name then describes); 0 if none.
    int labelFor = 0;
};

struct CDialogTemplate {
    int id;
    const char* caption;
    int cx, cy;  // dialog units
    std::uint32_t style;
    const char* fontName;
    int fontPoints;
    std::span<const CControlTemplate> controls;  // template order = tab order
};

// The template of a dialog id, or null if there is none.
const CDialogTemplate* FindDialogTemplate(int id);
// A string of the string table; empty if there is no such string.
const char* LoadResourceString(int id);
// One image of an icon as XPM data (16 colours and a transparent mask), in
// the size asked for (32 or 16 pixels square); null if there is none.
const char* const* LoadIconImage(int id, int size);
