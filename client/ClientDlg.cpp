#include "ClientDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ByteLimitValidator.h"
#include "Protocol.h"
#include "Resources.h"
#include "UrgencyHint.h"
#include "UserInfo.h"

namespace {

// The server relays a line as "%c<%s> %s" and its zero byte: the name and
// five bytes more. A line longer than this would make a relay that no client
// can receive in one datagram.
int InputLimit(const std::string& name)
{
    const int limit = DATAGRAM_RECEIVE_SIZE - 5 - static_cast<int>(name.size());
    return limit < 1 ? 1 : limit;
}

}  // namespace

CClientDlg::CClientDlg(QWidget* pParent) : CMainDialog(IDD_CLIENT_DIALOG, pParent)
{
    m_totalClientsLabel = ControlAs<QLabel>(IDC_TOTAL_CLIENTS);
    m_bytesWrittenLabel = ControlAs<QLabel>(IDC_BYTES_WRITTEN);
    m_bytesReadLabel = ControlAs<QLabel>(IDC_BYTES_READ);
    m_input = ControlAs<QLineEdit>(IDC_INPUT);
    m_userList = ControlAs<QPlainTextEdit>(IDC_USERS);
    m_log = ControlAs<QPlainTextEdit>(IDC_LOG);
    m_input->setValidator(new CByteLimitValidator(InputLimit(m_name), m_input));

    connect(ControlAs<QPushButton>(IDC_LOGON), &QPushButton::clicked, this, &CClientDlg::OnLogon);
    connect(ControlAs<QPushButton>(IDC_DISCONNECT), &QPushButton::clicked, this,
            &CClientDlg::OnDisconnect);
    connect(ControlAs<QPushButton>(IDC_QUIT), &QPushButton::clicked, this, &CClientDlg::OnQuit);
    connect(ControlAs<QPushButton>(IDC_SEND), &QPushButton::clicked, this, &CClientDlg::OnSend);

    m_client.Init(this);
}

// The core goes first (members die in reverse order): its socket closes and
// its roster is freed without a word to the server.
CClientDlg::~CClientDlg() = default;

void CClientDlg::SetServerAddress(const sockaddr_in& addr)
{
    m_serverAddr = addr;
}

void CClientDlg::SetUserName(const std::string& name)
{
    m_name = name;
    const QValidator* pOld = m_input->validator();
    m_input->setValidator(new CByteLimitValidator(InputLimit(name), m_input));
    delete pOld;
}

void CClientDlg::OnLogon()
{
    SetTotalClients("Total Clients: ?");
    // A failed sign-on cannot be tried again in this run.
    if (m_client.Logon(m_serverAddr, m_name))
        done(Rejected);
}

void CClientDlg::OnDisconnect()
{
    m_client.Disconnect();
    AppendLog("Disconnected from server");
    SetTotalClients("");
}

void CClientDlg::OnQuit()
{
    OnDisconnect();
    done(Rejected);
}

void CClientDlg::OnSend()
{
    const QByteArray line = m_input->text().toLocal8Bit();
    if (!line.isEmpty())
        m_client.SendChat(line.toStdString());
    m_input->clear();
}

// Escape is not routed here: it ends the window without signing off.
void CClientDlg::closeEvent(QCloseEvent* pEvent)
{
    if (isVisible())
        OnQuit();
    CMainDialog::closeEvent(pEvent);
}

void CClientDlg::AppendLog(const std::string& text)
{
    QueueLog(text);
}

void CClientDlg::UpdateUserList(CUserList& roster)
{
    QueueUserList(roster);
}

void CClientDlg::ClearUserList()
{
    ClearUsers();
}

void CClientDlg::UpdateTraffic()
{
    QueueTraffic();
}

void CClientDlg::ShowMessage(const std::string& text)
{
    ShowMessageBox(text);
}

// "%s (%i)\r\n".
std::string CClientDlg::FormatUser(const CUserInfo& user) const
{
    return user.m_name + " (" + std::to_string(user.m_ping) + ")\r\n";
}

void CClientDlg::OnRoomLine()
{
    if (!isActiveWindow() || isMinimized())
        AskForAttention();
}

// Once until the window is active again: the lines of a busy room after the
// first add nothing to the request.
void CClientDlg::AskForAttention()
{
    if (m_bUrgent)
        return;
    QApplication::alert(this);
    SetUrgencyHint(*this, true);
    m_bUrgent = true;
}

void CClientDlg::changeEvent(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::ActivationChange && isActiveWindow() && m_bUrgent) {
        SetUrgencyHint(*this, false);
        m_bUrgent = false;
    }
    CMainDialog::changeEvent(pEvent);
}

void CClientDlg::SetTotalClients(const char* text)
{
    DrawPending();  // what was pending came first
    m_totalClientsLabel->setText(QString::fromLatin1(text));
}
