#pragma once
// The client window of the fuzz targets: keeps the log lines, the
// message-box texts and the last users box drawn, and the most users a
// roster it is shown held at any redraw. Owns nothing.

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
    // The sign-on redraws the totals after every room entry it takes.
    void UpdateTraffic() override
    {
        if (m_pCounted && m_pCounted->m_nCount > m_nMostUsers)
            m_nMostUsers = m_pCounted->m_nCount;
    }
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    void OnRoomLine() override {}

    std::vector<std::string> m_lines;
    std::vector<std::string> m_messages;
    std::vector<std::pair<std::string, int>> m_users;  // the users box, top first
    const CUserList* m_pCounted = nullptr;  // the roster whose size is followed
    int m_nMostUsers = 0;
};
