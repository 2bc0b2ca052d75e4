#pragma once
// The client window as a client under measurement: a CClientDlg run modally
// under whatever Qt platform runs (offscreen in the benchmark), signed on by
// its Logon button, the steps inside its modal loop. A line counts as shown
// once it is in the window's log box. Needs a QApplication and a
// CQtEventLoop. Owns the window for the length of Serve.

#include "ClientTarget.h"

class CClientWindowTarget : public CClientTarget {
public:
    const char* Name() const override { return "client window"; }
    bool Serve(const std::function<void()>& steps) override;
    bool Await(CLoadLink& link, CLoadReport& report) override;
    void Settle(std::int64_t lines, int quietMs) override;
    void BeginCount() override;

private:
    std::int64_t m_nChars = 0;  // taken into the log box, not yet counted as lines
};
