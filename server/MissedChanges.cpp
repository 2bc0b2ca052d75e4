#include "MissedChanges.h"

#include <algorithm>

#include "UserInfo.h"
#include "Wire.h"

void CMissedChanges::Joined(const CUserInfo* pUser) { m_joined.push_back(pUser); }

void CMissedChanges::Leaving(const CUserInfo* pUser)
{
    // One that came and went since the list was taken was never seen.
    if (const auto it = std::find(m_joined.begin(), m_joined.end(), pUser); it != m_joined.end())
        m_joined.erase(it);
    else
        m_leftNames.push_back(pUser->m_name);
}

std::vector<std::string> CMissedChanges::Datagrams() const
{
    std::vector<std::string> datagrams;
    datagrams.reserve(m_leftNames.size() + m_joined.size());
    for (const std::string& name : m_leftNames)
        datagrams.push_back(FormatLeave(name));
    for (const CUserInfo* pUser : m_joined)
        datagrams.push_back(FormatNew(pUser->m_ping, pUser->m_name));
    return datagrams;
}
