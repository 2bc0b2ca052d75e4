// The server window under a busy room: however fast the core reports lines
// and totals, the window draws them at most once a frame, and loses none.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>

#include <chrono>
#include <string>
#include <thread>

#include "Resources.h"
#include "ServerDlg.h"
#include "Traffic.h"
#include "WindowTest.h"

namespace {

class CServerDrawTest : public ::testing::Test {
protected:
    QPlainTextEdit* Log() const { return m_dlg.ControlAs<QPlainTextEdit>(IDC_LOG); }

    CServerDlg m_dlg;  // never started: the drawing needs no core
};

}  // namespace

TEST_F(CServerDrawTest, BusyLogIsDrawnAtMostOnceAFrameWithEveryLineInOrder)
{
    m_dlg.show();
    const CBusyLog run = FeedBusyLog(m_dlg, Log(), "\x02", 2000);
    // Drawings are a frame (33 ms) apart, the first one aside.
    EXPECT_LE(run.drawings, 2 + run.elapsedMs / 33) << "in " << run.elapsedMs << " ms";

    ASSERT_TRUE(WaitFor([&] { return LogLines(Log()).size() == run.expected.size(); }));
    EXPECT_EQ(LogLines(Log()), run.expected);
    EXPECT_EQ(m_dlg.ControlAs<QLabel>(IDC_BYTES_WRITTEN)->text(),
              QString("Bytes Written: %1").arg(g_bytesWritten));
    EXPECT_TRUE(Log()->textCursor().atEnd());
}

TEST_F(CServerDrawTest, QueuedLinesKeepEveryLineBreakOfTheirOwn)
{
    // Enough lines in one drawing to fill more than one paragraph of the log.
    QStringList expected;
    for (int i = 0; i < 70; ++i) {
        m_dlg.AppendLog("line " + std::to_string(i), ELogLevel::Info);
        expected << QString("line %1").arg(i);
    }
    m_dlg.AppendLog("two\r\nlines", ELogLevel::Info);
    m_dlg.AppendLog("", ELogLevel::Info);
    m_dlg.AppendLog("cr\rand lf\nend", ELogLevel::Info);
    m_dlg.AppendLog(std::string(600, 'w'), ELogLevel::Info);  // wraps in the box, still one line
    // Only "\r\n" ends a line: a lone CR or LF is drawn as its symbol.
    expected << "two" << "lines" << "" << QString::fromUtf8("cr\u240Dand lf\u240Aend") << QString(600, 'w');
    QCoreApplication::processEvents();  // a fresh window draws at the next pass
    EXPECT_EQ(LogLines(Log()), expected);
    EXPECT_EQ(Log()->toPlainText().count('\n'), expected.size());
    EXPECT_TRUE(Log()->textCursor().atEnd());
}

TEST_F(CServerDrawTest, LineAfterAQuietSpellIsDrawnAtTheNextPass)
{
    m_dlg.AppendLog("first", ELogLevel::Info);
    QCoreApplication::processEvents();
    EXPECT_EQ(LogLines(Log()), QStringList{"first"});
    // A frame later, the next line again needs only one pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    m_dlg.AppendLog("second", ELogLevel::Info);
    EXPECT_EQ(LogLines(Log()), QStringList{"first"});  // not inside the pass that logged it
    QCoreApplication::processEvents();
    EXPECT_EQ(LogLines(Log()), (QStringList{"first", "second"}));
}
