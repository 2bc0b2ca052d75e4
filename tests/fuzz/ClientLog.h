#pragma once
// The client window of the fuzz targets: a recording window that also keeps
// the most users a roster it is shown held at any refresh of the totals.
// Owns nothing.

#include "RecordingView.h"
#include "UserList.h"

class CClientLog : public CRecordingView {
public:
    // The sign-on redraws the totals after every room entry it takes.
    void UpdateTraffic() override
    {
        CRecordingView::UpdateTraffic();
        if (m_pCounted && m_pCounted->m_nCount > m_nMostUsers)
            m_nMostUsers = m_pCounted->m_nCount;
    }

    const CUserList* m_pCounted = nullptr;  // the roster whose size is followed
    int m_nMostUsers = 0;
};
