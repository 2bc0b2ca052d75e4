// The Connect dialog: what its validation pass accepts and refuses, what it
// gives back, and how it ends.

#include <arpa/inet.h>

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cstring>

#include "ConnectDlg.h"
#include "MessageBox.h"
#include "ModalAnswerer.h"
#include "Resources.h"

namespace {

const QString kAddressMessage = QStringLiteral("Please enter a valid dotted internet address x.x.x.x");
const QString kNameMessage = QStringLiteral("Please enter a valid name");

QLineEdit* Box(CConnectDlg& dlg, int id)
{
    return dlg.findChild<QLineEdit*>(QStringLiteral("control%1").arg(id));
}

QPushButton* Button(CConnectDlg& dlg, const QString& text)
{
    for (QPushButton* pButton : dlg.findChildren<QPushButton*>())
        if (pButton->text() == text)
            return pButton;
    return nullptr;
}

}  // namespace

class CConnectDlgTest : public QObject {
    Q_OBJECT
private slots:
    void ValidationPass_data();
    void ValidationPass();
    void AcceptedAddressIsInNetworkOrderInMemory();
    void RejectedPassStillStoresTheParsedAddress();
    void MessageBoxIsAWarningWithOneOkOverTheDialog();
    void EnterInEitherBoxRunsTheValidationPass();
    void NameBoxTakesAtMost486Bytes();
    void StartServerEndsWithOkWithoutReadingTheBoxes();
    void CancelEscapeAndCloseEndWithCancel();
    void AddressBoxHasTheFocusAtStart();
};

void CConnectDlgTest::ValidationPass_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");  // empty: the dialog ends with OK

    QTest::newRow("dotted quad") << "10.1.2.3" << "guest" << QString();
    QTest::newRow("short form 10.258") << "10.258" << "guest" << QString();
    QTest::newRow("hex and octal parts") << "0x7f.01" << "guest" << QString();
    QTest::newRow("one space is a name") << "10.1.2.3" << " " << QString();
    QTest::newRow("all ones") << "255.255.255.255" << "guest" << kAddressMessage;
    QTest::newRow("zero address") << "0.0.0.0" << "guest" << kAddressMessage;
    QTest::newRow("empty address") << "" << "guest" << kAddressMessage;
    QTest::newRow("host name") << "server" << "guest" << kAddressMessage;
    QTest::newRow("part too large") << "10.1.2.300" << "guest" << kAddressMessage;
    QTest::newRow("both empty: address first") << "" << "" << kAddressMessage;
    QTest::newRow("empty name") << "10.1.2.3" << "" << kNameMessage;
}

void CConnectDlgTest::ValidationPass()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QFETCH(QString, message);

    CModalAnswerer answerer;
    CConnectDlg dlg;
    dlg.show();
    Box(dlg, IDC_SERVER_ADDRESS)->setText(address);
    Box(dlg, IDC_USER_NAME)->setText(name);
    Button(dlg, "&OK")->click();

    if (message.isEmpty()) {
        QVERIFY(answerer.m_answered.empty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(QString::fromStdString(dlg.m_name), name);
        QVERIFY(!dlg.m_startServer);
        QCOMPARE(dlg.m_serverAddr, ::inet_addr(address.toLatin1().constData()));
    } else {
        QCOMPARE(answerer.Texts(), QStringList{message});
        QVERIFY(dlg.isVisible());
        // The boxes keep what was typed.
        QCOMPARE(Box(dlg, IDC_SERVER_ADDRESS)->text(), address);
        QCOMPARE(Box(dlg, IDC_USER_NAME)->text(), name);
        if (message == kAddressMessage)
            QVERIFY(dlg.m_name.empty());  // the name box is not read
    }
}

void CConnectDlgTest::AcceptedAddressIsInNetworkOrderInMemory()
{
    CModalAnswerer answerer;
    CConnectDlg dlg;
    Box(dlg, IDC_SERVER_ADDRESS)->setText("10.1.2.3");
    Box(dlg, IDC_USER_NAME)->setText("guest");
    dlg.OnOK();

    unsigned char bytes[4];
    std::memcpy(bytes, &dlg.m_serverAddr, sizeof bytes);
    QCOMPARE(int(bytes[0]), 10);
    QCOMPARE(int(bytes[1]), 1);
    QCOMPARE(int(bytes[2]), 2);
    QCOMPARE(int(bytes[3]), 3);
    QCOMPARE(dlg.m_name, std::string("guest"));

    Box(dlg, IDC_SERVER_ADDRESS)->setText("10.258");
    dlg.OnOK();
    QCOMPARE(dlg.m_serverAddr, htonl(0x0A000102));  // 10.0.1.2
}

void CConnectDlgTest::RejectedPassStillStoresTheParsedAddress()
{
    CModalAnswerer answerer;
    CConnectDlg dlg;
    Box(dlg, IDC_SERVER_ADDRESS)->setText("10.1.2.3");
    dlg.OnOK();  // refused for the name, but the address is kept
    QCOMPARE(dlg.m_serverAddr, ::inet_addr("10.1.2.3"));

    Box(dlg, IDC_SERVER_ADDRESS)->setText("nonsense");
    dlg.OnOK();
    QCOMPARE(dlg.m_serverAddr, INADDR_NONE);
    QCOMPARE(answerer.Texts(), (QStringList{kNameMessage, kAddressMessage}));
}

void CConnectDlgTest::MessageBoxIsAWarningWithOneOkOverTheDialog()
{
    CModalAnswerer answerer;
    CConnectDlg dlg;
    dlg.OnOK();
    QCOMPARE(answerer.m_answered.size(), std::size_t(1));
    const CAnsweredBox& box = answerer.m_answered.front();
    QCOMPARE(box.className, QStringLiteral("QMessageBox"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.pParent, &dlg);
    // The caption is the program file's name without its directory.
    QCOMPARE(box.caption, ApplicationTitle());
    QCOMPARE(ApplicationTitle(), QStringLiteral("ConnectDlgTest"));
}

void CConnectDlgTest::EnterInEitherBoxRunsTheValidationPass()
{
    CModalAnswerer answerer;
    CConnectDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Box(dlg, IDC_SERVER_ADDRESS)->setText("10.1.2.3");
    QTest::keyClick(Box(dlg, IDC_SERVER_ADDRESS), Qt::Key_Return);
    QCOMPARE(answerer.Texts(), QStringList{kNameMessage});
    QVERIFY(dlg.isVisible());

    Box(dlg, IDC_USER_NAME)->setText("guest");
    QTest::keyClick(Box(dlg, IDC_USER_NAME), Qt::Key_Enter);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_name, std::string("guest"));
}

void CConnectDlgTest::NameBoxTakesAtMost486Bytes()
{
    // The join line, the longest datagram about the user, adds 25 bytes.
    CModalAnswerer answerer;
    CConnectDlg dlg;
    dlg.show();
    QLineEdit* pName = Box(dlg, IDC_USER_NAME);
    QTest::keyClicks(pName, QString(600, 'a'));
    QCOMPARE(pName->text(), QString(486, 'a'));

    // Bytes of the locale's encoding count, and a character is never split.
    pName->clear();
    pName->insert(QString(300, u'\u00e9'));
    QCOMPARE(pName->text(), QString(243, u'\u00e9'));
    pName->setText(QString(485, 'a'));
    pName->insert(QString(u'\u00e9'));
    QCOMPARE(pName->text(), QString(485, 'a'));

    Box(dlg, IDC_SERVER_ADDRESS)->setText("10.1.2.3");
    pName->setText("");
    QTest::keyClicks(pName, QString(600, 'b'));
    dlg.OnOK();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_name, std::string(486, 'b'));
}

void CConnectDlgTest::StartServerEndsWithOkWithoutReadingTheBoxes()
{
    CModalAnswerer answerer;
    CConnectDlg dlg;
    dlg.show();
    Box(dlg, IDC_USER_NAME)->setText("ignored");
    Button(dlg, "&Start Server")->click();
    QVERIFY(answerer.m_answered.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(dlg.m_startServer);
    QVERIFY(dlg.m_name.empty());
}

void CConnectDlgTest::CancelEscapeAndCloseEndWithCancel()
{
    CModalAnswerer answerer;
    {
        CConnectDlg dlg;
        dlg.show();
        Box(dlg, IDC_SERVER_ADDRESS)->setText("10.1.2.3");
        Box(dlg, IDC_USER_NAME)->setText("guest");
        Button(dlg, "&Cancel")->click();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(dlg.m_name.empty());
    }
    {
        CConnectDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(Box(dlg, IDC_SERVER_ADDRESS), Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
    {
        CConnectDlg dlg;
        dlg.show();
        QVERIFY(dlg.close());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!dlg.m_startServer);
    }
    QVERIFY(answerer.m_answered.empty());
}

void CConnectDlgTest::AddressBoxHasTheFocusAtStart()
{
    CConnectDlg dlg;
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(QApplication::focusWidget(), Box(dlg, IDC_SERVER_ADDRESS));
}

QTEST_MAIN(CConnectDlgTest)
#include "ConnectDlgTest.moc"
