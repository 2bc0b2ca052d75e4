#pragma once
// Log lines on their way to a writer, with a burst of one same line written
// once and then counted, as syslog does: "last line repeated N times"
// follows when a different line comes, or a second after the first repeat
// while the burst goes on. Different lines are never merged. Owns its
// timer; not the writer.

#include <string>

#include "EventLoop.h"

class CLogWriter;

class CRepeatFilter : private CTimer {
public:
    // Counts are written on time by the loop that is current now, if any.
    explicit CRepeatFilter(CLogWriter& out);
    ~CRepeatFilter();
    CRepeatFilter(const CRepeatFilter&) = delete;
    CRepeatFilter& operator=(const CRepeatFilter&) = delete;

    void WriteLine(std::string line);
    // Write the count of a burst that is still going on, as its end would.
    void Finish();

private:
    void OnTimer() override;
    // One repeat is written as the line itself; more as their count.
    void WriteCount();

    CLogWriter& m_out;
    CEventLoop* m_pLoop;
    std::string m_last;      // the line a repeat is compared with
    bool m_bHaveLast = false;
    int m_nRepeats = 0;      // repeats of m_last not yet written or counted
};
