#pragma once
// The client core: signs on to one server, keeps this client's copy of the
// room and sends its datagrams. Reaches its window only through IClientView,
// so it runs without Qt. The window keeps the server address and the name.

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ClientUdpSocket.h"
#include "UserList.h"

class CSocket;
class IClientView;

class CChatClient {
public:
    // The longest room entry, Li: a name of 510 bytes, which is all a hello
    // of 511 bytes can carry, and its zero.
    static constexpr std::int32_t MAX_ROOM_ENTRY = 511;
    // The largest room count taken. Each sign-on is announced to everyone
    // already there, so a server would need hours to gather a larger room;
    // a larger count is a damaged room list, not a room to read.
    static constexpr std::int32_t MAX_ROOM_COUNT = 100'000;
    // The copy of the room holds at most MAX_ROOM_COUNT users and this many
    // bytes of names: a room of 100,000 users fits, but a server announcing
    // ever new users with names of 500 bytes cannot grow the copy, and the
    // users box that shows it, past about 100 MiB. A user beyond the bound
    // is not listed; its join line is logged as ever.
    static constexpr std::size_t MAX_ROOM_NAME_BYTES = std::size_t{16} << 20;

    CChatClient() = default;
    virtual ~CChatClient();  // frees the roster, closes the socket, sends nothing
    CChatClient(const CChatClient&) = delete;
    CChatClient& operator=(const CChatClient&) = delete;

    void Init(IClientView* pWnd);
    // The client side of the sign-on; only the address field of serverAddr
    // need be set. True if it failed (the window then ends).
    [[nodiscard]] bool Logon(sockaddr_in serverAddr, const std::string& name);
    void Disconnect();
    void SendChat(const std::string& line);
    [[nodiscard]] bool SendText(const std::string& packet);  // true if the send failed

    // Datagram handlers, called by the datagram socket only.
    void OnChatLine(const std::string& text);
    void OnUserJoined(const std::string& text);
    void OnUserLeft(const std::string& name);
    void OnServerTerminated();
    void OnPing();

    // How long a sign-on may take from the connect on before it is given up.
    void SetSignOnLimit(std::chrono::milliseconds limit) { m_signOnLimit = limit; }

    bool IsConnected() const { return m_bConnected; }
    CUserList& Roster() { return m_roster; }

private:
    // The counted steps of the sign-on stream; each true if it failed.
    [[nodiscard]] static bool SignOnSend(CSocket& stream, const std::string& bytes);
    [[nodiscard]] static bool SignOnReceive(CSocket& stream, void* pBuf, int len);
    // Give the sign-on up: the stream and the datagram socket closed, the
    // room copy emptied, the reason shown. Always true, Logon's result.
    [[nodiscard]] bool AbandonSignOn(CSocket& stream, const char* pReason);
    // Abandon after a failed transfer, saying whether time ran out.
    [[nodiscard]] bool LostSignOn(CSocket& stream, std::chrono::steady_clock::time_point deadline);
    // Add a user at the head of the room copy, if the copy has room for it.
    void AddToRoom(std::unique_ptr<CUserInfo> pUser);
    void EmptyRoom();
    // A sign-on that ends before the room: the reason in the log and, since
    // the window ends right after, in a message box. Always true.
    [[nodiscard]] bool EndSignOn(const std::string& reason);

    IClientView* m_pWnd = nullptr;
    bool m_bConnected = false;
    std::string m_ownLinePrefix;  // "<name> " of the last sign-on: how this user's relayed lines begin
    CClientUdpSocket m_udpSocket;
    CUserList m_roster;
    std::size_t m_nRoomNameBytes = 0;  // of the names in m_roster
    std::chrono::milliseconds m_signOnLimit = std::chrono::seconds(10);
};
