// The server window driven by raw-socket clients: what its log, users box and
// labels show through a session, the ways it shuts down, a start that fails,
// and the About box not stopping the server.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <string>
#include <thread>

#include "AboutDlg.h"
#include "Loopback.h"
#include "LoopbackStream.h"
#include "ModalAnswerer.h"
#include "PortHolder.h"
#include "Protocol.h"
#include "RawClient.h"
#include "Resources.h"
#include "ServerDlg.h"
#include "TestSupport.h"
#include "Traffic.h"
#include "WindowTest.h"

using namespace std::string_literals;

namespace {

class CServerDlgTest : public ::testing::Test {
protected:
    QPlainTextEdit* Log() const { return m_dlg.ControlAs<QPlainTextEdit>(IDC_LOG); }
    QString Users() const { return m_dlg.ControlAs<QPlainTextEdit>(IDC_USERS)->toPlainText(); }
    QString Label(int id) const { return m_dlg.ControlAs<QLabel>(id)->text(); }

    // Sign a raw client on while this thread keeps the window's loop going.
    bool SignOn(CRawClient& client, const std::string& name)
    {
        std::atomic<int> result{-1};
        std::thread signer([&] { result = client.SignOn(name) ? 1 : 0; });
        WaitFor([&] { return result != -1; });
        signer.join();
        return result != 0;
    }

    // Wait until the log's last line is text.
    bool LogEndsWith(const QString& text)
    {
        return WaitFor([&] {
            const QStringList lines = LogLines(Log());
            return !lines.isEmpty() && lines.last() == text;
        });
    }

    CPortLock m_portLock;
    CServerDlg m_dlg;
};

TEST_F(CServerDlgTest, GuestSessionIsLoggedAndListedFromJoinToLeave)
{
    CRawClient guest;
    const int result = RunModal(m_dlg, [&] {
        EXPECT_EQ(Users(), "");
        EXPECT_EQ(Label(IDC_TOTAL_CLIENTS), "Total Clients: 0");
        EXPECT_FALSE(m_dlg.ControlAs<QPushButton>(IDC_BOOT_USER)->isEnabled());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
        EXPECT_EQ(QApplication::focusWidget(), m_dlg.Control(IDC_SHUTDOWN_SERVER));

        ASSERT_FALSE(SignOn(guest, "guest"));
        EXPECT_TRUE(guest.m_room.empty());
        const std::string ping = std::to_string(guest.m_ping);
        ASSERT_TRUE(LogEndsWith(Shown("\x02* guest has joined the chat!")));
        ASSERT_TRUE(WaitFor([&] { return Label(IDC_TOTAL_CLIENTS) == "Total Clients: 1"; }));
        EXPECT_EQ(Users(), QString("guest (%1)\n @127.0.0.1:%2\n").arg(guest.m_ping).arg(guest.m_udpPort));

        ASSERT_FALSE(guest.Send("\x02hi"));
        ASSERT_TRUE(LogEndsWith(Shown("\x02<guest> hi")));
        ASSERT_FALSE(guest.Send("\x03"));
        ASSERT_TRUE(LogEndsWith(Shown("\x02* guest has left the chat!")));
        ASSERT_TRUE(WaitFor([&] { return Label(IDC_TOTAL_CLIENTS) == "Total Clients: 0"; }));
        EXPECT_EQ(Users(), "");

        const QStringList expected{
            "New Connection Accepted from: 127.0.0.1",
            "Receiving Client Information...",
            "Checking version",
            "  Version 2 Passed...",
            "Welcome guest",
            "Sending client room information",
            QString::fromStdString("client got ping time of " + ping + " ms"),
            "Moving client to UDP port",
            Shown("\x01 " + ping + " guest"),
            Shown("\x02* guest has joined the chat!"),
            Shown("\x02<guest> hi"),
            Shown("\x03guest"),
            Shown("\x02* guest has left the chat!"),
        };
        EXPECT_EQ(LogLines(Log()), expected);

        // The labels show the process totals as they stand after the pass.
        WaitFor([] { return false; }, std::chrono::milliseconds(20));
        EXPECT_EQ(Label(IDC_BYTES_READ), QString("Bytes Read: %1").arg(g_bytesRead));
        EXPECT_EQ(Label(IDC_BYTES_WRITTEN), QString("Bytes Written: %1").arg(g_bytesWritten));
        EXPECT_GT(g_bytesRead, 0);
        m_dlg.ControlAs<QPushButton>(IDC_SHUTDOWN_SERVER)->click();
    });
    EXPECT_EQ(result, QDialog::Rejected);
}

TEST_F(CServerDlgTest, NewestUserIsListedFirstWhileASilentConnectionWaitsAside)
{
    CRawClient ann, bob;
    RunModal(m_dlg, [&] {
        // A connection that never says a word waits for its hello aside:
        // the sign-ons after it go ahead as in zephran-server.
        CLoopbackStream silent(SIGNON_PORT);
        ASSERT_TRUE(silent.IsOpen());
        ASSERT_TRUE(LogEndsWith("Receiving Client Information..."));
        ASSERT_FALSE(SignOn(ann, "ann"));
        ASSERT_FALSE(SignOn(bob, "bob"));
        ASSERT_TRUE(WaitFor([&] { return Label(IDC_TOTAL_CLIENTS) == "Total Clients: 2"; }));
        EXPECT_EQ(Users(), QString("bob (%1)\n @127.0.0.1:%2\nann (%3)\n @127.0.0.1:%4\n")
                               .arg(bob.m_ping)
                               .arg(bob.m_udpPort)
                               .arg(ann.m_ping)
                               .arg(ann.m_udpPort));
        ASSERT_EQ(bob.m_room.size(), 1u);
        EXPECT_EQ(bob.m_room[0].first, "ann");
    });
}

// Every way of closing the window tells every user before it ends.
enum class EClose { Button, Escape, CloseBox, MenuClose };

std::string TriggerName(const ::testing::TestParamInfo<EClose>& info)
{
    static const char* const names[] = {"Button", "Escape", "CloseBox", "MenuClose"};
    return names[static_cast<int>(info.param)];
}

class CServerShutdownTest : public CServerDlgTest, public ::testing::WithParamInterface<EClose> {};

TEST_P(CServerShutdownTest, SendsShutdownToEveryUserThenEnds)
{
    CRawClient ann, bob;
    const int result = RunModal(m_dlg, [&] {
        ASSERT_FALSE(SignOn(ann, "ann"));
        ASSERT_FALSE(SignOn(bob, "bob"));
        ASSERT_TRUE(LogEndsWith(Shown("\x02* bob has joined the chat!")));
        switch (GetParam()) {
        case EClose::Button:
            QTest::mouseClick(m_dlg.ControlAs<QPushButton>(IDC_SHUTDOWN_SERVER), Qt::LeftButton);
            break;
        case EClose::Escape:
            ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            break;
        case EClose::CloseBox:
            m_dlg.close();
            break;
        case EClose::MenuClose:
            m_dlg.OnSysCommand(SC_CLOSE);
            break;
        }
        EXPECT_FALSE(m_dlg.isVisible());
    });
    EXPECT_EQ(result, QDialog::Rejected);
    ann.Drain();
    bob.Drain();
    EXPECT_TRUE(ann.Received("\x04\0"s));
    EXPECT_TRUE(bob.Received("\x04\0"s));
    EXPECT_EQ(LogLines(Log()).last(), Shown("\x04"));
    // One shutdown, whatever the trigger.
    EXPECT_EQ(LogLines(Log()).count(Shown("\x04")), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryTrigger, CServerShutdownTest,
                         ::testing::Values(EClose::Button, EClose::Escape, EClose::CloseBox,
                                           EClose::MenuClose),
                         TriggerName);

TEST_F(CServerDlgTest, TakenPortShowsBothBoxesAndEndsWithoutShowing)
{
    const CPortHolder squatter(SOCK_STREAM, SIGNON_PORT);
    ASSERT_TRUE(squatter.Held());

    CModalAnswerer answerer(&m_dlg);
    bool shown = false;
    const int result = RunModal(m_dlg, [&] { shown = m_dlg.isVisible(); });

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(shown);
    EXPECT_EQ(answerer.Texts(), (QStringList{"TCP/IP create error", "Server init failure"}));
    for (const CAnsweredBox& box : answerer.m_answered) {
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        EXPECT_TRUE(box.buttons == QMessageBox::Ok);
        EXPECT_EQ(box.caption, QCoreApplication::applicationName());
    }
    // No shutdown: nothing was sent, so nothing was logged.
    EXPECT_EQ(Log()->toPlainText(), "");
}

TEST_F(CServerDlgTest, SignOnAndChatGoOnWhileTheAboutBoxIsOpen)
{
    CRawClient guest;
    RunModal(m_dlg, [&] {
        bool aboutWasOpen = false;
        QTimer::singleShot(0, &m_dlg, [&] {
            auto* pAbout = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            aboutWasOpen = pAbout != nullptr;
            EXPECT_FALSE(SignOn(guest, "guest"));
            EXPECT_FALSE(guest.Send("\x02hi"));
            EXPECT_TRUE(LogEndsWith(Shown("\x02<guest> hi")));
            EXPECT_TRUE(WaitFor([&] { return Label(IDC_TOTAL_CLIENTS) == "Total Clients: 1"; }));
            if (pAbout)
                pAbout->reject();
        });
        // The low four bits of the command are not looked at.
        m_dlg.OnSysCommand(0x001F);
        EXPECT_TRUE(aboutWasOpen);
        EXPECT_TRUE(m_dlg.isVisible());
    });
    guest.Drain();
    EXPECT_TRUE(guest.Received("\x02<guest> hi\0"s));
}

TEST_F(CServerDlgTest, TotalsAreShownInFullOncePerPass)
{
    const std::int64_t read = g_bytesRead, written = g_bytesWritten;
    g_bytesRead = 5'000'000'000;
    for (int i = 0; i < 1000; ++i) {
        ++g_bytesWritten;
        m_dlg.UpdateTraffic();
    }
    EXPECT_EQ(Label(IDC_BYTES_READ), "Bytes Read: 0");  // nothing drawn inside the pass
    QCoreApplication::processEvents();
    EXPECT_EQ(Label(IDC_BYTES_READ), "Bytes Read: 5000000000");
    EXPECT_EQ(Label(IDC_BYTES_WRITTEN), QString("Bytes Written: %1").arg(g_bytesWritten));
    g_bytesRead = read;
    g_bytesWritten = written;
}

}  // namespace
