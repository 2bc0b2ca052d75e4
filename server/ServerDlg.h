#pragma once
// The server role's window: starts the server core when it opens, shows its
// log, its users and the byte totals, and shuts it down when it closes. Owns
// the core; its widgets belong to the dialog.

#include <string>

#include "ChatServer.h"
#include "MainDialog.h"
#include "ServerView.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

class CServerDlg : public CMainDialog, public IServerView {
    Q_OBJECT
public:
    explicit CServerDlg(QWidget* pParent = nullptr);
    ~CServerDlg() override;

    // Starts the core before the window is first shown. If it cannot start,
    // the window ends with Cancel at once and never shows.
    int exec() override;
    // Before exec: the limits the core puts on peers (the benchmarks turn
    // the rates off to measure the relay itself).
    void SetLimits(const CServerLimits& limits) { m_server.SetLimits(limits); }

    // Shutdown: Escape, the close box and the window menu's Close end here
    // too. The core tells every user before the window ends with Cancel.
    void reject() override;

    // IServerView. The log, the users box, the label and the byte totals are
    // drawn at most once a frame, however many changes a busy room makes
    // meanwhile (CMainDialog::QueueLog); a message box and the end of the
    // window first draw what is queued.
    void AppendLog(const std::string& text, ELogLevel level) override;
    void UpdateUserList(CUserList& roster) override;
    void UpdateTraffic() override;
    void ShowMessage(const std::string& text) override;

protected:
    std::string FormatUser(const CUserInfo& user) const override;

private slots:
    void OnBootUser();

private:
    [[nodiscard]] bool InitDialog();  // true (failed) if the core did not start

    // The controls, bound once when the template has been laid out.
    QLabel* m_totalClientsLabel = nullptr;
    QLabel* m_bytesWrittenLabel = nullptr;
    QLabel* m_bytesReadLabel = nullptr;
    QPlainTextEdit* m_userList = nullptr;
    QPlainTextEdit* m_log = nullptr;
    QPushButton* m_shutdownButton = nullptr;
    CChatServer m_server;
    bool m_bShutDown = false;               // the core has been shut down
};
