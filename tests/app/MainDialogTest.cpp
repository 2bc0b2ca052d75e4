// The main-window base: the window menu and its system commands, the About
// box, the log box, the byte counters and the message box.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "AboutDlg.h"
#include "MainDialog.h"
#include "MessageBox.h"
#include "ModalAnswerer.h"
#include "Resources.h"
#include "Traffic.h"

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
    void TrafficCountersShowTheWideTotals();
    void MessageBoxIsAWarningWithOneOkOverTheWindow();
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

QTEST_MAIN(CMainDialogTest)
#include "MainDialogTest.moc"
