#pragma once
// The blocking stream socket of a sign-on. A call that cannot complete at
// once waits for its own socket only, in short slices; between slices the
// thread's loop repaints windows and delivers nothing else, so no other
// socket's notification and no user input is handled until the operation
// that made the blocking calls has returned.
//
// A deadline, when set, bounds every call: past it a call fails with
// ETIMEDOUT, so neither a silent peer nor one that keeps sending can hold the
// thread for ever.

#include <chrono>

#include "AsyncSocket.h"

class CSocket : public CAsyncSocket {
public:
    using Clock = std::chrono::steady_clock;

    CSocket() = default;
    ~CSocket() override = default;

    [[nodiscard]] bool Create();  // a stream socket on any local port, with no notifications
    void SetDeadline(Clock::time_point deadline) { m_deadline = deadline; }

    [[nodiscard]] bool Connect(const sockaddr_in& addr) override;  // waits for the outcome
    [[nodiscard]] int Send(const void* pBuf, int len) override;     // all len bytes, or -1
    [[nodiscard]] int Receive(void* pBuf, int len) override;        // 1..len bytes, 0 closed, -1 error
    [[nodiscard]] int Peek(void* pBuf, int len);                    // as Receive; the bytes stay queued
    // Receive until len bytes have arrived. True (failed) if the peer closed
    // or a receive failed first; *pGot then tells how many did arrive.
    [[nodiscard]] bool ReceiveFull(void* pBuf, int len, int* pGot);

private:
    [[nodiscard]] int ReceiveWaiting(void* pBuf, int len, int flags);
    [[nodiscard]] bool Wait(short events);  // true if the deadline passed or poll failed
    [[nodiscard]] bool PastDeadline() const;  // true, with errno ETIMEDOUT, once it has passed

    Clock::time_point m_deadline = Clock::time_point::max();
};
