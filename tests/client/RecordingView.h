#pragma once
// A client window for tests: records every call of the core in order, and
// keeps the users box as lines "name (ping)", newest first. Owns nothing.

#include <algorithm>
#include <string>
#include <vector>

#include "ClientView.h"
#include "UserInfo.h"
#include "UserList.h"

class CRecordingView : public IClientView {
public:
    void AppendLog(const std::string& text) override
    {
        m_logs.push_back(text);
        m_events.push_back("log " + text);
    }
    // Walks the roster with its own cursor, counted, as the real window does,
    // so a core that kept a walk going across this call would show it.
    void UpdateUserList(CUserList& roster) override
    {
        m_users.clear();
        const int count = roster.m_nCount;
        roster.BeginWalk();
        for (int k = 0; k < count; ++k) {
            m_users.push_back(roster.Current()->m_name + " (" + std::to_string(roster.Current()->m_ping) + ")");
            roster.Advance();
        }
        m_events.push_back("users");
    }
    void ClearUserList() override
    {
        m_users.clear();
        m_events.push_back("clear");
    }
    void UpdateTraffic() override { m_events.push_back("traffic"); }
    void ShowMessage(const std::string& text) override
    {
        m_messages.push_back(text);
        m_events.push_back("message " + text);
    }

    bool HasLog(const std::string& text) const
    {
        return std::find(m_logs.begin(), m_logs.end(), text) != m_logs.end();
    }

    std::vector<std::string> m_logs;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_users;   // the users box as last drawn
    std::vector<std::string> m_events;  // every call, in order
};
