#pragma once
// A window for tests of either core: it stands in for the server's window and
// for the client's, and stores every call so that a test can check the log,
// the message boxes, the users box (as last drawn and at every redraw), the
// counters at every refresh, and the order of it all. Owns nothing.

#include <cstdint>
#include <string>
#include <vector>

#include "ClientView.h"
#include "ServerView.h"

class CRecordingView : public IServerView, public IClientView {
public:
    struct CTraffic {
        std::size_t logLines;  // how many log lines there were at the refresh
        std::int64_t read;
        std::int64_t written;
    };

    void AppendLog(const std::string& text) override;  // the client's
    void AppendLog(const std::string& text, ELogLevel level) override;
    // Walks the roster with its own cursor, counted, as the windows do, so a
    // core that kept a walk going across this call would show it.
    void UpdateUserList(CUserList& roster) override;
    void ClearUserList() override;
    void UpdateTraffic() override;
    void ShowMessage(const std::string& text) override;
    void OnRoomLine() override {}  // the client's

    bool Logged(const std::string& line) const;
    bool LoggedPrefix(const std::string& prefix) const;
    // The log lines from index first on.
    std::vector<std::string> LogFrom(std::size_t first) const;

    std::vector<std::string> m_log;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_users;                   // the users box as last drawn: "name (ping)", head first
    std::vector<std::vector<std::string>> m_userLists;  // the names at each redraw, head first
    std::vector<CTraffic> m_traffic;                    // each refresh of the counters
    std::vector<std::string> m_events;                  // every call, in order: "log <text>", "users", ...
};
