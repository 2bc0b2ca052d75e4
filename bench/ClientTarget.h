#pragma once
// A client under measurement in a busy room: a fresh client signed on to the
// room's server on 127.0.0.1 for the length of some steps, counting the
// relayed lines it shows. Two kinds: the headless client core (here) and the
// client window (ClientWindowTarget.h). Owns the client it makes, for the
// length of Serve.

#include <cstdint>
#include <functional>

#include "LoadLink.h"

class CPollLoop;

class CClientTarget {
public:
    virtual ~CClientTarget() = default;

    virtual const char* Name() const = 0;
    // Make a client, sign it on and run steps while it is in the room, then
    // destroy it (nothing sent). True if it did not sign on.
    virtual bool Serve(const std::function<void()>& steps) = 0;
    // Run the client until the load process reports; true if the link broke.
    virtual bool Await(CLoadLink& link, CLoadReport& report) = 0;
    // Run the client until it has shown `lines` lines since BeginCount, or
    // has shown none for quietMs.
    virtual void Settle(std::int64_t lines, int quietMs) = 0;

    // Count relayed lines from now on, once what came before is shown.
    virtual void BeginCount();
    std::int64_t Shown() const { return m_nShown; }
    std::int64_t LastShownNs() const { return m_lastShownNs; }  // NowNs() of the last

protected:
    void CountShown(std::int64_t lines);

private:
    std::int64_t m_nShown = 0;
    std::int64_t m_lastShownNs = 0;
};

// The client core in a poll loop, with a view that only counts the relayed
// lines: what a client costs without any display.
class CHeadlessClient : public CClientTarget {
public:
    const char* Name() const override { return "client core"; }
    bool Serve(const std::function<void()>& steps) override;
    bool Await(CLoadLink& link, CLoadReport& report) override;
    void Settle(std::int64_t lines, int quietMs) override;

private:
    class CCountingView;

    CPollLoop* m_pLoop = nullptr;  // the loop of the running Serve
};

// What the client rows sign on as, and how a relayed line of the load starts
// once the client has taken its type byte off: "<u%04d> ".
constexpr char kBenchClientName[] = "bench";
bool IsBenchRelay(const char* pText);
