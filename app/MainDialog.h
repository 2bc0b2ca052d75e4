#pragma once
// What the server and client windows share: a modal QDialog laid out from a
// dialog template, the window menu with the About entry, the program icon,
// the log box, the byte counters and the program's message box. It owns only
// its widgets; the cores live in the derived windows.

#include <QDialog>
#include <QElapsedTimer>
#include <QHash>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "UsersBox.h"

class CUserInfo;
class CUserList;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QWidget;

class CMainDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMainDialog(int templateId, QWidget* pParent = nullptr);
    ~CMainDialog() override;

    // The widget of a control id of the template (null if none).
    QWidget* Control(int id) const;
    template <class T>
    T* ControlAs(int id) const { return qobject_cast<T*>(Control(id)); }

    // System commands of the window menu: id & 0xFFF0 == IDM_ABOUTBOX opens the
    // About box modally over this window; SC_MINIMIZE minimises; SC_CLOSE
    // closes as the close box does (closeEvent). Other ids do nothing.
    virtual void OnSysCommand(unsigned id);
    // Right click on the window's background and Alt+Space open it; null if
    // the template has no system menu.
    QMenu* WindowMenu() const { return m_pWindowMenu; }
    // Appends a separator and the About entry (IDM_ABOUTBOX) with text, or
    // nothing at all if text is empty.
    static void AddAboutEntry(QMenu& menu, const char* text);

    // The log box: append text and "\r\n" at the very end now, after what is
    // queued, whatever the user has selected, as a change that cannot be
    // undone, with the newest line in view. Costs the same however long the
    // log is. The log keeps the newest kKeptLines lines at least: older
    // paragraphs are dropped whole from the top.
    void AppendLogText(const std::string& text);
    static constexpr int kKeptLines = 10'000;
    // "Bytes Read: %lld" / "Bytes Written: %lld" from the process totals.
    void DrawTraffic();
    // The program's message box: warning icon, one OK, the application title
    // as caption, modal over this window. What is queued is drawn first.
    // Returns when answered.
    void ShowMessageBox(const std::string& text);

    // Bytes as the boxes show them: the locale's narrow character set, with
    // each "\r\n" ending a line ("\n"). A lone CR or LF, or any other
    // character that would break a line, is drawn as a symbol: CR as U+240D,
    // LF as U+240A, the Unicode line and paragraph separators as U+2424.
    static QString ToDisplay(const std::string& bytes);

    // Every way the window ends comes here; what is queued is drawn first.
    void done(int result) override;

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

    // The log, the users box with "Total Clients: %i", and the byte totals
    // change with every datagram of a busy room, far more often than a screen
    // shows a new picture. What is queued is drawn at most once a frame (of
    // 33 ms, every second picture of a screen), from what is current then: at
    // the next pass of the event loop after a quiet spell, otherwise as soon
    // as a frame has passed since the last drawing.
    // As AppendLogText, at the next drawing; the lines of one drawing share
    // paragraphs, so that a line costs the same at any length of the log.
    // The queue, too, keeps only the newest kKeptLines lines, and a frame
    // draws at most kBytesPerDrawing of it: a flood faster than a window can
    // draw costs lines nobody could have read, never memory or input.
    void QueueLog(const std::string& text);
    static constexpr std::size_t kBytesPerDrawing = 128 * 1024;
    void QueueUserList(CUserList& roster);
    void QueueTraffic();
    void DrawPending();  // draw all that is queued now, ahead of a direct change
    void ClearUsers();   // empty the users box and the label at once
    // A user's entry in the users box of this window, each line ended by "\r\n".
    virtual std::string FormatUser(const CUserInfo& user) const;

private:
    // A call of QueueLog: its bytes with "\r\n" at the end, and how many
    // lines they make.
    struct CQueuedText {
        std::string bytes;
        int lines;
    };

    void BuildWindowMenu(std::uint32_t dialogStyle);
    void DrawFrame();  // a frame's share of what is queued; the rest waits
    void DrawLog(std::size_t maxBytes);
    // Inserts text (paragraphs of paragraphLines lines each) at the end, drops
    // the oldest paragraphs beyond the bound, then the caret there, in view.
    void InsertAtLogEnd(const QString& text, const std::vector<int>& paragraphLines);
    void ScheduleDraw();

    QHash<int, QWidget*> m_controls;
    QMenu* m_pWindowMenu = nullptr;
    QPlainTextEdit* m_pLog = nullptr;
    QLabel* m_pBytesRead = nullptr;
    QLabel* m_pBytesWritten = nullptr;
    QLabel* m_pTotalClients = nullptr;
    CUsersBox m_usersBox;

    CUserList* m_pPendingRoster = nullptr;  // redraw the users box from this
    bool m_bTrafficPending = false;         // redraw the byte totals
    bool m_bDrawQueued = false;             // a DrawFrame is already posted
    std::deque<CQueuedText> m_pendingLog;   // oldest first
    int m_nPendingLines = 0;                // lines in m_pendingLog
    // Lines of each paragraph of the log box but its last, empty one, oldest
    // first: the box is read-only, so only the drawing changes it.
    std::deque<int> m_logParagraphLines;
    int m_nLogLines = 0;                    // their sum
    QElapsedTimer m_lastDraw;               // started at each drawing
    QTimer* m_pFrameTimer = nullptr;        // ends the frame a drawing waits for
};

// The system-command ids of the window menu's platform entries.
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
