#pragma once
// A server under measurement: a fresh server on the fixed ports for the
// length of some steps, and a way to keep it serving until the load process
// reports. Three kinds: the headless core (here), the server window
// (WindowTarget.h) and a server program in a child process
// (ProcessTarget.h). Owns the server it makes, for the length of Serve.

#include <functional>
#include <memory>

#include "BenchClock.h"
#include "ChatServer.h"
#include "LoadLink.h"
#include "PollLoop.h"
#include "ServerView.h"

// The limits of a server whose relay is measured: no rate limit on members
// and none on the log, so that what is measured is the relay itself.
CServerLimits RelayLimits();

class CServerTarget {
public:
    virtual ~CServerTarget() = default;

    virtual const char* Name() const = 0;
    // Start a fresh server, run steps while it serves, then destroy it (no
    // shutdown datagram). True if the server did not start.
    virtual bool Serve(const std::function<void()>& steps) = 0;
    // Serve until the load process reports; true if the link broke.
    virtual bool Await(CLoadLink& link, CLoadReport& report) = 0;
    // CPU time the server has taken so far.
    virtual std::int64_t ServerCpuNs() const { return CpuNs(); }
    // Whether the server runs in this process, where its memory is measured.
    virtual bool InProcess() const { return true; }
};

// The headless core in a poll loop, with a window that draws nothing: what
// the relay costs without any display.
class CHeadlessTarget : public CServerTarget {
public:
    const char* Name() const override { return "headless core"; }
    bool Serve(const std::function<void()>& steps) override;
    bool Await(CLoadLink& link, CLoadReport& report) override;

private:
    class CNullView : public IServerView {
    public:
        void AppendLog(const std::string&, ELogLevel) override {}
        void UpdateUserList(CUserList&) override {}
        void UpdateTraffic() override {}
        void ShowMessage(const std::string& text) override;
    };

    CPollLoop* m_pLoop = nullptr;  // the loop of the running Serve
};
