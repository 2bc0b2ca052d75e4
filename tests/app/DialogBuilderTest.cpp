// The dialog builder and the resources it lays out: dialog units, every
// template's controls, tab order, default buttons and styles.

#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QtTest>

#include "DialogBuilder.h"
#include "Resources.h"

using IdList = QList<int>;

namespace {

int IdOf(const QWidget* pWidget)
{
    const QString name = pWidget->objectName();
    return name.startsWith(QLatin1String("control")) ? name.mid(7).toInt() : IDC_STATIC;
}

// The controls that Tab visits, in the order it visits them.
IdList TabChain(QDialog& dlg)
{
    IdList ids;
    for (QWidget* pWidget = dlg.nextInFocusChain(); pWidget != &dlg; pWidget = pWidget->nextInFocusChain())
        if (pWidget->focusPolicy() & Qt::TabFocus)
            ids << IdOf(pWidget);
    return ids;
}

}  // namespace

class CDialogBuilderTest : public QObject {
    Q_OBJECT
private slots:
    void DialogUnitsRoundToTheNearestPixel();
    void BaseUnitsOfAFixedPitchFontAreItsCell();
    void TemplatesAreLaidOutInDialogUnits_data();
    void TemplatesAreLaidOutInDialogUnits();
    void TabOrderAndFirstFocusFollowTheTemplate_data();
    void TabOrderAndFirstFocusFollowTheTemplate();
    void FirstFocusSkipsADisabledTabStop();
    void DefaultButtonsAreTheTemplates_data();
    void DefaultButtonsAreTheTemplates();
    void LogAndUsersBoxesFollowTheirStyles();
    void StaticsAlignAndKeepTheirTexts();
    void StaticTextHidesMnemonicMarkersUnlessAsked();
    void StringTableAndIcon();
};

void CDialogBuilderTest::DialogUnitsRoundToTheNearestPixel()
{
    // Base units 6 x 13: a quarter of 6 across, an eighth of 13 down.
    QCOMPARE(CDialogBuilder::ToPixels(5, 5, 10, 10, QSize(6, 13)), QRect(8, 8, 15, 16));  // 7.5, 8.1, 15, 16.25
    QCOMPARE(CDialogBuilder::ToPixels(0, 0, 168, 130, QSize(6, 13)), QRect(0, 0, 252, 211));
    // Width and height are converted on their own, not as right minus left.
    QCOMPARE(CDialogBuilder::ToPixels(1, 3, 1, 3, QSize(7, 15)), QRect(2, 6, 2, 6));
    QCOMPARE(CDialogBuilder::ToPixels(0, 0, 0, 0, QSize(7, 15)), QRect(0, 0, 0, 0));
}

void CDialogBuilderTest::BaseUnitsOfAFixedPitchFontAreItsCell()
{
    // In a fixed-pitch font the average letter is every letter: the base
    // width is the cell's width, rounded, whatever the size.
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    for (int pixels = 9; pixels <= 24; ++pixels) {
        mono.setPixelSize(pixels);
        const QFontMetricsF metrics(mono);
        QCOMPARE(metrics.horizontalAdvance(u'W'), metrics.horizontalAdvance(u'i'));
        const QSize base = CDialogBuilder::BaseUnits(mono);
        QCOMPARE(base.width(), qRound(metrics.horizontalAdvance(u'x')));
        QCOMPARE(base.height(), QFontMetrics(mono).height());
    }
}

void CDialogBuilderTest::TemplatesAreLaidOutInDialogUnits_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<QString>("caption");
    QTest::newRow("About") << IDD_ABOUTBOX << "About ZEPHRAN";
    QTest::newRow("client") << IDD_CLIENT_DIALOG << "ZEPHRAN Client";
    QTest::newRow("Connect") << IDD_CONNECT << "Connect";
    QTest::newRow("server") << IDD_SERVER_DIALOG << "ZEPHRAN Server";
}

void CDialogBuilderTest::TemplatesAreLaidOutInDialogUnits()
{
    QFETCH(int, templateId);
    QFETCH(QString, caption);
    const CDialogTemplate* pTemplate = FindDialogTemplate(templateId);
    QVERIFY(pTemplate);

    QDialog dlg;
    const QHash<int, QWidget*> controls = CDialogBuilder::Build(*pTemplate, &dlg);
    const QSize base = CDialogBuilder::BaseUnits(CDialogBuilder::DialogFont(*pTemplate));
    QVERIFY(base.width() > 0 && base.height() > 0);
    QCOMPARE(dlg.windowTitle(), caption);
    const QSize size = CDialogBuilder::ToPixels(0, 0, pTemplate->cx, pTemplate->cy, base).size();
    QCOMPARE(dlg.minimumSize(), size);
    QCOMPARE(dlg.maximumSize(), size);

    const QList<QWidget*> widgets = dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(widgets.size(), qsizetype(pTemplate->controls.size()));
    for (qsizetype i = 0; i < widgets.size(); ++i) {
        const CControlTemplate& ctl = pTemplate->controls[std::size_t(i)];
        QWidget* pWidget = widgets[i];
        QCOMPARE(pWidget->geometry(), CDialogBuilder::ToPixels(ctl.x, ctl.y, ctl.cx, ctl.cy, base));
        QCOMPARE(IdOf(pWidget), ctl.id);
        if (ctl.id != IDC_STATIC)
            QCOMPARE(controls.value(ctl.id), pWidget);
        // Every control lies inside its dialog: a check on the table data.
        QVERIFY2(QRect(0, 0, pTemplate->cx, pTemplate->cy).contains(QRect(ctl.x, ctl.y, ctl.cx, ctl.cy)),
                 ctl.text);
    }
    QCOMPARE(FindDialogTemplate(999), nullptr);
}

void CDialogBuilderTest::TabOrderAndFirstFocusFollowTheTemplate_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<IdList>("tabOrder");
    QTest::newRow("About") << IDD_ABOUTBOX << IdList{IDOK};
    QTest::newRow("Connect") << IDD_CONNECT
                             << IdList{IDC_SERVER_ADDRESS, IDC_USER_NAME, IDOK, IDCANCEL, IDC_START_SERVER};
    // The server's log and users boxes are no tab stops; "&Boot User" is one
    // (Tab passes over it only because it is disabled).
    QTest::newRow("server") << IDD_SERVER_DIALOG << IdList{IDC_SHUTDOWN_SERVER, IDC_BOOT_USER};
    QTest::newRow("client") << IDD_CLIENT_DIALOG
                            << IdList{IDC_INPUT, IDC_LOGON, IDC_DISCONNECT, IDC_QUIT, IDC_LOG, IDC_USERS,
                                      IDC_SEND};
}

void CDialogBuilderTest::TabOrderAndFirstFocusFollowTheTemplate()
{
    QFETCH(int, templateId);
    QFETCH(IdList, tabOrder);
    QDialog dlg;
    CDialogBuilder::Build(*FindDialogTemplate(templateId), &dlg);
    QCOMPARE(TabChain(dlg), tabOrder);

    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(IdOf(QApplication::focusWidget()), tabOrder.front());
}

void CDialogBuilderTest::FirstFocusSkipsADisabledTabStop()
{
    const CControlTemplate controls[] = {
        {IDC_STATIC, EControlKind::Static, "&Name:", 5, 5, 40, 10, 0},
        {10, EControlKind::PushButton, "Off", 5, 20, 40, 14, CS_TABSTOP | CS_DISABLED},
        {11, EControlKind::Edit, "", 5, 40, 40, 14, CS_BORDER},  // no tab stop
        {12, EControlKind::Edit, "", 5, 60, 40, 14, CS_BORDER | CS_TABSTOP},
    };
    const CDialogTemplate tmpl{999, "Test", 100, 100, DS_SYSMENU, "MS Sans Serif", 8, controls};
    QDialog dlg;
    CDialogBuilder::Build(tmpl, &dlg);
    QCOMPARE(TabChain(dlg), (IdList{10, 12}));
    QCOMPARE(dlg.findChild<QLabel*>()->text(), QStringLiteral("Name:"));
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(IdOf(QApplication::focusWidget()), 12);
}

void CDialogBuilderTest::DefaultButtonsAreTheTemplates_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<IdList>("defaults");
    QTest::newRow("About") << IDD_ABOUTBOX << IdList{IDOK};
    QTest::newRow("Connect") << IDD_CONNECT << IdList{IDOK};
    QTest::newRow("server") << IDD_SERVER_DIALOG << IdList{};
    QTest::newRow("client") << IDD_CLIENT_DIALOG << IdList{IDC_SEND};
}

void CDialogBuilderTest::DefaultButtonsAreTheTemplates()
{
    QFETCH(int, templateId);
    QFETCH(IdList, defaults);
    QDialog dlg;
    CDialogBuilder::Build(*FindDialogTemplate(templateId), &dlg);
    IdList found;
    for (QPushButton* pButton : dlg.findChildren<QPushButton*>()) {
        QVERIFY(pButton->autoDefault());  // a focused button takes Enter
        if (pButton->isDefault())
            found << IdOf(pButton);
    }
    QCOMPARE(found, defaults);
}

void CDialogBuilderTest::LogAndUsersBoxesFollowTheirStyles()
{
    for (int templateId : {IDD_SERVER_DIALOG, IDD_CLIENT_DIALOG}) {
        QDialog dlg;
        const QHash<int, QWidget*> controls = CDialogBuilder::Build(*FindDialogTemplate(templateId), &dlg);
        auto* pLog = qobject_cast<QPlainTextEdit*>(controls.value(IDC_LOG));
        auto* pUsers = qobject_cast<QPlainTextEdit*>(controls.value(IDC_USERS));
        QVERIFY(pLog && pUsers);
        for (QPlainTextEdit* pBox : {pLog, pUsers}) {
            QVERIFY(pBox->isReadOnly());
            QVERIFY(!pBox->isUndoRedoEnabled());
            QCOMPARE(pBox->maximumBlockCount(), 0);  // never trimmed
            QCOMPARE(pBox->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QVERIFY(pBox->textInteractionFlags() & Qt::TextSelectableByMouse);
        }
        QCOMPARE(pLog->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(pLog->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(pUsers->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(pUsers->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(dlg.findChild<QGroupBox*>());
    }

    QDialog server;
    const QHash<int, QWidget*> controls = CDialogBuilder::Build(*FindDialogTemplate(IDD_SERVER_DIALOG), &server);
    QVERIFY(!controls.value(IDC_BOOT_USER)->isEnabled());
    QVERIFY(controls.value(IDC_SHUTDOWN_SERVER)->isEnabled());
    QDialog client;
    const QHash<int, QWidget*> clientControls =
        CDialogBuilder::Build(*FindDialogTemplate(IDD_CLIENT_DIALOG), &client);
    auto* pInput = qobject_cast<QLineEdit*>(clientControls.value(IDC_INPUT));
    QVERIFY(pInput && pInput->hasFrame() && !pInput->isReadOnly());
    for (QWidget* pWidget : clientControls)
        QVERIFY(pWidget->isEnabled());  // no client control is ever disabled
}

void CDialogBuilderTest::StaticsAlignAndKeepTheirTexts()
{
    QDialog dlg;
    const QHash<int, QWidget*> controls = CDialogBuilder::Build(*FindDialogTemplate(IDD_SERVER_DIALOG), &dlg);
    auto label = [&](int id) { return qobject_cast<QLabel*>(controls.value(id)); };
    QCOMPARE(label(IDC_BYTES_READ)->text(), QStringLiteral("Bytes Read: 0"));
    QCOMPARE(label(IDC_BYTES_READ)->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(label(IDC_BYTES_WRITTEN)->text(), QStringLiteral("Bytes Written: 0"));
    QCOMPARE(label(IDC_BYTES_WRITTEN)->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(label(IDC_TOTAL_CLIENTS)->text(), QStringLiteral("Total Clients: 0"));
    QCOMPARE(label(IDC_TOTAL_CLIENTS)->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    // Texts set later are never read as markup.
    QCOMPARE(label(IDC_TOTAL_CLIENTS)->textFormat(), Qt::PlainText);

    QDialog connect;
    CDialogBuilder::Build(*FindDialogTemplate(IDD_CONNECT), &connect);
    QStringList texts;
    for (QLabel* pLabel : connect.findChildren<QLabel*>())
        texts << pLabel->text();
    QCOMPARE(texts, (QStringList{"Enter the server's IP address below:", "OR:", "And your name:"}));
}

void CDialogBuilderTest::StaticTextHidesMnemonicMarkersUnlessAsked()
{
    QCOMPARE(CDialogBuilder::StaticText("&Name:", 0), QStringLiteral("Name:"));
    QCOMPARE(CDialogBuilder::StaticText("Tom && Jerry", 0), QStringLiteral("Tom & Jerry"));
    QCOMPARE(CDialogBuilder::StaticText("ends with &", 0), QStringLiteral("ends with "));
    QCOMPARE(CDialogBuilder::StaticText("Tom && Jerry &Co", CS_NOPREFIX), QStringLiteral("Tom && Jerry &Co"));
    QCOMPARE(CDialogBuilder::StaticText("", 0), QString());
}

void CDialogBuilderTest::StringTableAndIcon()
{
    QCOMPARE(LoadResourceString(IDS_ABOUTBOX), "&About ZEPHRAN...");
    QCOMPARE(LoadResourceString(IDS_SOCKETS_INIT_FAILED), "Windows sockets initialization failed.");
    QCOMPARE(LoadResourceString(102), "");

    QCOMPARE(LoadIconImage(IDR_MAINFRAME, 48), nullptr);
    QCOMPARE(LoadIconImage(IDD_CONNECT, 32), nullptr);
    for (int size : {32, 16}) {
        const QImage image(LoadIconImage(IDR_MAINFRAME, size));
        QCOMPARE(image.size(), QSize(size, size));
        QSet<QRgb> colours;
        bool bTransparent = false;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (qAlpha(pixel) == 0)
                    bTransparent = true;
                else
                    colours.insert(pixel);
            }
        QVERIFY(colours.size() <= 16);
        QVERIFY(colours.size() > 1);
        QVERIFY(bTransparent);
    }
}

QTEST_MAIN(CDialogBuilderTest)
#include "DialogBuilderTest.moc"
