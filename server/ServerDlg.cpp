#include "ServerDlg.h"

#include <arpa/inet.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "Resources.h"
#include "UserInfo.h"

CServerDlg::CServerDlg(QWidget* pParent) : CMainDialog(IDD_SERVER_DIALOG, pParent)
{
    m_totalClientsLabel = ControlAs<QLabel>(IDC_TOTAL_CLIENTS);
    m_bytesWrittenLabel = ControlAs<QLabel>(IDC_BYTES_WRITTEN);
    m_bytesReadLabel = ControlAs<QLabel>(IDC_BYTES_READ);
    m_userList = ControlAs<QPlainTextEdit>(IDC_USERS);
    m_log = ControlAs<QPlainTextEdit>(IDC_LOG);
    m_shutdownButton = ControlAs<QPushButton>(IDC_SHUTDOWN_SERVER);
    connect(m_shutdownButton, &QPushButton::clicked, this, &CServerDlg::reject);
    connect(ControlAs<QPushButton>(IDC_BOOT_USER), &QPushButton::clicked, this,
            &CServerDlg::OnBootUser);
}

// The core goes first (members die in reverse order): its sockets close and
// its roster is freed without a word to anyone, while the widgets still exist.
CServerDlg::~CServerDlg() = default;

int CServerDlg::exec()
{
    if (InitDialog())
        return Rejected;
    return CMainDialog::exec();
}

bool CServerDlg::InitDialog()
{
    if (m_server.Start(this)) {
        ShowMessage("Server init failure");
        return true;
    }
    m_shutdownButton->setFocus();
    return false;
}

void CServerDlg::reject()
{
    // Every way of closing lands here; the users hear about it exactly once.
    if (!m_bShutDown) {
        m_bShutDown = true;
        m_server.Shutdown();
    }
    CMainDialog::reject();  // which draws what is queued before the window ends
}

// "&Boot User" is disabled for good; the core cannot remove a user who has
// not signed off.
void CServerDlg::OnBootUser() {}

// Every line is shown alike, whatever its level.
void CServerDlg::AppendLog(const std::string& text, ELogLevel /*level*/)
{
    QueueLog(text);
}

void CServerDlg::UpdateUserList(CUserList& roster)
{
    QueueUserList(roster);
}

void CServerDlg::UpdateTraffic()
{
    QueueTraffic();
}

// "%s (%i)\r\n @%s:%i\r\n".
std::string CServerDlg::FormatUser(const CUserInfo& user) const
{
    char addr[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &user.m_addr.sin_addr, addr, sizeof addr))
        addr[0] = '\0';
    return user.m_name + " (" + std::to_string(user.m_ping) + ")\r\n @" + addr + ":" +
           std::to_string(ntohs(user.m_addr.sin_port)) + "\r\n";
}

void CServerDlg::ShowMessage(const std::string& text)
{
    ShowMessageBox(text);
}
