#include "UserList.h"

#include "UserInfo.h"

CUserList::~CUserList() { RemoveAll(); }

void CUserList::AddHead(CUserInfo* pUser)
{
    m_pHead = new CUserNode{pUser, m_pHead};
    ++m_nCount;
}

void CUserList::BeginWalk()
{
    m_pCur = m_pHead;
    m_pPrev = nullptr;
}

void CUserList::Advance()
{
    m_pPrev = m_pCur;
    m_pCur = m_pCur->pNext;
}

void CUserList::RemoveCurrent()
{
    CUserNode* pGone = m_pCur;
    CUserNode*& pLink = m_pPrev ? m_pPrev->pNext : m_pHead;
    pLink = pGone->pNext;
    m_pCur = pGone->pNext;
    delete pGone->pUser;
    delete pGone;
    --m_nCount;
}

void CUserList::RemoveAll()
{
    while (m_pHead) {
        CUserNode* pGone = m_pHead;
        m_pHead = pGone->pNext;
        delete pGone->pUser;
        delete pGone;
    }
    m_nCount = 0;
    m_pCur = nullptr;
    m_pPrev = nullptr;
}
