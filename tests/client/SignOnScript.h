#pragma once
// The server's side of an accepted sign-on, as a script for CScriptedServer,
// and what it saw of the client. Owns nothing.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedServer.h"

struct CSignOnRecord {
    std::string hello;
    std::string echo1;
    std::string echo2;
    std::string notice;
    bool bClientClosed = false;

    // The datagram port from the port notice (network byte order on the wire).
    std::uint16_t NoticedPort() const
    {
        return notice.size() == 2
                   ? static_cast<std::uint16_t>((static_cast<unsigned char>(notice[0]) << 8) |
                                                static_cast<unsigned char>(notice[1]))
                   : 0;
    }
};

// Room entries in the server's roster order (newest first). The second
// probe is 0x77, not the 5 the client answered, so an echo that sends a
// fixed byte instead of the one it got shows. With bTrickle every message
// arrives a byte at a time.
inline std::function<void(CScriptStream&)> AcceptingScript(std::vector<std::pair<std::string, int>> room,
                                                           std::int32_t ping, CSignOnRecord* pRecord,
                                                           bool bTrickle = false)
{
    return [room = std::move(room), ping, pRecord, bTrickle](CScriptStream& s) {
        auto send = [&](const std::string& bytes) { bTrickle ? s.SendTrickled(bytes) : s.Send(bytes); };
        pRecord->hello = s.ReadHello();
        send(Bytes({2}));
        std::string list = Int32(static_cast<std::int32_t>(room.size()));
        for (const auto& [name, userPing] : room)
            list += Int32(static_cast<std::int32_t>(name.size() + 1)) + name + '\0' + Int32(userPing);
        send(list);
        send(Bytes({5}));
        pRecord->echo1 = s.Read(1);
        send(Bytes({0x77}));
        pRecord->echo2 = s.Read(1);
        send(Int32(ping));
        pRecord->notice = s.Read(2);
        pRecord->bClientClosed = s.WaitClosed();
    };
}
