// The client window: its commands without a server, the input box's byte
// limit, and whole sessions against a real server program running beside
// the test (the sign-on blocks this thread, so the server cannot run in it).

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

#include "ClientDlg.h"
#include "Loopback.h"
#include "ModalAnswerer.h"
#include "RawClient.h"
#include "Resources.h"
#include "ServerProcess.h"
#include "TestSupport.h"
#include "Traffic.h"
#include "Wire.h"
#include "WindowTest.h"

namespace {

// The client window with its request for attention counted, not made.
class CAttentionCountingDlg : public CClientDlg {
public:
    int m_nAsked = 0;

protected:
    void AskForAttention() override { ++m_nAsked; }
};

class CClientDlgTest : public ::testing::Test {
protected:
    CClientDlgTest()
    {
        m_dlg.SetServerAddress(LoopbackAddressOnly());
        m_dlg.SetUserName("guest");
    }

    QPlainTextEdit* Log() const { return m_dlg.ControlAs<QPlainTextEdit>(IDC_LOG); }
    QString Users() const { return m_dlg.ControlAs<QPlainTextEdit>(IDC_USERS)->toPlainText(); }
    QString Label(int id) const { return m_dlg.ControlAs<QLabel>(id)->text(); }
    QLineEdit* Input() const { return m_dlg.ControlAs<QLineEdit>(IDC_INPUT); }
    void Click(int id) { QTest::mouseClick(m_dlg.ControlAs<QPushButton>(id), Qt::LeftButton); }
    // Click into the input box, type the line and press Enter.
    void Type(const QString& line)
    {
        QTest::mouseClick(Input(), Qt::LeftButton);
        QTest::keyClicks(Input(), line);
        QTest::keyClick(Input(), Qt::Key_Return);
    }
    bool LogHas(const QString& line, int count = 1)
    {
        return WaitFor([&] { return LogLines(Log()).count(line) >= count; });
    }
    // Logon and wait until this client lists itself.
    bool Logon()
    {
        const int joins = LogLines(Log()).count("* guest has joined the chat!");
        Click(IDC_LOGON);
        return !LogHas("* guest has joined the chat!", joins + 1) ||
               !WaitFor([&] { return Label(IDC_TOTAL_CLIENTS) == "Total Clients: 1"; });
    }

    // Start the server with its log read through a pipe.
    bool StartServer() { return m_server.StartListening(CServerProcess::EOutput::Capture); }
    // Wait until the server has logged line, as it writes it.
    bool ServerLogged(const std::string& line)
    {
        return WaitFor([&] {
            const std::vector<std::string> lines = m_server.Lines();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        });
    }

    CPortLock m_portLock;
    CServerProcess m_server;
    CAttentionCountingDlg m_dlg;
};

TEST_F(CClientDlgTest, OpensReadyToTypeWithEveryButtonEnabled)
{
    RunModal(m_dlg, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
        EXPECT_EQ(QApplication::focusWidget(), Input());
        EXPECT_EQ(Log()->toPlainText(), "");
        EXPECT_EQ(Label(IDC_TOTAL_CLIENTS), "");
        for (int id : {IDC_LOGON, IDC_DISCONNECT, IDC_QUIT, IDC_SEND})
            EXPECT_TRUE(m_dlg.ControlAs<QPushButton>(id)->isEnabled()) << id;
        EXPECT_TRUE(m_dlg.ControlAs<QPushButton>(IDC_SEND)->isDefault());
    });
}

TEST_F(CClientDlgTest, CommandsWhileNotConnectedOnlyLog)
{
    RunModal(m_dlg, [&] {
        Type("hello");
        EXPECT_EQ(Input()->text(), "");
        Type("");
        Click(IDC_DISCONNECT);
        Click(IDC_DISCONNECT);
        // Enter on a focused push button presses that button, not Send.
        m_dlg.ControlAs<QPushButton>(IDC_DISCONNECT)->setFocus();
        QTest::keyClick(m_dlg.ControlAs<QPushButton>(IDC_DISCONNECT), Qt::Key_Return);
        EXPECT_EQ(LogLines(Log()), (QStringList{"You are not connected to the server!",
                                                "Already disconnected!", "Disconnected from server",
                                                "Already disconnected!", "Disconnected from server",
                                                "Already disconnected!", "Disconnected from server"}));
        EXPECT_TRUE(m_dlg.isVisible());
    });
}

// How the cut is made is the validator's own test; here, the limit it gets.
TEST_F(CClientDlgTest, InputTakesAtMost506BytesLessTheName)
{
    // "guest" leaves 501 bytes; a paste is cut to fit, and a key then adds nothing.
    Input()->insert(QString(600, 'a'));
    EXPECT_EQ(Input()->text(), QString(501, 'a'));
    QTest::keyClicks(Input(), "b");
    EXPECT_EQ(Input()->text(), QString(501, 'a'));

    // A new name changes the limit: 3 bytes for 503, and however long the
    // name, one byte is left.
    m_dlg.SetUserName(std::string(503, 'n'));
    Input()->clear();
    Input()->insert("abcd");
    EXPECT_EQ(Input()->text(), "abc");
    m_dlg.SetUserName(std::string(600, 'n'));
    Input()->clear();
    Input()->insert("ab");
    EXPECT_EQ(Input()->text(), "a");
}

TEST_F(CClientDlgTest, SessionLogsTheSignOnChatsAndSignsOnAgain)
{
    ASSERT_FALSE(StartServer());
    const int result = RunModal(m_dlg, [&] {
        ASSERT_FALSE(Logon());
        const QStringList lines = LogLines(Log());
        const int ping = lines[7].section(' ', 3, 3).toInt();
        EXPECT_EQ(lines.mid(0, 11),
                  (QStringList{"Connecting to server at: 127.0.0.1", "Connected.  Checking Version",
                               "Checking version", "Version 2 verified.", "Receiving Room Information...",
                               "Responding to server's ping", "",
                               QString("Server reports a %1 ms ping time").arg(ping),
                               "Moving to UDP broadcast port", "Sending contact information",
                               "* guest has joined the chat!"}));
        EXPECT_EQ(Users(), QString("guest (%1)\n").arg(ping));

        // Logon while connected: the count shows the room again, not "?".
        Click(IDC_LOGON);
        ASSERT_TRUE(LogHas("Already connected!"));
        EXPECT_TRUE(WaitFor([&] { return Label(IDC_TOTAL_CLIENTS) == "Total Clients: 1"; }));

        // Enter sends and empties the box; an empty line sends nothing, so
        // the next relay follows the first directly.
        Type("hello");
        EXPECT_EQ(Input()->text(), "");
        ASSERT_TRUE(LogHas("<guest> hello"));
        Type("");
        Type("again");
        ASSERT_TRUE(LogHas("<guest> again"));
        EXPECT_EQ(LogLines(Log()).mid(LogLines(Log()).indexOf("<guest> hello")),
                  (QStringList{"<guest> hello", "<guest> again"}));

        Click(IDC_DISCONNECT);
        EXPECT_EQ(LogLines(Log()).last(), "Disconnected from server");
        EXPECT_EQ(Users(), "");
        EXPECT_EQ(Label(IDC_TOTAL_CLIENTS), "");
        ASSERT_TRUE(ServerLogged("\\x03guest"));
        Click(IDC_DISCONNECT);
        EXPECT_EQ(LogLines(Log()).mid(LogLines(Log()).size() - 2),
                  (QStringList{"Already disconnected!", "Disconnected from server"}));

        // The totals carry on across the new sign-on.
        WaitFor([] { return false; }, std::chrono::milliseconds(20));
        const QString readBefore = Label(IDC_BYTES_READ);
        const std::int64_t read = g_bytesRead;
        ASSERT_FALSE(Logon());
        WaitFor([] { return false; }, std::chrono::milliseconds(20));
        EXPECT_EQ(readBefore, QString("Bytes Read: %1").arg(read));
        EXPECT_GT(g_bytesRead, read);
        EXPECT_EQ(Label(IDC_BYTES_READ), QString("Bytes Read: %1").arg(g_bytesRead));
        EXPECT_EQ(Label(IDC_BYTES_WRITTEN), QString("Bytes Written: %1").arg(g_bytesWritten));
    });
    EXPECT_EQ(result, QDialog::Rejected);
    const std::vector<std::string> logged = m_server.Lines();
    EXPECT_EQ(std::count(logged.begin(), logged.end(), "\\x02<guest> hello"), 1);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), "\\x02<guest> again"), 1);
}

TEST_F(CClientDlgTest, AsksForAttentionForLinesFromTheRoomOnlyInTheBackground)
{
    ASSERT_FALSE(StartServer());
    CRawClient other;
    RunModal(m_dlg, [&] {
        ASSERT_FALSE(Logon());
        // In front, nothing asks: not a member's join, nor a member's line.
        QApplication::setActiveWindow(&m_dlg);
        ASSERT_TRUE(WaitFor([&] { return m_dlg.isActiveWindow(); }));
        m_dlg.m_nAsked = 0;  // this user's join line came while it signed on
        ASSERT_FALSE(other.SignOn("other"));
        ASSERT_TRUE(LogHas("* other has joined the chat!"));
        ASSERT_FALSE(other.Send(FormatChat("in front")));
        ASSERT_TRUE(LogHas("<other> in front"));
        EXPECT_EQ(m_dlg.m_nAsked, 0);

        // Behind another program's window: the user's own line asks
        // nothing, the member's next line does.
        QApplication::setActiveWindow(nullptr);
        ASSERT_TRUE(WaitFor([&] { return !m_dlg.isActiveWindow(); }));
        Input()->setText("mine");
        m_dlg.ControlAs<QPushButton>(IDC_SEND)->click();
        ASSERT_TRUE(LogHas("<guest> mine"));
        EXPECT_EQ(m_dlg.m_nAsked, 0);
        ASSERT_FALSE(other.Send(FormatChat("behind")));
        ASSERT_TRUE(LogHas("<other> behind"));
        EXPECT_EQ(m_dlg.m_nAsked, 1);
    });
}

// Quit, the close box and the window menu's Close sign off before ending.
enum class EQuit { Button, CloseBox, MenuClose };

std::string TriggerName(const ::testing::TestParamInfo<EQuit>& info)
{
    static const char* const names[] = {"Button", "CloseBox", "MenuClose"};
    return names[static_cast<int>(info.param)];
}

class CClientQuitTest : public CClientDlgTest, public ::testing::WithParamInterface<EQuit> {};

TEST_P(CClientQuitTest, SignsOffThenEnds)
{
    ASSERT_FALSE(StartServer());
    const int result = RunModal(m_dlg, [&] {
        ASSERT_FALSE(Logon());
        switch (GetParam()) {
        case EQuit::Button:
            Click(IDC_QUIT);
            break;
        case EQuit::CloseBox:
            m_dlg.close();
            break;
        case EQuit::MenuClose:
            m_dlg.OnSysCommand(SC_CLOSE);
            break;
        }
        EXPECT_FALSE(m_dlg.isVisible());
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(LogLines(Log()).last(), "Disconnected from server");
    EXPECT_TRUE(ServerLogged("\\x03guest"));
}

INSTANTIATE_TEST_SUITE_P(EveryTrigger, CClientQuitTest,
                         ::testing::Values(EQuit::Button, EQuit::CloseBox, EQuit::MenuClose),
                         TriggerName);

TEST_F(CClientDlgTest, EscapeEndsWithoutSigningOff)
{
    ASSERT_FALSE(StartServer());
    const int result = RunModal(m_dlg, [&] {
        ASSERT_FALSE(Logon());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
        QTest::keyClick(Input(), Qt::Key_Escape);
        EXPECT_FALSE(m_dlg.isVisible());
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(LogLines(Log()).last(), "* guest has joined the chat!");
    // The server still has guest in its room.
    CRawClient other;
    ASSERT_FALSE(other.SignOn("other"));
    ASSERT_EQ(other.m_room.size(), 1u);
    EXPECT_EQ(other.m_room[0].first, "guest");
}

TEST_F(CClientDlgTest, ServerShutdownLeavesTheWindowOpenForANewLogon)
{
    ASSERT_FALSE(StartServer());
    RunModal(m_dlg, [&] {
        ASSERT_FALSE(Logon());
        m_server.Stop();
        ASSERT_TRUE(LogHas("Disconnected."));
        EXPECT_EQ(LogLines(Log()).mid(LogLines(Log()).size() - 2),
                  (QStringList{"The server was terminated.", "Disconnected."}));
        EXPECT_TRUE(m_dlg.isVisible());
        EXPECT_EQ(Users(), "");
        EXPECT_EQ(Label(IDC_TOTAL_CLIENTS), "");

        ASSERT_FALSE(StartServer());
        ASSERT_FALSE(Logon());
        EXPECT_EQ(Users().count('\n'), 1);
    });
}

TEST_F(CClientDlgTest, LogonWithNoServerSaysSoAndEnds)
{
    ASSERT_FALSE(IsListening(2050));
    CModalAnswerer answerer(&m_dlg);
    const int result = RunModal(m_dlg, [&] { Click(IDC_LOGON); });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(answerer.Texts(),
              QStringList{"Error in socket connect -- Possibly the server is down or not at this address."});
    EXPECT_EQ(LogLines(Log()), QStringList{"Connecting to server at: 127.0.0.1"});
    EXPECT_EQ(Label(IDC_TOTAL_CLIENTS), "Total Clients: ?");
}

TEST_F(CClientDlgTest, WindowMenuAboutCommandOpensTheAboutBox)
{
    CModalAnswerer answerer(&m_dlg);
    RunModal(m_dlg, [&] {
        m_dlg.OnSysCommand(IDM_ABOUTBOX);
        ASSERT_EQ(answerer.m_answered.size(), 1u);
        EXPECT_EQ(answerer.m_answered[0].className, "CAboutDlg");
        EXPECT_EQ(answerer.m_answered[0].caption, "About ZEPHRAN");
        EXPECT_TRUE(m_dlg.isVisible());
    });
}

}  // namespace
