#pragma once
// A server window for tests: stores every call so that tests can check the
// log, the user-list redraws and the counters at each refresh.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ServerView.h"
#include "Traffic.h"
#include "UserInfo.h"
#include "UserList.h"

class CRecordingView : public IServerView {
public:
    struct CTraffic {
        std::size_t logLines;  // how many log lines there were at the refresh
        std::int64_t read;
        std::int64_t written;
    };

    void AppendLog(const std::string& text) override { m_log.push_back(text); }
    void UpdateUserList(CUserList& roster) override
    {
        std::vector<std::string> names;
        const std::int32_t count = roster.m_nCount;
        roster.BeginWalk();
        for (std::int32_t i = 0; i < count; ++i, roster.Advance())
            names.push_back(roster.Current()->m_name);
        m_userLists.push_back(names);
    }
    void UpdateTraffic() override { m_traffic.push_back({m_log.size(), g_bytesRead, g_bytesWritten}); }
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }

    bool Logged(const std::string& line) const
    {
        return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
    }
    bool LoggedPrefix(const std::string& prefix) const
    {
        return std::any_of(m_log.begin(), m_log.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    }
    // The log lines from index first on.
    std::vector<std::string> LogFrom(std::size_t first) const
    {
        return {m_log.begin() + static_cast<std::ptrdiff_t>(std::min(first, m_log.size())), m_log.end()};
    }

    std::vector<std::string> m_log;
    std::vector<std::vector<std::string>> m_userLists;  // names at each redraw, head first
    std::vector<CTraffic> m_traffic;
    std::vector<std::string> m_messages;
};
