// Renders the program's windows to PNG files so that a person can look at
// them without a display: the Connect dialog as typed into, both main
// windows in the middle of a chat, and the About box. The chat is fed to the
// windows through their view operations with the texts the cores send, so no
// port is bound and nothing goes over the network.
//
// Usage: zephran_screenshots FOLDER   (run with QT_QPA_PLATFORM=offscreen)

#include <arpa/inet.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTextStream>

#include <string>
#include <utility>
#include <vector>

#include "AboutDlg.h"
#include "ClientDlg.h"
#include "ConnectDlg.h"
#include "QtEventLoop.h"
#include "Resources.h"
#include "ServerDlg.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "UserList.h"
#include "Wire.h"

namespace {

struct CSampleUser {
    const char* name;
    int ping;
    const char* addr;
    unsigned port;
};

// Oldest first; the roster lists the newest at the top.
const std::vector<CSampleUser> kUsers{
    {"ann", 12, "192.168.1.20", 1042},
    {"bob", 3, "192.168.1.31", 40213},
    {"guest", 0, "192.168.1.47", 52871},
};

void FillRoster(CUserList& roster)
{
    for (const CSampleUser& sample : kUsers) {
        auto* pUser = new CUserInfo;
        pUser->m_name = sample.name;
        pUser->m_ping = sample.ping;
        pUser->m_addr.sin_family = AF_INET;
        pUser->m_addr.sin_port = htons(static_cast<std::uint16_t>(sample.port));
        inet_pton(AF_INET, sample.addr, &pUser->m_addr.sin_addr);
        roster.AddHead(pUser);
    }
}

const std::vector<std::pair<const char*, const char*>> kChat{
    {"ann", "morning all"},
    {"bob", "hi ann, did the build finish?"},
    {"ann", "yes, tests are green. Long lines wrap at the width of the log box, so a "
            "paragraph pasted into the input box still reads well here."},
    {"guest", "hello! first time here"},
};

bool Save(QWidget& window, const QDir& folder, const char* file)
{
    window.show();
    QCoreApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(file));
    const bool failed = !window.grab().save(path);
    QTextStream(failed ? stderr : stdout) << (failed ? "could not write " : "") << path << '\n';
    window.hide();
    return failed;
}

bool ServerInChat(const QDir& folder, CUserList& roster)
{
    CServerDlg dlg;
    for (const CSampleUser& sample : kUsers) {
        const std::string ping = std::to_string(sample.ping);
        for (const char* line : {"New Connection Accepted from: ", "Receiving Client Information...",
                                 "Checking version", "  Version 2 Passed...", "Welcome ",
                                 "Sending client room information"}) {
            std::string text = line;
            if (text.starts_with("New"))
                text += sample.addr;
            else if (text.starts_with("Welcome"))
                text += sample.name;
            dlg.AppendLog(text, ELogLevel::Info);
        }
        dlg.AppendLog("client got ping time of " + ping + " ms", ELogLevel::Info);
        dlg.AppendLog("Moving client to UDP port", ELogLevel::Info);
        dlg.AppendLog(FormatNew(sample.ping, sample.name), ELogLevel::Info);
        dlg.AppendLog(FormatJoinLine(sample.name), ELogLevel::Info);
    }
    for (const auto& [name, line] : kChat)
        dlg.AppendLog(FormatRelay(name, line), ELogLevel::Debug);
    dlg.UpdateUserList(roster);
    dlg.UpdateTraffic();
    return Save(dlg, folder, "server.png");
}

bool ClientInChat(const QDir& folder, CUserList& roster)
{
    CClientDlg dlg;
    dlg.SetUserName("guest");
    for (const char* line : {"Connecting to server at: 192.168.1.10", "Connected.  Checking Version",
                             "Checking version", "Version 2 verified.", "Receiving Room Information...",
                             "Responding to server's ping", "\r\nServer reports a 0 ms ping time",
                             "Moving to UDP broadcast port", "Sending contact information"})
        dlg.AppendLog(line);
    dlg.AppendLog(FormatJoinLine("guest").substr(1));
    for (const auto& [name, line] : kChat)
        if (std::string(name) == "guest")
            dlg.AppendLog(FormatRelay(name, line).substr(1));
    dlg.UpdateUserList(roster);
    dlg.UpdateTraffic();
    dlg.ControlAs<QLineEdit>(IDC_INPUT)->setText(QStringLiteral("anyone up for lunch?"));
    return Save(dlg, folder, "client.png");
}

bool ConnectTypedInto(const QDir& folder)
{
    CConnectDlg dlg;
    const QList<QLineEdit*> boxes = dlg.findChildren<QLineEdit*>();
    if (boxes.size() == 2) {
        boxes[0]->setText(QStringLiteral("192.168.1.10"));
        boxes[1]->setText(QStringLiteral("guest"));
    }
    return Save(dlg, folder, "connect.png");
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2 || !QDir().mkpath(QString::fromLocal8Bit(argv[1]))) {
        QTextStream(stderr) << "usage: zephran_screenshots FOLDER\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    CQtEventLoop loop;
    CUserList roster;
    FillRoster(roster);
    g_bytesRead = 48213;
    g_bytesWritten = 131077;

    CAboutDlg about;
    const bool failed = ConnectTypedInto(folder) | ServerInChat(folder, roster) |
                        ClientInChat(folder, roster) | Save(about, folder, "about.png");
    return failed ? 1 : 0;
}
