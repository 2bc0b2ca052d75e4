#include "UsersBox.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstring>

#include "UserInfo.h"
#include "UserList.h"

void CUsersBox::Attach(QPlainTextEdit* pBox, FFormat format)
{
    m_pBox = pBox;
    m_format = std::move(format);
}

bool CUsersBox::Shows(const CEntry& entry, const CUserInfo& user)
{
    return entry.pUser == &user && entry.ping == user.m_ping && entry.name == user.m_name &&
           std::memcmp(&entry.addr, &user.m_addr, sizeof entry.addr) == 0;
}

void CUsersBox::Show(const CUserList& roster)
{
    if (m_pBox == nullptr)
        return;
    QTextDocument* pDoc = m_pBox->document();
    QScrollBar* pBar = m_pBox->verticalScrollBar();
    const bool atTop = pBar->value() == pBar->minimum();
    QTextCursor cursor(pDoc);
    cursor.beginEditBlock();

    // One walk of the roster beside the shown entries. Users keep their order
    // in a roster, and newcomers come in at the head, so an entry that does
    // not show the user at hand either shows a user who left (that user is
    // still shown further on) or stands after a newcomer. Newcomers next to
    // each other go in with one insertion. The links are followed directly,
    // never with the roster's cursor: a drawing can run while a sign-on is
    // walking the roster with it.
    auto it = m_entries.begin();
    int block = 0;      // the box's paragraph where *it begins
    QString newcomers;  // entries to go in before *it
    int newLines = 0;
    auto insertNewcomers = [&] {
        if (newcomers.isEmpty())
            return;
        cursor.setPosition(pDoc->findBlockByNumber(block).position());
        cursor.insertText(newcomers);
        block += newLines;
        newcomers.clear();
        newLines = 0;
    };
    auto removeEntry = [&] {
        insertNewcomers();
        cursor.setPosition(pDoc->findBlockByNumber(block).position());
        cursor.setPosition(pDoc->findBlockByNumber(block + it->lines).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        if (const auto found = m_byUser.find(it->pUser); found != m_byUser.end() && found->second == it)
            m_byUser.erase(found);
        it = m_entries.erase(it);
    };

    for (const CUserNode* pNode = roster.m_pHead; pNode; pNode = pNode->pNext) {
        const CUserInfo& user = *pNode->pUser;
        for (;;) {
            if (it != m_entries.end() && Shows(*it, user)) {
                insertNewcomers();
                block += it->lines;
                ++it;
                break;
            }
            const auto found = m_byUser.find(&user);
            if (it != m_entries.end() && found != m_byUser.end() && Shows(*found->second, user)) {
                removeEntry();
                continue;
            }
            const QString text = m_format(user);
            const int lines = static_cast<int>(text.count(QLatin1Char('\n')));
            m_byUser[&user] = m_entries.insert(it, CEntry{&user, user.m_name, user.m_ping, user.m_addr, lines});
            newcomers += text;
            newLines += lines;
            break;
        }
    }
    insertNewcomers();
    while (it != m_entries.end())
        removeEntry();
    cursor.endEditBlock();
    if (atTop)
        pBar->setValue(pBar->minimum());
}

void CUsersBox::Clear()
{
    m_entries.clear();
    m_byUser.clear();
    if (m_pBox)
        m_pBox->clear();
}
