#pragma once
// The roster: a newest-first singly linked list of users that carries its own
// walk cursor. It owns every link and every record in it.
//
// Every walk is counted: take m_nCount, BeginWalk(), then that many times look
// at Current() and either Advance() or RemoveCurrent(). Only one walk may be in
// progress on a list at a time.

#include <cstdint>

class CUserInfo;

struct CUserNode {
    CUserInfo* pUser = nullptr;  // owned by the list
    CUserNode* pNext = nullptr;  // null at the tail
};

class CUserList {
public:
    CUserList() = default;
    ~CUserList();
    CUserList(const CUserList&) = delete;
    CUserList& operator=(const CUserList&) = delete;

    void AddHead(CUserInfo* pUser);  // takes ownership; leaves the cursor alone
    void BeginWalk();
    void Advance();
    void RemoveCurrent();  // frees the cursor's record; the cursor moves on
    void RemoveAll();      // frees everything; cursor and previous end null

    CUserInfo* Current() const { return m_pCur ? m_pCur->pUser : nullptr; }

    CUserNode* m_pHead = nullptr;
    CUserNode* m_pCur = nullptr;
    CUserNode* m_pPrev = nullptr;
    std::int32_t m_nCount = 0;
};
