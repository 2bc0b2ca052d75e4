#include "RawClient.h"

#include <sys/socket.h>

#include <algorithm>

#include "Protocol.h"
#include "RawSignOn.h"

bool CRawClient::SignOn(const std::string& name)
{
    if (!m_udp.Bound() || m_udp.Connect(BROADCAST_PORT))
        return true;
    CRawSignOn signOn(CSignOnPlan{name, m_udp.PortNetworkOrder()});
    if (signOn.Run() != ESignOn::Completed)
        return true;
    m_room = std::move(signOn.m_room);
    m_ping = signOn.m_ping;
    m_udpPort = m_udp.Port();
    return false;
}

bool CRawClient::Send(const std::string& text) const
{
    const ssize_t sent = ::send(m_udp.Fd(), text.c_str(), text.size() + 1, 0);
    return sent != static_cast<ssize_t>(text.size() + 1);
}

void CRawClient::Drain()
{
    for (std::string& datagram : m_udp.Receive(0, 0))
        m_datagrams.push_back(std::move(datagram));
}

bool CRawClient::Received(const std::string& bytes) const
{
    return std::find(m_datagrams.begin(), m_datagrams.end(), bytes) != m_datagrams.end();
}
