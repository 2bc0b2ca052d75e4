#pragma once
// The headless server's window: log lines go to standard output, message-box
// texts to standard error, one escaped line each (see LogEscape.h), written
// without ever making the room wait for a slow reader. When a stream is the
// journal's (see JournalStream.h), each line begins with its priority: a log
// line's level, or error for a message. Owns its two writers;
// not the loop, which must exist before the view and outlive it.

#include <chrono>

#include "LogWriter.h"
#include "ServerView.h"

class CConsoleView : public IServerView {
public:
    CConsoleView();

    void AppendLog(const std::string& text, ELogLevel level) override;
    void UpdateUserList(CUserList& roster) override;
    void UpdateTraffic() override;
    void ShowMessage(const std::string& text) override;

    // At exit: give the readers up to limit to take what is queued. Lines
    // lost on standard output are counted on standard error.
    void Finish(std::chrono::milliseconds limit);

private:
    CLogWriter m_out;
    CLogWriter m_err;
    bool m_bOutJournal;
    bool m_bErrJournal;
};
