#pragma once
// The client role's window: signs on when asked, sends the typed lines and
// shows the log, the room and the byte totals. Owns the client core and keeps
// the server address and the name for each sign-on; its widgets belong to
// the dialog.

#include <netinet/in.h>

#include <string>

#include "ChatClient.h"
#include "ClientView.h"
#include "MainDialog.h"

class CUserInfo;

class QLabel;
class QLineEdit;
class QPlainTextEdit;

class CClientDlg : public CMainDialog, public IClientView {
    Q_OBJECT
public:
    explicit CClientDlg(QWidget* pParent = nullptr);
    ~CClientDlg() override;

    // Called before the window runs.
    void SetServerAddress(const sockaddr_in& addr);
    void SetUserName(const std::string& name);  // also bounds the input box

    // IClientView. The log, the users box, the label and the byte totals are
    // drawn at most once a frame, however many changes a busy room makes
    // meanwhile (CMainDialog::QueueLog); a message box and the end of the
    // window first draw what is queued. ClearUserList empties both at once.
    void AppendLog(const std::string& text) override;
    void UpdateUserList(CUserList& roster) override;
    void ClearUserList() override;
    void UpdateTraffic() override;
    void ShowMessage(const std::string& text) override;
    // Asks for attention while the window is in the background.
    void OnRoomLine() override;

protected:
    // The platform's request for attention (QApplication::alert: under an
    // X11 window manager the window's "demands attention" state, which task
    // bars show) and, under X11, the urgency hint; both end when the user
    // brings the window forward.
    virtual void AskForAttention();
    void changeEvent(QEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;  // the close box is Quit
    std::string FormatUser(const CUserInfo& user) const override;

private slots:
    void OnLogon();
    void OnDisconnect();
    void OnQuit();
    void OnSend();

private:
    void SetTotalClients(const char* text);  // after drawing what is pending

    // The controls, bound once when the template has been laid out.
    QLabel* m_totalClientsLabel = nullptr;
    QLabel* m_bytesWrittenLabel = nullptr;
    QLabel* m_bytesReadLabel = nullptr;
    QLineEdit* m_input = nullptr;
    QPlainTextEdit* m_userList = nullptr;
    QPlainTextEdit* m_log = nullptr;
    std::string m_name;
    bool m_bUrgent = false;  // attention asked for, and the urgency hint set, until the window is active
    sockaddr_in m_serverAddr{};
    CChatClient m_client;
};
