#pragma once
// What the server and client windows share: a modal QDialog laid out from a
// dialog template, the window menu with the About entry, the program icon,
// the log box, the byte counters and the program's message box. It owns only
// its widgets; the cores live in the derived windows.

#include <QDialog>
#include <string>

class QLabel;
class QMenu;
class QPlainTextEdit;
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
    // About box; SC_MINIMIZE and SC_CLOSE do what the platform does.
    virtual void OnSysCommand(unsigned id);
    QMenu* WindowMenu() const { return m_pWindowMenu; }

    // The log box: append text and "\r\n" at the end, newest line in view.
    void AppendLogText(const std::string& text);
    // "Bytes Read: %i" / "Bytes Written: %i" from the process totals.
    void DrawTraffic();
    // The program's message box: warning icon, one OK, the application title
    // as caption, modal over this window. Returns when answered.
    void ShowMessageBox(const std::string& text);

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;  // Alt+Space opens the window menu

private:
    QMenu* m_pWindowMenu = nullptr;
    QPlainTextEdit* m_pLog = nullptr;
    QLabel* m_pBytesRead = nullptr;
    QLabel* m_pBytesWritten = nullptr;
};

// The system-command ids of the window menu's platform entries.
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
