#pragma once
// The users box of a main window: one entry per user of a roster, newest
// first, each of the lines its window formats. It follows the roster by
// changing only the entries of users who joined or left since it last
// looked, so that a join costs the same in a room of any size. Owns its copy
// of what it shows, not the box or the roster.

#include <QString>

#include <functional>
#include <list>
#include <string>
#include <unordered_map>

#include <netinet/in.h>

class CUserInfo;
class CUserList;
class QPlainTextEdit;

class CUsersBox {
public:
    // A user's entry as text of the box, each line ended by "\n".
    using FFormat = std::function<QString(const CUserInfo&)>;

    void Attach(QPlainTextEdit* pBox, FFormat format);

    // The box shows the roster's users, from the head: entries of users no
    // longer there go, new users' entries come in where they stand, and the
    // rest is left alone. The view stays at the top if it was there.
    void Show(const CUserList& roster);
    void Clear();

private:
    // A shown user: the record it was made from and what was shown of it.
    // The record's fields are kept too, as a record freed and another made
    // at its address is another user.
    struct CEntry {
        const CUserInfo* pUser;
        std::string name;
        int ping;
        sockaddr_in addr;
        int lines;  // in the box
    };
    using Entries = std::list<CEntry>;

    static bool Shows(const CEntry& entry, const CUserInfo& user);

    QPlainTextEdit* m_pBox = nullptr;
    FFormat m_format;
    Entries m_entries;  // in the box's order
    std::unordered_map<const CUserInfo*, Entries::iterator> m_byUser;
};
