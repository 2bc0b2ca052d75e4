#pragma once
// One user of the room: where its datagrams go, its name and its ping.
// Plain data; a CUserList owns the records it holds.

#include <netinet/in.h>

#include <cstdint>
#include <string>

class CUserInfo {
public:
    CUserInfo();
    virtual ~CUserInfo();

    sockaddr_in m_addr;          // server: peer address with the datagram port; client: all zero
    std::string m_name;          // bytes as received, never holding a zero byte
    std::int32_t m_ping = 0;     // milliseconds, measured once at sign-on
};
