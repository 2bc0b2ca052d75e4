#pragma once
// The server window as a server under measurement: a CServerDlg run modally
// under whatever Qt platform runs (offscreen in the benchmark), the steps
// inside its modal loop, and the window's log timed on its own. Needs a
// QApplication and a CQtEventLoop. Owns the window for the length of Serve.

#include <cstdint>
#include <vector>

#include "ServerTarget.h"

class CWindowTarget : public CServerTarget {
public:
    const char* Name() const override { return "server window"; }
    bool Serve(const std::function<void()>& steps) override;
    bool Await(CLoadLink& link, CLoadReport& report) override;

    // Append blocks of lines to a shown server window's log (the loop runs
    // every 100 lines, as a busy server's does); the processor time of each
    // block until its last line is in the log box.
    static std::vector<std::int64_t> TimeLogBlocks(int blocks, int linesPerBlock);
};
