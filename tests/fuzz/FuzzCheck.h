#pragma once
// The checks of the fuzz targets: a broken invariant prints what broke and
// aborts, which libFuzzer reports as a crash with the input that caused it.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "UserList.h"

inline void Require(bool holds, const char* pWhat, const std::string& detail = {})
{
    if (holds)
        return;
    std::fprintf(stderr, "invariant broken: %s %s\n", pWhat, detail.c_str());
    std::abort();
}

// The roster's count equals the links reachable from its head, counted by
// the links themselves rather than by a counted walk.
inline void RequireRosterConsistent(const CUserList& roster)
{
    int links = 0;
    for (const CUserNode* pNode = roster.m_pHead; pNode != nullptr && links <= roster.m_nCount; pNode = pNode->pNext) {
        Require(pNode->pUser != nullptr, "roster link without a record");
        ++links;
    }
    Require(links == roster.m_nCount, "roster count differs from its links",
            std::to_string(links) + " links, count " + std::to_string(roster.m_nCount));
}
