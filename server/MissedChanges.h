#pragma once
// What a newcomer's room list does not show: the members who joined after it
// was taken, in the order they joined, and the names of listed members who
// left since. The core tells it of each change while it follows the room;
// the newcomer is sent it before its own join. It holds no record: a member
// that joined since is known by its record only while that is in the room.

#include <string>
#include <vector>

class CUserInfo;

class CMissedChanges {
public:
    void Joined(const CUserInfo* pUser);
    // Called while pUser is still in the room, before it is freed.
    void Leaving(const CUserInfo* pUser);

    // HDR_LEAVE for each listed member that left, then HDR_NEW for each member
    // that joined, oldest first: a copy of the listed room that takes them in
    // this order equals the room. Leaves go first, so that a member who left
    // and one of the same name who joined since are not both taken away.
    std::vector<std::string> Datagrams() const;

private:
    std::vector<const CUserInfo*> m_joined;  // oldest first
    std::vector<std::string> m_leftNames;
};
