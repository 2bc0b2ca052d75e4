// The main-window base: the window menu and its system commands, the About
// box, the log box and how it draws what is queued, the byte counters, the
// message box, and the names every control of every window and dialog
// gives a screen reader.

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <chrono>
#include <thread>

#include "AboutDlg.h"
#include "ConnectDlg.h"
#include "MainDialog.h"
#include "MessageBox.h"
#include "ModalAnswerer.h"
#include "Resources.h"
#include "Traffic.h"
#include "WindowTest.h"

namespace {

// Shows dlg as the active window, as a person would see it.
bool ShowActive(QWidget& dlg)
{
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    return QTest::qWaitForWindowActive(&dlg);
}

// Whether the last line of the log is inside the visible part of the box.
bool LastLineInView(QPlainTextEdit& log)
{
    QTextCursor last(log.document()->lastBlock());
    return log.viewport()->rect().contains(log.cursorRect(last));
}

// A main window as the cores see one: what they report is queued and drawn
// once a frame, as both windows do.
class CQueuedWindow : public CMainDialog, public IClientView {
public:
    explicit CQueuedWindow(int templateId = IDD_SERVER_DIALOG) : CMainDialog(templateId) {}
    void AppendLog(const std::string& text) override { QueueLog(text); }
    void UpdateUserList(CUserList& roster) override { QueueUserList(roster); }
    void ClearUserList() override { ClearUsers(); }
    void UpdateTraffic() override { QueueTraffic(); }
    void ShowMessage(const std::string& text) override { ShowMessageBox(text); }
    void OnRoomLine() override {}
};

// The number at the end of a log line "line %i".
int LineNumber(const QString& line) { return line.section(QLatin1Char(' '), -1).toInt(); }

// Whether the log's last line is "line %i" of number.
bool EndsWithLine(const QPlainTextEdit* pLog, int number)
{
    const QStringList lines = LogLines(pLog);
    return !lines.isEmpty() && lines.last() == QString("line %1").arg(number);
}

}  // namespace

class CMainDialogTest : public QObject {
    Q_OBJECT
private slots:
    void WindowMenuHasMinimiseCloseAndAbout();
    void AboutEntryNeedsItsString();
    void AboutCommandIgnoresTheLowFourBits();
    void ChoosingAboutFromTheMenuOpensTheAboutBox();
    void MinimiseAndCloseDoWhatThePlatformDoes();
    void RightClickAndAltSpaceOpenTheWindowMenu();
    void AboutBoxEndsWithOkEscapeOrClose();
    void LogKeepsLineBreaksAndBytes();
    void LogAppendsAtTheEndWhateverIsSelected();
    void LogShowsTheNewestLineAndKeepsEveryLine();
    void LogKeepsItsBoundAndShowsTheNewestLines();
    void BusyLogIsDrawnAtMostOnceAFrameAndCompleteBeforeABox();
    void LineAfterAQuietSpellIsDrawnAtTheNextPass();
    void TrafficCountersShowTheWideTotals();
    void MessageBoxIsAWarningWithOneOkOverTheWindow();
    void EveryControlHasANameForAScreenReader();
};

void CMainDialogTest::WindowMenuHasMinimiseCloseAndAbout()
{
    for (int templateId : {IDD_SERVER_DIALOG, IDD_CLIENT_DIALOG}) {
        CMainDialog dlg(templateId);
        QVERIFY(dlg.WindowMenu());
        const QList<QAction*> actions = dlg.WindowMenu()->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->data().toUInt(), SC_MINIMIZE);
        QVERIFY(actions[0]->isEnabled());
        QCOMPARE(actions[1]->data().toUInt(), SC_CLOSE);
        QVERIFY(actions[2]->isSeparator());
        QCOMPARE(actions[3]->text(), QStringLiteral("&About ZEPHRAN..."));
        QCOMPARE(actions[3]->data().toUInt(), IDM_ABOUTBOX);
        QVERIFY(!dlg.windowIcon().isNull());
    }
}

void CMainDialogTest::AboutEntryNeedsItsString()
{
    QMenu menu;
    CMainDialog::AddAboutEntry(menu, "");
    CMainDialog::AddAboutEntry(menu, nullptr);
    QVERIFY(menu.actions().isEmpty());  // neither the separator nor the item
    CMainDialog::AddAboutEntry(menu, "&About");
    QCOMPARE(menu.actions().size(), 2);
    QVERIFY(menu.actions()[0]->isSeparator());
}

void CMainDialogTest::AboutCommandIgnoresTheLowFourBits()
{
    CModalAnswerer answerer;
    CMainDialog dlg(IDD_SERVER_DIALOG);
    dlg.show();
    for (unsigned id : {0x0010u, 0x0017u, 0x001Fu})
        dlg.OnSysCommand(id);
    dlg.OnSysCommand(0x0020);  // not the About entry: nothing opens
    dlg.OnSysCommand(0x0000);
    QCOMPARE(answerer.m_answered.size(), std::size_t(3));
    for (const CAnsweredBox& box : answerer.m_answered) {
        QCOMPARE(box.className, QStringLiteral("CAboutDlg"));
        QCOMPARE(box.caption, QStringLiteral("About ZEPHRAN"));
        QCOMPARE(box.pParent, &dlg);  // modal over its main window
    }
    QVERIFY(dlg.isVisible());
}

void CMainDialogTest::ChoosingAboutFromTheMenuOpensTheAboutBox()
{
    CModalAnswerer answerer;
    CMainDialog dlg(IDD_CLIENT_DIALOG);
    dlg.show();
    dlg.WindowMenu()->actions().last()->trigger();
    QCOMPARE(answerer.m_answered.size(), std::size_t(1));
    QCOMPARE(answerer.m_answered[0].className, QStringLiteral("CAboutDlg"));
}

void CMainDialogTest::MinimiseAndCloseDoWhatThePlatformDoes()
{
    CMainDialog dlg(IDD_SERVER_DIALOG);
    QVERIFY(ShowActive(dlg));
    dlg.OnSysCommand(SC_MINIMIZE);
    QVERIFY(dlg.isMinimized());
    dlg.showNormal();
    dlg.WindowMenu()->actions()[1]->trigger();  // Close, as the close box
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void CMainDialogTest::RightClickAndAltSpaceOpenTheWindowMenu()
{
    CMainDialog dlg(IDD_SERVER_DIALOG);
    QVERIFY(ShowActive(dlg));
    QMenu* pMenu = dlg.WindowMenu();

    // A right click on the window's background (a label lets it through).
    QWidget* pLabel = dlg.Control(IDC_TOTAL_CLIENTS);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(1, 1), pLabel->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(pLabel, &click);
    QVERIFY(pMenu->isVisible());
    pMenu->hide();

    QTest::keyClick(dlg.Control(IDC_SHUTDOWN_SERVER), Qt::Key_Space, Qt::AltModifier);
    QVERIFY(pMenu->isVisible());
    pMenu->hide();
    QVERIFY(dlg.isVisible());
}

void CMainDialogTest::AboutBoxEndsWithOkEscapeOrClose()
{
    CAboutDlg about;
    QVERIFY(ShowActive(about));
    QStringList texts;
    for (QLabel* pLabel : about.findChildren<QLabel*>())
        texts << pLabel->text();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[0], QStringLiteral("ZEPHRAN Version 1.0"));
    auto* pOk = about.findChild<QPushButton*>(QStringLiteral("control%1").arg(IDOK));
    QVERIFY(pOk && pOk->isDefault());
    QCOMPARE(QApplication::focusWidget(), pOk);

    QTest::keyClick(pOk, Qt::Key_Return);
    QCOMPARE(about.result(), int(QDialog::Accepted));
    QVERIFY(ShowActive(about));
    QTest::keyClick(pOk, Qt::Key_Escape);
    QVERIFY(!about.isVisible());
    QVERIFY(ShowActive(about));
    about.close();
    QVERIFY(!about.isVisible());
}

void CMainDialogTest::LogKeepsLineBreaksAndBytes()
{
    CMainDialog dlg(IDD_CLIENT_DIALOG);
    auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    dlg.AppendLogText("first");
    dlg.AppendLogText("\r\nServer reports a 0 ms ping time");
    dlg.AppendLogText("\x02<guest> caf\xc3\xa9");
    dlg.AppendLogText("");
    // Each call ends one line; a "\r\n" of its own ends another.
    QCOMPARE(pLog->toPlainText(), QStringLiteral("first\n\nServer reports a 0 ms ping time\n"
                                                 "\x02<guest> caf\u00e9\n\n"));
    QVERIFY(!pLog->document()->isUndoAvailable());

    // Nothing else ends a line, in the log or in the users box: a peer's
    // lone CR or LF, or a Unicode separator, shows as a symbol.
    pLog->clear();
    dlg.AppendLogText("<eve> cr\rlf\nls\xe2\x80\xa8ps\xe2\x80\xa9" "end\r");
    QCOMPARE(pLog->toPlainText(), QStringLiteral("<eve> cr\u240Dlf\u240Als\u2424ps\u2424end\u240D\n"));
    QCOMPARE(pLog->blockCount(), 2);
    QCOMPARE(CMainDialog::ToDisplay("a\nb (0)\r\n @c\r\n"), QStringLiteral("a\u240Ab (0)\n @c\n"));

    // Lines queued for one drawing share paragraphs, more than one here
    // (by count and by length), and still keep every line break their own.
    CQueuedWindow queued;
    QStringList expected;
    for (int i = 0; i < 70; ++i) {
        queued.AppendLog("line " + std::to_string(i));
        expected << QString("line %1").arg(i);
    }
    for (int i = 0; i < 12; ++i) {
        queued.AppendLog(std::string(600, 'w'));  // wraps in the box, still one line
        expected << QString(600, 'w');
    }
    queued.AppendLog("two\r\nlines");
    queued.AppendLog("");
    queued.AppendLog("cr\rand lf\nend");
    expected << "two" << "lines" << "" << QString::fromUtf8("cr\u240Dand lf\u240Aend");
    QCoreApplication::processEvents();  // a fresh window draws at the next pass
    auto* pQueuedLog = queued.ControlAs<QPlainTextEdit>(IDC_LOG);
    QCOMPARE(LogLines(pQueuedLog), expected);
    QCOMPARE(pQueuedLog->toPlainText().count('\n'), expected.size());
    QVERIFY(pQueuedLog->blockCount() > 4);
    QVERIFY(pQueuedLog->textCursor().atEnd());
}

void CMainDialogTest::LogAppendsAtTheEndWhateverIsSelected()
{
    CMainDialog dlg(IDD_SERVER_DIALOG);
    auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    dlg.AppendLogText("alpha");
    dlg.AppendLogText("beta");
    QTextCursor selection(pLog->document());
    selection.setPosition(1);
    selection.setPosition(3, QTextCursor::KeepAnchor);
    pLog->setTextCursor(selection);

    dlg.AppendLogText("gamma");
    QCOMPARE(pLog->toPlainText(), QStringLiteral("alpha\nbeta\ngamma\n"));
    QVERIFY(!pLog->textCursor().hasSelection());
    QVERIFY(pLog->textCursor().atEnd());
}

void CMainDialogTest::LogShowsTheNewestLineAndKeepsEveryLine()
{
    CMainDialog dlg(IDD_SERVER_DIALOG);
    QVERIFY(ShowActive(dlg));
    auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    for (int i = 0; i < 500; ++i) {
        dlg.AppendLogText("line " + std::to_string(i));
        if (i % 97 == 0) {
            QApplication::processEvents();
            QVERIFY2(LastLineInView(*pLog), qPrintable(QString::number(i)));
        }
    }
    QApplication::processEvents();
    QVERIFY(pLog->verticalScrollBar()->value() > 400);  // scrolled, not merely laid out
    QVERIFY(LastLineInView(*pLog));
    QCOMPARE(pLog->blockCount(), 501);
    QCOMPARE(pLog->document()->firstBlock().text(), QStringLiteral("line 0"));

    // A line longer than the box wraps and still ends in view.
    dlg.AppendLogText(std::string(2000, 'w') + " end");
    QApplication::processEvents();
    QVERIFY(LastLineInView(*pLog));
}

void CMainDialogTest::LogKeepsItsBoundAndShowsTheNewestLines()
{
    CQueuedWindow dlg;
    QVERIFY(ShowActive(dlg));
    auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    // Drawn in frames of every size, and one line at a time.
    int next = 0;
    for (const int batch : {1, 5000, 33, 7000, 1, 2965}) {
        for (int i = 0; i < batch; ++i)
            dlg.AppendLog("line " + std::to_string(next++));
        QVERIFY(WaitFor([&] { return EndsWithLine(pLog, next - 1); }));
    }
    for (int i = 0; i < 5000; ++i)
        dlg.AppendLogText("line " + std::to_string(next++));
    QCOMPARE(next, 20'000);

    // The newest 10,000 lines at least, the oldest gone in whole paragraphs
    // (of at most 32 lines), in order and in view.
    QStringList lines = LogLines(pLog);
    QVERIFY2(lines.size() >= CMainDialog::kKeptLines && lines.size() < CMainDialog::kKeptLines + 32,
             qPrintable(QString::number(lines.size())));
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(LineNumber(lines[i]), next - static_cast<int>(lines.size()) + i);
    QVERIFY(LastLineInView(*pLog));

    // Lines queued faster than they are drawn are bounded alike: the oldest
    // never show, and the log ends with the newest.
    for (int i = 0; i < 25'000; ++i)
        dlg.AppendLog("line " + std::to_string(next++));
    QVERIFY(WaitFor([&] { return EndsWithLine(pLog, next - 1); }));
    lines = LogLines(pLog);
    QVERIFY2(lines.size() >= CMainDialog::kKeptLines && lines.size() < CMainDialog::kKeptLines + 32,
             qPrintable(QString::number(lines.size())));
    QCOMPARE(LineNumber(lines.first()), next - static_cast<int>(lines.size()));
    QVERIFY(LastLineInView(*pLog));
}

void CMainDialogTest::BusyLogIsDrawnAtMostOnceAFrameAndCompleteBeforeABox()
{
    CQueuedWindow dlg;
    dlg.show();
    auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    CBusyLog run = FeedBusyLog(dlg, pLog, "\x02", 2000);
    // Drawings are a frame (33 ms) apart, the first one aside.
    QVERIFY2(run.drawings <= 2 + run.elapsedMs / 33, qPrintable(QString::number(run.elapsedMs)));
    QVERIFY(WaitFor([&] { return LogLines(pLog).size() == run.expected.size(); }));
    QCOMPARE(LogLines(pLog), run.expected);
    QCOMPARE(dlg.ControlAs<QLabel>(IDC_BYTES_WRITTEN)->text(), QString("Bytes Written: %1").arg(g_bytesWritten));
    QVERIFY(pLog->textCursor().atEnd());

    // A message box shows with every line before it already in the log.
    dlg.AppendLog("the last line");
    run.expected << "the last line";
    QStringList shownWithTheBox;
    QTimer::singleShot(0, &dlg, [&] { shownWithTheBox = LogLines(pLog); });
    CModalAnswerer answerer(&dlg);
    dlg.ShowMessage("why");
    QCOMPARE(shownWithTheBox, run.expected);
    QCOMPARE(answerer.Texts(), QStringList{"why"});
}

void CMainDialogTest::LineAfterAQuietSpellIsDrawnAtTheNextPass()
{
    CQueuedWindow dlg;
    auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    dlg.AppendLog("first");
    QCoreApplication::processEvents();
    QCOMPARE(LogLines(pLog), QStringList{"first"});
    // A frame later, the next line again needs only one pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    dlg.AppendLog("second");
    QCOMPARE(LogLines(pLog), QStringList{"first"});  // not inside the pass that logged it
    QCoreApplication::processEvents();
    QCOMPARE(LogLines(pLog), (QStringList{"first", "second"}));
}

void CMainDialogTest::TrafficCountersShowTheWideTotals()
{
    CMainDialog dlg(IDD_CLIENT_DIALOG);
    const std::int64_t savedRead = g_bytesRead;
    const std::int64_t savedWritten = g_bytesWritten;
    g_bytesRead = 5'000'000'000;  // past what 32 bits could show
    g_bytesWritten = 12;
    dlg.DrawTraffic();
    g_bytesRead = savedRead;
    g_bytesWritten = savedWritten;
    QCOMPARE(dlg.ControlAs<QLabel>(IDC_BYTES_READ)->text(), QStringLiteral("Bytes Read: 5000000000"));
    QCOMPARE(dlg.ControlAs<QLabel>(IDC_BYTES_WRITTEN)->text(), QStringLiteral("Bytes Written: 12"));
}

void CMainDialogTest::MessageBoxIsAWarningWithOneOkOverTheWindow()
{
    CModalAnswerer answerer;
    CMainDialog dlg(IDD_SERVER_DIALOG);
    dlg.show();
    dlg.ShowMessageBox("TCP/IP create error");
    dlg.ShowMessageBox("<b>not markup</b>");
    QCOMPARE(answerer.m_answered.size(), std::size_t(2));
    const CAnsweredBox& box = answerer.m_answered[0];
    QCOMPARE(box.text, QStringLiteral("TCP/IP create error"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.caption, QStringLiteral("MainDialogTest"));
    QCOMPARE(box.pParent, &dlg);
    QCOMPARE(answerer.m_answered[1].text, QStringLiteral("<b>not markup</b>"));
    QCOMPARE(answerer.m_answered[1].format, Qt::PlainText);
}

void CMainDialogTest::EveryControlHasANameForAScreenReader()
{
    CMainDialog server(IDD_SERVER_DIALOG);
    CMainDialog client(IDD_CLIENT_DIALOG);
    CConnectDlg connect;
    CAboutDlg about;
    for (QDialog* pDlg : std::initializer_list<QDialog*>{&server, &client, &connect, &about}) {
        pDlg->show();
        // The controls: what the template put on the dialog (the window menu
        // is not on it).
        const QList<QWidget*> controls = pDlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        int checked = 0;
        for (QWidget* pControl : controls) {
            if (!pControl->isVisibleTo(pDlg))
                continue;
            ++checked;
            QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pControl);
            QVERIFY(pAccessible);
            QVERIFY2(!pAccessible->text(QAccessible::Name).isEmpty(),
                     qPrintable(pDlg->windowTitle() + ": " + pControl->metaObject()->className() + " " +
                                pControl->objectName()));
        }
        QVERIFY(checked >= 3);
    }
    // The Connect dialog's boxes are named by their labels; the client's
    // empty count by its caption.
    auto name = [](QWidget* pControl) { return QAccessible::queryAccessibleInterface(pControl)->text(QAccessible::Name); };
    QCOMPARE(name(connect.findChild<QWidget*>(QStringLiteral("control%1").arg(IDC_SERVER_ADDRESS))),
             QStringLiteral("Enter the server's IP address below:"));
    QCOMPARE(name(connect.findChild<QWidget*>(QStringLiteral("control%1").arg(IDC_USER_NAME))),
             QStringLiteral("And your name:"));
    QCOMPARE(name(client.Control(IDC_TOTAL_CLIENTS)), QStringLiteral("Total Clients"));
    QCOMPARE(name(client.Control(IDC_INPUT)), QStringLiteral("Message to send"));
}

QTEST_MAIN(CMainDialogTest)
#include "MainDialogTest.moc"
