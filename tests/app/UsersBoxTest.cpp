// The users box: it shows a roster's users newest first, and follows joins
// and leaves by changing only their entries.

#include <QPlainTextEdit>
#include <QTextDocument>
#include <QtTest>

#include <string>

#include "UserInfo.h"
#include "UserList.h"
#include "UsersBox.h"

namespace {

QString Entry(const CUserInfo& user)
{
    return QString::fromStdString(user.m_name) + QStringLiteral(" (%1)\n @x\n").arg(user.m_ping);
}

// The box as a rebuild from the whole roster would show it.
QString Rebuilt(const CUserList& roster)
{
    QString text;
    for (const CUserNode* pNode = roster.m_pHead; pNode; pNode = pNode->pNext)
        text += Entry(*pNode->pUser);
    return text;
}

CUserInfo* Add(CUserList& roster, const std::string& name, int ping = 0)
{
    auto* pUser = new CUserInfo;
    pUser->m_name = name;
    pUser->m_ping = ping;
    roster.AddHead(pUser);
    return pUser;
}

void Remove(CUserList& roster, const CUserInfo* pUser)
{
    const int count = roster.m_nCount;
    roster.BeginWalk();
    for (int k = 0; k < count; ++k) {
        if (roster.Current() == pUser)
            roster.RemoveCurrent();
        else
            roster.Advance();
    }
}

}  // namespace

class CUsersBoxTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsTheRosterNewestFirstThroughEveryChange();
    void JoinAndLeaveChangeOnlyTheirOwnEntries();
};

void CUsersBoxTest::ShowsTheRosterNewestFirstThroughEveryChange()
{
    QPlainTextEdit box;
    CUsersBox users;
    users.Attach(&box, Entry);
    CUserList roster;
    users.Show(roster);
    QCOMPARE(box.toPlainText(), QString());

    CUserInfo* pAnn = Add(roster, "ann", 3);
    CUserInfo* pBob = Add(roster, "bob");
    Add(roster, "ann", 3);  // a second user of the same name
    users.Show(roster);
    QCOMPARE(box.toPlainText(), Rebuilt(roster));

    // Several changes between two looks: leaves at the head, in the middle
    // and at the tail, and joins among them.
    Remove(roster, pBob);
    CUserInfo* pCid = Add(roster, "cid");
    Remove(roster, pAnn);
    Add(roster, "dan");
    users.Show(roster);
    QCOMPARE(box.toPlainText(), Rebuilt(roster));
    Remove(roster, roster.m_pHead->pUser);
    Remove(roster, pCid);
    users.Show(roster);
    QCOMPARE(box.toPlainText(), Rebuilt(roster));

    // A record that now holds another user (as one freed and made again at
    // the same address would) is another entry.
    roster.m_pHead->pUser->m_name = "eve";
    users.Show(roster);
    QCOMPARE(box.toPlainText(), Rebuilt(roster));

    roster.RemoveAll();
    users.Show(roster);
    QCOMPARE(box.toPlainText(), QString());
    Add(roster, "fay");
    users.Show(roster);
    users.Clear();
    QCOMPARE(box.toPlainText(), QString());
    users.Show(roster);
    QCOMPARE(box.toPlainText(), Rebuilt(roster));
    roster.RemoveAll();
}

void CUsersBoxTest::JoinAndLeaveChangeOnlyTheirOwnEntries()
{
    QPlainTextEdit box;
    CUsersBox users;
    users.Attach(&box, Entry);
    CUserList roster;
    for (int i = 0; i < 1000; ++i)
        Add(roster, "u" + std::to_string(i));
    users.Show(roster);

    int changed = 0;  // characters removed and added
    QObject::connect(box.document(), &QTextDocument::contentsChange,
                     [&changed](int, int removed, int added) { changed += removed + added; });
    CUserInfo* pNew = Add(roster, "newcomer");
    users.Show(roster);
    QCOMPARE(changed, Entry(*pNew).size());
    changed = 0;
    const QString leaving = Entry(*roster.m_pHead->pNext->pNext->pUser);
    Remove(roster, roster.m_pHead->pNext->pNext->pUser);
    users.Show(roster);
    QCOMPARE(changed, leaving.size());
    QCOMPARE(box.toPlainText(), Rebuilt(roster));
    roster.RemoveAll();
}

QTEST_MAIN(CUsersBoxTest)
#include "UsersBoxTest.moc"
