#include "ConnectDlg.h"

#include <arpa/inet.h>

#include <QLineEdit>
#include <QPushButton>

#include "ByteLimitValidator.h"
#include "DialogBuilder.h"
#include "MessageBox.h"
#include "Protocol.h"
#include "Resources.h"
#include "Wire.h"

namespace {

// Every datagram about the user must fit one receive: the longest is the
// join line "%c* %s has joined the chat!" with its zero, the name and 25
// bytes more. A longer name would be lost at every client, and would leave
// no room in the client's input box.
int NameLimit() { return DATAGRAM_RECEIVE_SIZE - static_cast<int>(FormatJoinLine("").size()) - 1; }

}  // namespace

CConnectDlg::CConnectDlg(QWidget* pParent) : QDialog(pParent)
{
    const QHash<int, QWidget*> controls = CDialogBuilder::Build(*FindDialogTemplate(IDD_CONNECT), this);
    m_pAddressBox = qobject_cast<QLineEdit*>(controls.value(IDC_SERVER_ADDRESS));
    m_pNameBox = qobject_cast<QLineEdit*>(controls.value(IDC_USER_NAME));
    m_pNameBox->setValidator(new CByteLimitValidator(NameLimit(), m_pNameBox));
    connect(qobject_cast<QPushButton*>(controls.value(IDOK)), &QPushButton::clicked, this,
            &CConnectDlg::OnOK);
    connect(qobject_cast<QPushButton*>(controls.value(IDCANCEL)), &QPushButton::clicked, this,
            &QDialog::reject);
    connect(qobject_cast<QPushButton*>(controls.value(IDC_START_SERVER)), &QPushButton::clicked, this,
            &CConnectDlg::OnStartServer);
}

void CConnectDlg::OnOK()
{
    // The standard parser: one to four parts, decimal, octal or hex; no host
    // names. It answers INADDR_NONE for anything else, which is also the
    // value of 255.255.255.255, so that address is refused with the rest.
    m_serverAddr = ::inet_addr(m_pAddressBox->text().toLocal8Bit().constData());
    if (m_serverAddr == 0 || m_serverAddr == INADDR_NONE) {
        ShowProgramMessageBox(this, "Please enter a valid dotted internet address x.x.x.x");
        return;
    }
    m_name = m_pNameBox->text().toLocal8Bit().toStdString();
    if (m_name.empty()) {
        ShowProgramMessageBox(this, "Please enter a valid name");
        return;
    }
    accept();
}

void CConnectDlg::OnStartServer()
{
    m_startServer = true;
    accept();
}
