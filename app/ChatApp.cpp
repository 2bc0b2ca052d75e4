#include "ChatApp.h"

#include <netinet/in.h>

#include <QApplication>

#include "ClientDlg.h"
#include "ConnectDlg.h"
#include "MessageBox.h"
#include "ProgramIcon.h"
#include "QtEventLoop.h"
#include "Resources.h"
#include "ServerDlg.h"
#include "SocketLayer.h"
#include "Traffic.h"

CChatApp g_theApp;

CChatApp::CChatApp()
{
    g_bytesRead = 0;
    g_bytesWritten = 0;
}

bool CChatApp::InitInstance()
{
    if (SocketLayerStartup()) {
        ShowProgramMessageBox(nullptr, LoadResourceString(IDS_SOCKETS_INIT_FAILED));
        return false;
    }
    // One window follows another; closing the Connect dialog must not end
    // the program before the main window has run.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(LoadProgramIcon());
    CQtEventLoop loop;  // the sockets of either role register here

    CConnectDlg connectDlg;
    if (connectDlg.exec() != QDialog::Accepted)
        return false;
    if (connectDlg.m_startServer) {
        CServerDlg serverDlg;
        serverDlg.exec();
    } else {
        // Only the address is the dialog's; the client core fills in the
        // family and the sign-on port when it connects.
        sockaddr_in server{};
        server.sin_addr.s_addr = connectDlg.m_serverAddr;
        CClientDlg clientDlg;
        clientDlg.SetServerAddress(server);
        clientDlg.SetUserName(connectDlg.m_name);
        clientDlg.exec();
    }
    return false;
}
