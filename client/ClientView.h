#pragma once
// What the client core needs of its window: the core calls these
// synchronously whenever something happens, and never sees Qt.

#include <string>

class CUserList;

class IClientView {
public:
    // Append text and a line break to the log.
    virtual void AppendLog(const std::string& text) = 0;
    // Redraw the users box and "Total Clients: %i" from the roster.
    virtual void UpdateUserList(CUserList& roster) = 0;
    // Empty the users box and the "Total Clients" label.
    virtual void ClearUserList() = 0;
    // Redraw "Bytes Read: %i" and "Bytes Written: %i" from the totals.
    virtual void UpdateTraffic() = 0;
    // A modal message box with one OK; returns once it has been answered.
    virtual void ShowMessage(const std::string& text) = 0;
    // A line from the room has just been logged: a member's line, a join or
    // leave line, or the server's shutdown notice, but never the relay of
    // this user's own line. The window may ask for the user's attention.
    virtual void OnRoomLine() = 0;

protected:
    ~IClientView() = default;
};
