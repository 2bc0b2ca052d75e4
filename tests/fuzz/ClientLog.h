#pragma once
// The client window of the fuzz targets: keeps the log lines, the
// message-box texts and the last users box drawn. Owns nothing.

#include <string>
#include <utility>
#include <vector>

#include "ClientView.h"
#include "UserInfo.h"
#include "UserList.h"

class CClientLog : public IClientView {
public:
    void AppendLog(const std::string& text) override { m_lines.push_back(text); }
    void UpdateUserList(CUserList& roster) override
    {
        m_users.clear();
        const int count = roster.m_nCount;
        roster.BeginWalk();
        for (int k = 0; k < count; ++k, roster.Advance())
            m_users.emplace_back(roster.Current()->m_name, roster.Current()->m_ping);
    }
    void ClearUserList() override { m_users.clear(); }
    void UpdateTraffic() override {}
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }

    std::vector<std::string> m_lines;
    std::vector<std::string> m_messages;
    std::vector<std::pair<std::string, int>> m_users;  // the users box, top first
};
