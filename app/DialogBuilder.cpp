#include "DialogBuilder.h"

#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <utility>
#include <vector>

namespace {

// n * num / den rounded to the nearest integer, halves away from zero.
int MulDiv(int n, int num, int den)
{
    const long long product = static_cast<long long>(n) * num;
    const long long half = den / 2;
    return static_cast<int>(product >= 0 ? (product + half) / den : -((-product + half) / den));
}

QPlainTextEdit* CreateMultiLineEdit(const CControlTemplate& ctl, QWidget* pParent)
{
    auto* pEdit = new QPlainTextEdit(QString::fromLocal8Bit(ctl.text), pParent);
    pEdit->setReadOnly(ctl.style & CS_READONLY);
    // A log that only ever grows has nothing to undo; keeping undo steps would
    // cost memory for every line.
    pEdit->setUndoRedoEnabled(false);
    pEdit->setTabChangesFocus(true);
    // A box that scrolls sideways keeps each line whole; any other wraps.
    pEdit->setLineWrapMode((ctl.style & CS_AUTOHSCROLL) ? QPlainTextEdit::NoWrap
                                                        : QPlainTextEdit::WidgetWidth);
    pEdit->setVerticalScrollBarPolicy((ctl.style & CS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
    pEdit->setHorizontalScrollBarPolicy((ctl.style & CS_HSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                 : Qt::ScrollBarAlwaysOff);
    if (ctl.style & CS_READONLY)
        pEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (!(ctl.style & (CS_BORDER | CS_STATICEDGE)))
        pEdit->setFrameShape(QFrame::NoFrame);
    return pEdit;
}

QLabel* CreateStatic(const CControlTemplate& ctl, QWidget* pParent)
{
    auto* pLabel = new QLabel(CDialogBuilder::StaticText(ctl.text, ctl.style), pParent);
    // Plain text always: a "<" in a text set later must never turn into markup.
    pLabel->setTextFormat(Qt::PlainText);
    pLabel->setWordWrap(true);
    Qt::Alignment align = Qt::AlignLeft;
    if (ctl.style & CS_CENTER)
        align = Qt::AlignHCenter;
    else if (ctl.style & CS_RIGHT)
        align = Qt::AlignRight;
    align |= (ctl.style & CS_VCENTER) ? Qt::AlignVCenter : Qt::AlignTop;
    pLabel->setAlignment(align);
    return pLabel;
}

}  // namespace

QFont CDialogBuilder::DialogFont(const CDialogTemplate& tmpl)
{
    QFont font(QString::fromLatin1(tmpl.fontName));
    font.setPointSize(tmpl.fontPoints);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QSize CDialogBuilder::BaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width52 =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((width52 / 26 + 1) / 2, metrics.height());
}

QRect CDialogBuilder::ToPixels(int x, int y, int cx, int cy, QSize base)
{
    return QRect(MulDiv(x, base.width(), 4), MulDiv(y, base.height(), 8), MulDiv(cx, base.width(), 4),
                 MulDiv(cy, base.height(), 8));
}

QString CDialogBuilder::StaticText(const char* text, std::uint32_t style)
{
    const QString raw = QString::fromLocal8Bit(text);
    if (style & CS_NOPREFIX)
        return raw;
    QString shown;
    shown.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == u'&' && ++i == raw.size())  // skip the marker: "&&" leaves one "&"
            break;
        shown += raw[i];
    }
    return shown;
}

QHash<int, QWidget*> CDialogBuilder::Build(const CDialogTemplate& tmpl, QDialog* pDialog)
{
    // Windows with a minimise box are the program's main windows: the desktop
    // treats them as ordinary application windows, with a task bar entry.
    Qt::WindowFlags flags = (tmpl.style & (DS_MINIMIZEBOX | DS_APPWINDOW)) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (tmpl.style & DS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tmpl.style & DS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    pDialog->setWindowFlags(flags);
    pDialog->setWindowTitle(QString::fromLocal8Bit(tmpl.caption));

    const QFont font = DialogFont(tmpl);
    pDialog->setFont(font);
    const QSize base = BaseUnits(font);
    pDialog->setFixedSize(ToPixels(0, 0, tmpl.cx, tmpl.cy, base).size());

    QHash<int, QWidget*> controls;
    QWidget* pFirstTab = nullptr;
    QWidget* pLastTab = nullptr;
    std::vector<std::pair<QLabel*, int>> labels;  // and the ids they name
    for (const CControlTemplate& ctl : tmpl.controls) {
        QWidget* pWidget = CreateControl(ctl, pDialog);
        pWidget->setGeometry(ToPixels(ctl.x, ctl.y, ctl.cx, ctl.cy, base));
        pWidget->setEnabled(!(ctl.style & CS_DISABLED));
        if (pWidget->focusPolicy() != Qt::NoFocus)
            pWidget->setFocusPolicy((ctl.style & CS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        if (ctl.style & CS_TABSTOP) {
            if (pLastTab)
                QWidget::setTabOrder(pLastTab, pWidget);
            if (pFirstTab == nullptr && pWidget->isEnabled())
                pFirstTab = pWidget;
            pLastTab = pWidget;
        }
        if (auto* pLabel = qobject_cast<QLabel*>(pWidget); pLabel && ctl.labelFor != 0)
            labels.emplace_back(pLabel, ctl.labelFor);
        if (ctl.accessibleName)
            pWidget->setAccessibleName(QString::fromLocal8Bit(ctl.accessibleName));
        if (ctl.id != IDC_STATIC) {
            // Named by id, so that tests and tools can find a control.
            pWidget->setObjectName(QStringLiteral("control%1").arg(ctl.id));
            controls.insert(ctl.id, pWidget);
        }
    }
    // A label that names a control is its buddy, so that a screen reader
    // says the label's text for it.
    for (const auto& [pLabel, id] : labels)
        pLabel->setBuddy(controls.value(id));
    // The first enabled control in tab order has the focus when the dialog opens.
    if (pFirstTab)
        pFirstTab->setFocus();
    return controls;
}

QWidget* CDialogBuilder::CreateControl(const CControlTemplate& ctl, QWidget* pParent)
{
    switch (ctl.kind) {
    case EControlKind::PushButton: {
        auto* pButton = new QPushButton(QString::fromLocal8Bit(ctl.text), pParent);
        // A focused button takes Enter; otherwise the default button does.
        pButton->setAutoDefault(true);
        pButton->setDefault(ctl.style & CS_DEFAULT);
        return pButton;
    }
    case EControlKind::Edit: {
        if (ctl.style & CS_MULTILINE)
            return CreateMultiLineEdit(ctl, pParent);
        // A line edit always scrolls sideways as text is typed.
        auto* pEdit = new QLineEdit(QString::fromLocal8Bit(ctl.text), pParent);
        pEdit->setFrame(ctl.style & (CS_BORDER | CS_STATICEDGE));
        pEdit->setReadOnly(ctl.style & CS_READONLY);
        return pEdit;
    }
    case EControlKind::Static:
        return CreateStatic(ctl, pParent);
    case EControlKind::GroupBox:
        return new QGroupBox(QString::fromLocal8Bit(ctl.text), pParent);
    }
    return new QWidget(pParent);
}
