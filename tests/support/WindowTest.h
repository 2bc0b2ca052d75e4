#pragma once
// Helpers for tests of the main windows under the offscreen platform: run a
// window modally with the test's steps inside its loop, wait (bounded) while
// the Qt loop runs, read its log box, and feed it a busy room. Message boxes
// are answered by CModalAnswerer.

#include <chrono>
#include <functional>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextDocument>
#include <QTimer>

#include "ClientView.h"
#include "ServerView.h"
#include "Traffic.h"

// A line for either window's log, as its core would append it.
inline void AppendTo(IServerView& view, const std::string& line) { view.AppendLog(line, ELogLevel::Debug); }
inline void AppendTo(IClientView& view, const std::string& line) { view.AppendLog(line); }

// Run the Qt loop until pred holds or the time is up; pred's final value.
inline bool WaitFor(const std::function<bool()>& pred,
                    std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() >= limit.count())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// exec() the dialog with steps run from inside its modal loop. Whatever the
// steps leave open is ended, so a failed assertion cannot hang the test.
inline int RunModal(QDialog& dlg, const std::function<void()>& steps)
{
    QTimer::singleShot(0, &dlg, [&dlg, steps] {
        steps();
        if (dlg.isVisible())
            dlg.done(QDialog::Rejected);
    });
    return dlg.exec();
}

// The lines of a log box; the log ends every line with a break, so the text
// after the last one is left out.
inline QStringList LogLines(const QPlainTextEdit* pLog)
{
    QStringList lines = pLog->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// A datagram's text as the log shows it: the locale's bytes, type byte first.
inline QString Shown(const std::string& bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A busy room as a window sees it: a line and a new total on every pass of
// the Qt loop. What the log should then show, and how often it was drawn
// meanwhile (the drawing after the last line aside) in how many ms.
struct CBusyLog {
    QStringList expected;
    int drawings = 0;
    qint64 elapsedMs = 0;
};

// Lines "<prefix><u%i> line %i" through dlg's AppendLog and UpdateTraffic,
// the written total growing by one each time.
template <class TWindow>
CBusyLog FeedBusyLog(TWindow& dlg, QPlainTextEdit* pLog, const std::string& prefix, int lines)
{
    CBusyLog run;
    const QMetaObject::Connection counting =
        QObject::connect(pLog->document(), &QTextDocument::contentsChange, [&run] { ++run.drawings; });
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i) {
        const std::string line = prefix + "<u" + std::to_string(i % 7) + "> line " + std::to_string(i);
        AppendTo(dlg, line);
        run.expected << Shown(line);
        ++g_bytesWritten;
        dlg.UpdateTraffic();
        QCoreApplication::processEvents();
    }
    run.elapsedMs = clock.elapsed();
    QObject::disconnect(counting);
    return run;
}
