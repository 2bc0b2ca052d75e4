#pragma once
// The server's side of an accepted sign-on, as a script for CScriptedServer,
// and what it saw of the client. Owns nothing.

#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Bytes.h"
#include "Protocol.h"
#include "ScriptedServer.h"
#include "Wire.h"

struct CSignOnRecord {
    std::string hello;
    std::string echo1;
    std::string echo2;
    std::string notice;
    bool bClientClosed = false;

    // The datagram port from the port notice, in host order.
    std::uint16_t NoticedPort() const { return notice.size() == 2 ? ntohs(DecodePortNotice(notice.data())) : 0; }
};

// Room entries in the server's roster order (newest first). The second
// probe is 0x77, not the 5 the client answered, so an echo that sends a
// fixed byte instead of the one it got shows. With bTrickle every message
// arrives a byte at a time.
inline SignOnScript AcceptingScript(std::vector<std::pair<std::string, int>> room, std::int32_t ping,
                                    CSignOnRecord* pRecord, bool bTrickle = false)
{
    return [room = std::move(room), ping, pRecord, bTrickle](CLoopbackStream& s) {
        auto send = [&](const std::string& bytes) {
            if (bTrickle)
                SendTrickled(s, bytes);
            else
                s.Send(bytes);
        };
        pRecord->hello = ReadHello(s);
        send(Bytes({PROTOCOL_VERSION}));
        std::string list = EncodeInt32(static_cast<std::int32_t>(room.size()));
        for (const auto& [name, userPing] : room)
            list += EncodeRoomEntry(name, userPing);
        send(list);
        send(Bytes({PING_PROBE}));
        pRecord->echo1 = s.Read(1);
        send(Bytes({0x77}));
        pRecord->echo2 = s.Read(1);
        send(EncodeInt32(ping));
        pRecord->notice = s.Read(2);
        pRecord->bClientClosed = s.PeerClosed(5000);
    };
}
