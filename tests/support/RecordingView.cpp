#include "RecordingView.h"

#include <algorithm>

#include "Traffic.h"
#include "UserInfo.h"
#include "UserList.h"

void CRecordingView::AppendLog(const std::string& text) { AppendLog(text, ELogLevel::Info); }

void CRecordingView::AppendLog(const std::string& text, ELogLevel /*level*/)
{
    m_log.push_back(text);
    m_events.push_back("log " + text);
}

void CRecordingView::UpdateUserList(CUserList& roster)
{
    m_users.clear();
    std::vector<std::string> names;
    const std::int32_t count = roster.m_nCount;
    roster.BeginWalk();
    for (std::int32_t k = 0; k < count; ++k, roster.Advance()) {
        const CUserInfo& user = *roster.Current();
        m_users.push_back(user.m_name + " (" + std::to_string(user.m_ping) + ")");
        names.push_back(user.m_name);
    }
    m_userLists.push_back(names);
    m_events.push_back("users");
}

void CRecordingView::ClearUserList()
{
    m_users.clear();
    m_events.push_back("clear");
}

void CRecordingView::UpdateTraffic()
{
    m_traffic.push_back({m_log.size(), g_bytesRead, g_bytesWritten});
    m_events.push_back("traffic");
}

void CRecordingView::ShowMessage(const std::string& text)
{
    m_messages.push_back(text);
    m_events.push_back("message " + text);
}

bool CRecordingView::Logged(const std::string& line) const
{
    return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
}

bool CRecordingView::LoggedPrefix(const std::string& prefix) const
{
    return std::any_of(m_log.begin(), m_log.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

std::vector<std::string> CRecordingView::LogFrom(std::size_t first) const
{
    return {m_log.begin() + static_cast<std::ptrdiff_t>(std::min(first, m_log.size())), m_log.end()};
}
