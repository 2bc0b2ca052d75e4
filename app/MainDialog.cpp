#include "MainDialog.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "AboutDlg.h"
#include "DialogBuilder.h"
#include "MessageBox.h"
#include "ProgramIcon.h"
#include "Resources.h"
#include "Traffic.h"
#include "UserList.h"

namespace {

// A screen shows a new picture about sixty times a second, and drawing the
// window more often than that is work that nobody sees. A busy room is drawn
// at every second picture: a log scrolling by thirty times a second reads no
// worse, and each drawing (painting above all) costs the thread that relays
// the lines as much as a few hundred of them.
constexpr qint64 kFrameMs = 33;

// The most lines one paragraph of the log holds. The document keeps a tree
// over its paragraphs, so with a paragraph per line every line would cost
// more the longer the log grew; lines within a paragraph cost the same
// however long it is, and look the same on screen.
constexpr int kLinesPerParagraph = 32;
// The most characters a paragraph takes on beyond its first line: a
// paragraph is laid out whole whenever any of it shows, so a paragraph of
// long lines would cost every drawing much more than the lines in view.
constexpr qsizetype kParagraphChars = 4096;

// The boxes break a line at CR and at LF, at the Unicode line and paragraph
// separators, and at the two characters the document keeps for its frames.
// In this program's text only "\r\n" ends a line; any of these in a peer's
// bytes is drawn as a symbol instead, so that one line can never pass for
// two. Every other character, control bytes included, is drawn as the font
// draws it.
QChar Visible(QChar c)
{
    switch (c.unicode()) {
    case u'\r':
        return QChar(0x240D);  // SYMBOL FOR CARRIAGE RETURN
    case u'\n':
        return QChar(0x240A);  // SYMBOL FOR LINE FEED
    case QChar::LineSeparator:
    case QChar::ParagraphSeparator:
        return QChar(0x2424);  // SYMBOL FOR NEWLINE
    case 0xFDD0:  // the document's frame marks, which are no characters
    case 0xFDD1:
        return QChar(QChar::ReplacementCharacter);
    default:
        return c;
    }
}

// Box text from bytes of the locale's character set: each "\r\n" becomes
// lineBreak(last, at), last telling whether it is the text's final one and
// at where in the box text it goes, and every other character is drawn
// visibly.
template <class FLineBreak>
QString BoxText(const std::string& bytes, FLineBreak lineBreak)
{
    const QString text = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
            out += lineBreak(i + 1 == text.size(), out.size());
        } else {
            out += Visible(text[i]);
        }
    }
    return out;
}

// Log text from queued bytes, each line ended by "\r\n": every line break
// ends a line within a paragraph; the last, every kLinesPerParagraph-th and
// the first past kParagraphChars end a paragraph. The lines of each
// paragraph are added to paragraphLines.
QString LogParagraphs(const std::string& bytes, std::vector<int>& paragraphLines)
{
    int lines = 0;
    qsizetype paragraphStart = 0;
    return BoxText(bytes, [&](bool last, qsizetype at) {
        if (!last && ++lines < kLinesPerParagraph && at - paragraphStart < kParagraphChars)
            return QChar(QChar::LineSeparator);
        paragraphLines.push_back(last ? lines + 1 : lines);
        lines = 0;
        paragraphStart = at + 1;
        return QChar(QChar::ParagraphSeparator);
    });
}

}  // namespace

CMainDialog::CMainDialog(int templateId, QWidget* pParent) : QDialog(pParent)
{
    m_pFrameTimer = new QTimer(this);
    m_pFrameTimer->setSingleShot(true);
    m_pFrameTimer->setTimerType(Qt::PreciseTimer);  // never ends a frame early
    connect(m_pFrameTimer, &QTimer::timeout, this, &CMainDialog::DrawFrame);
    const CDialogTemplate* pTemplate = FindDialogTemplate(templateId);
    if (pTemplate == nullptr)
        return;
    m_controls = CDialogBuilder::Build(*pTemplate, this);
    m_pLog = ControlAs<QPlainTextEdit>(IDC_LOG);
    m_pBytesRead = ControlAs<QLabel>(IDC_BYTES_READ);
    m_pBytesWritten = ControlAs<QLabel>(IDC_BYTES_WRITTEN);
    m_usersBox.Attach(ControlAs<QPlainTextEdit>(IDC_USERS),
                      [this](const CUserInfo& user) { return ToDisplay(FormatUser(user)); });
    m_pTotalClients = ControlAs<QLabel>(IDC_TOTAL_CLIENTS);
    setWindowIcon(LoadProgramIcon());
    if (pTemplate->style & DS_SYSMENU)
        BuildWindowMenu(pTemplate->style);
}

CMainDialog::~CMainDialog() = default;

QWidget* CMainDialog::Control(int id) const { return m_controls.value(id); }

void CMainDialog::BuildWindowMenu(std::uint32_t dialogStyle)
{
    m_pWindowMenu = new QMenu(this);
    QAction* pMinimise = m_pWindowMenu->addAction(tr("Mi&nimise"));
    pMinimise->setData(SC_MINIMIZE);
    pMinimise->setEnabled(dialogStyle & DS_MINIMIZEBOX);
    m_pWindowMenu->addAction(tr("&Close\tAlt+F4"))->setData(SC_CLOSE);
    AddAboutEntry(*m_pWindowMenu, LoadResourceString(IDS_ABOUTBOX));
    connect(m_pWindowMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });

    // A window shortcut, so that it works whichever control has the focus.
    auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(pShortcut, &QShortcut::activated, this,
            [this] { m_pWindowMenu->popup(mapToGlobal(QPoint(0, 0))); });
}

void CMainDialog::AddAboutEntry(QMenu& menu, const char* text)
{
    if (text == nullptr || *text == '\0')
        return;
    menu.addSeparator();
    menu.addAction(QString::fromLocal8Bit(text))->setData(IDM_ABOUTBOX);
}

void CMainDialog::OnSysCommand(unsigned id)
{
    // The low four bits are the platform's; the About entry is any of 0x10..0x1F.
    switch (id & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(this);
        about.exec();
        break;
    }
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_CLOSE:
        close();
        break;
    default:
        break;
    }
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* pEvent)
{
    if (m_pWindowMenu)
        m_pWindowMenu->popup(pEvent->globalPos());
}

void CMainDialog::AppendLogText(const std::string& text)
{
    QueueLog(text);
    DrawPending();
}

void CMainDialog::InsertAtLogEnd(const QString& text, const std::vector<int>& paragraphLines)
{
    if (m_pLog == nullptr)
        return;
    // Laying out a line (shaping its text) is most of what drawing costs, so
    // no more is laid out than the view shows. The view is redrawn once, when
    // all is done: scrolling it while it draws would lay out every line
    // between the old view and the new one.
    QWidget* pView = m_pLog->viewport();
    pView->setUpdatesEnabled(false);
    // A cursor of its own at the end, so neither the user's selection nor the
    // length of the log matters; the document keeps no undo steps.
    QTextDocument* pDoc = m_pLog->document();
    QTextCursor cursor(pDoc);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    for (const int lines : paragraphLines) {
        m_logParagraphLines.push_back(lines);
        m_nLogLines += lines;
    }
    // The oldest paragraphs go, whole, while the rest still hold the lines
    // kept; one removal for all of them.
    int drop = 0;
    while (m_logParagraphLines.size() > 1 && m_nLogLines - m_logParagraphLines.front() >= kKeptLines) {
        m_nLogLines -= m_logParagraphLines.front();
        m_logParagraphLines.pop_front();
        ++drop;
    }
    if (drop > 0) {
        QTextCursor top(pDoc);
        top.setPosition(pDoc->findBlockByNumber(drop).position(), QTextCursor::KeepAnchor);
        top.removeSelectedText();
    }
    // The caret ends after the new line and the selection is gone. A caret
    // at the end moves on with what is inserted there, so it is set only
    // when the user has put it elsewhere: setting it lays out the lines from
    // the top of the view to the caret.
    const QTextCursor caret = m_pLog->textCursor();
    if (caret.hasSelection() || !caret.atEnd())
        m_pLog->setTextCursor(cursor);
    // The newest line in view at the bottom, as the box's own append does.
    QScrollBar* pBar = m_pLog->verticalScrollBar();
    pBar->setValue(pBar->maximum());
    pView->setUpdatesEnabled(true);
}

void CMainDialog::DrawTraffic()
{
    if (m_pBytesWritten)
        m_pBytesWritten->setText(
            QString::asprintf("Bytes Written: %lld", static_cast<long long>(g_bytesWritten)));
    if (m_pBytesRead)
        m_pBytesRead->setText(QString::asprintf("Bytes Read: %lld", static_cast<long long>(g_bytesRead)));
}

void CMainDialog::ShowMessageBox(const std::string& text)
{
    DrawPending();  // what led up to the box is on screen beside it
    ShowProgramMessageBox(this, text);
}

void CMainDialog::done(int result)
{
    DrawPending();  // the window ends with its log complete
    QDialog::done(result);
}

QString CMainDialog::ToDisplay(const std::string& bytes)
{
    return BoxText(bytes, [](bool, qsizetype) { return QChar(u'\n'); });
}

void CMainDialog::QueueLog(const std::string& text)
{
    std::string bytes = text + "\r\n";
    int lines = 0;
    for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2))
        ++lines;
    m_pendingLog.push_back(CQueuedText{std::move(bytes), lines});
    m_nPendingLines += lines;
    // Lines that newer ones would push out of the log before anyone saw them
    // are never drawn.
    while (m_nPendingLines - m_pendingLog.front().lines >= kKeptLines) {
        m_nPendingLines -= m_pendingLog.front().lines;
        m_pendingLog.pop_front();
    }
    ScheduleDraw();
}

void CMainDialog::QueueUserList(CUserList& roster)
{
    m_pPendingRoster = &roster;
    ScheduleDraw();
}

void CMainDialog::QueueTraffic()
{
    m_bTrafficPending = true;
    ScheduleDraw();
}

void CMainDialog::ScheduleDraw()
{
    if (m_bDrawQueued)
        return;
    m_bDrawQueued = true;
    const qint64 sinceDrawn = m_lastDraw.isValid() ? m_lastDraw.elapsed() : kFrameMs;
    if (sinceDrawn >= kFrameMs)
        QMetaObject::invokeMethod(this, &CMainDialog::DrawFrame, Qt::QueuedConnection);
    else
        m_pFrameTimer->start(static_cast<int>(kFrameMs - sinceDrawn));
}

void CMainDialog::DrawLog(std::size_t maxBytes)
{
    // One insertion for the lines of a drawing: the log lays out and scrolls
    // once, however many lines came.
    std::string bytes;
    while (!m_pendingLog.empty() && (bytes.empty() || bytes.size() + m_pendingLog.front().bytes.size() <= maxBytes)) {
        bytes += m_pendingLog.front().bytes;
        m_nPendingLines -= m_pendingLog.front().lines;
        m_pendingLog.pop_front();
    }
    if (bytes.empty())
        return;
    std::vector<int> paragraphLines;
    const QString text = LogParagraphs(bytes, paragraphLines);
    InsertAtLogEnd(text, paragraphLines);
}

void CMainDialog::DrawFrame()
{
    m_bDrawQueued = false;
    m_pFrameTimer->stop();
    m_lastDraw.start();
    // A frame draws a bounded share of the log, so that typing and the rest
    // of the window keep their pace in a flood; the rest waits for the next.
    DrawLog(kBytesPerDrawing);
    if (m_pPendingRoster && m_pTotalClients) {
        m_usersBox.Show(*m_pPendingRoster);
        m_pTotalClients->setText(QStringLiteral("Total Clients: %1").arg(m_pPendingRoster->m_nCount));
    }
    m_pPendingRoster = nullptr;
    if (m_bTrafficPending) {
        m_bTrafficPending = false;
        DrawTraffic();
    }
    if (!m_pendingLog.empty())
        ScheduleDraw();
}

void CMainDialog::DrawPending()
{
    while (!m_pendingLog.empty())
        DrawLog(kBytesPerDrawing);
    DrawFrame();
}

void CMainDialog::ClearUsers()
{
    m_pPendingRoster = nullptr;
    m_usersBox.Clear();
    if (m_pTotalClients)
        m_pTotalClients->clear();
}

std::string CMainDialog::FormatUser(const CUserInfo& /*user*/) const { return {}; }
