#include "ConsoleView.h"

#include <unistd.h>

#include "JournalStream.h"
#include "LogEscape.h"

CConsoleView::CConsoleView()
    : m_out(STDOUT_FILENO),
      m_err(STDERR_FILENO),
      m_bOutJournal(CJournalStream::Is(STDOUT_FILENO)),
      m_bErrJournal(CJournalStream::Is(STDERR_FILENO))
{
    // Lines lost to a slow reader are a warning, like what peers did wrong.
    if (m_bOutJournal)
        m_out.SetNoticePrefix(CJournalStream::Prefix(ELogLevel::Warning));
}

void CConsoleView::AppendLog(const std::string& text, ELogLevel level)
{
    m_out.WriteLine(m_bOutJournal ? CJournalStream::Prefix(level) + EscapeLogText(text) : EscapeLogText(text));
}

// With no window there is no user list or counter to redraw; the log says
// who joins and leaves.
void CConsoleView::UpdateUserList(CUserList& /*roster*/) {}

void CConsoleView::UpdateTraffic() {}

// The message boxes of the core say that the server could not start or run.
void CConsoleView::ShowMessage(const std::string& text)
{
    m_err.WriteLine(m_bErrJournal ? CJournalStream::Prefix(ELogLevel::Error) + EscapeLogText(text)
                                  : EscapeLogText(text));
}

void CConsoleView::Finish(std::chrono::milliseconds limit)
{
    const auto deadline = CEventLoop::Clock::now() + limit;
    if (const std::uint64_t lost = m_out.Flush(deadline); lost > 0)
        m_err.WriteLine((m_bErrJournal ? CJournalStream::Prefix(ELogLevel::Warning) : "") +
                        CLogWriter::DroppedNotice(lost));
    // Lines lost on standard error at exit have nowhere left to be told.
    static_cast<void>(m_err.Flush(deadline));
}
