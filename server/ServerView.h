#pragma once
// What the server core needs of its window: the core calls these
// synchronously whenever something happens, and never sees Qt.

#include <string>

class CUserList;

// How much a log line matters, in syslog's numbers, so that a log that keeps
// levels (the journal) can sort the server's own failures from what peers did
// wrong and from the chat itself. A window shows every line alike.
enum class ELogLevel : unsigned char {
    Error = 3,    // the server itself failed at something
    Warning = 4,  // a peer did something wrong: a bad datagram, a broken sign-on
    Notice = 5,   // the server starts or stops
    Info = 6,     // the steps of a sign-on, joins and leaves
    Debug = 7,    // a member's relayed chat line
};

class IServerView {
public:
    // Append text and a line break to the log.
    virtual void AppendLog(const std::string& text, ELogLevel level) = 0;
    // Redraw the users box and "Total Clients: %i" from the roster.
    virtual void UpdateUserList(CUserList& roster) = 0;
    // Redraw "Bytes Read: %i" and "Bytes Written: %i" from the totals.
    virtual void UpdateTraffic() = 0;
    // A modal message box with one OK; returns once it has been answered.
    virtual void ShowMessage(const std::string& text) = 0;

protected:
    ~IServerView() = default;
};
