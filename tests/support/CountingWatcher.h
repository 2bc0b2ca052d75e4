#pragma once
// A watcher for tests of either event loop: counts the readable and the
// writable notifications it is given, and does nothing else. Owns nothing.

#include "EventLoop.h"

class CCountingWatcher : public CWatcher {
public:
    void OnReadable() override { ++m_nReads; }
    void OnWritable() override { ++m_nWrites; }

    int m_nReads = 0;
    int m_nWrites = 0;
};
