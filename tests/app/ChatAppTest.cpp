// The start-up sequence: the Connect dialog decides which one main window
// runs, and the run ends when that window closes.

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "ChatApp.h"
#include "ClientDlg.h"
#include "ConnectDlg.h"
#include "ServerDlg.h"
#include "TestSupport.h"
#include "Traffic.h"

namespace {

// Plays the user: answers the Connect dialog as told, closes a main window as
// soon as it is open (with its close box), and presses OK in message boxes.
class CScriptedUser : public QObject {
public:
    enum class EChoice { Cancel, StartServer, Client };

    explicit CScriptedUser(EChoice choice) : m_choice(choice)
    {
        connect(&m_timer, &QTimer::timeout, this, &CScriptedUser::Poll);
        m_timer.start(10);
    }

    QStringList m_seen;  // the modal windows, in the order they appeared
    std::int64_t m_nTotalsAtMainWindow = -1;

private:
    template <class T>
    static T* Find(QWidget* pDialog, int id)
    {
        return pDialog->findChild<T*>(QStringLiteral("control%1").arg(id));
    }

    void Poll()
    {
        QWidget* pModal = QApplication::activeModalWidget();
        if (pModal == nullptr || !pModal->isVisible())
            return;
        m_seen << QString::fromLatin1(pModal->metaObject()->className());
        if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
            m_seen.last() += QStringLiteral(": ") + pBox->text();
            pBox->button(QMessageBox::Ok)->click();
        } else if (qobject_cast<CConnectDlg*>(pModal)) {
            AnswerConnect(pModal);
        } else {
            m_nTotalsAtMainWindow = g_bytesRead + g_bytesWritten;
            pModal->close();
        }
    }

    void AnswerConnect(QWidget* pDialog)
    {
        switch (m_choice) {
        case EChoice::Cancel:
            Find<QPushButton>(pDialog, 2)->click();
            break;
        case EChoice::StartServer:
            Find<QPushButton>(pDialog, 1006)->click();
            break;
        case EChoice::Client:
            Find<QLineEdit>(pDialog, 1014)->setText("127.0.0.1");
            Find<QLineEdit>(pDialog, 1016)->setText("guest");
            Find<QPushButton>(pDialog, 1)->click();
            break;
        }
    }

    EChoice m_choice;
    QTimer m_timer;
};

}  // namespace

class CChatAppTest : public QObject {
    Q_OBJECT
private slots:
    void CancelInTheConnectDialogEndsTheRun();
    void StartServerRunsTheServerWindowOnly();
    void OkRunsTheClientWindowOnly();
};

void CChatAppTest::CancelInTheConnectDialogEndsTheRun()
{
    CScriptedUser user(CScriptedUser::EChoice::Cancel);
    QVERIFY(!g_theApp.InitInstance());
    QCOMPARE(user.m_seen, QStringList{"CConnectDlg"});
    QCOMPARE(CEventLoop::Current(), nullptr);  // the run's loop is gone with it
}

void CChatAppTest::StartServerRunsTheServerWindowOnly()
{
    CPortLock lock;
    CScriptedUser user(CScriptedUser::EChoice::StartServer);
    QVERIFY(!g_theApp.InitInstance());
    QCOMPARE(user.m_seen, (QStringList{"CConnectDlg", "CServerDlg"}));
    QCOMPARE(user.m_nTotalsAtMainWindow, 0);
}

void CChatAppTest::OkRunsTheClientWindowOnly()
{
    CScriptedUser user(CScriptedUser::EChoice::Client);
    QVERIFY(!g_theApp.InitInstance());
    // The close box is Quit: it signs off (here: "Already disconnected!") and
    // the run ends without the Connect dialog coming back.
    QCOMPARE(user.m_seen, (QStringList{"CConnectDlg", "CClientDlg"}));
}

QTEST_MAIN(CChatAppTest)
#include "ChatAppTest.moc"
