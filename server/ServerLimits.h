#pragma once
// Every limit the server core puts on its peers, in one place: how long a
// sign-on may take, how fast a member may send, and how much of the log the
// peers may cause. zephran-server takes the rate of members from its command
// line; the benchmarks turn the rate limits off to measure the relay itself.

#include "FloodGuard.h"
#include "LogBudget.h"
#include "SignOn.h"

struct CServerLimits {
    CSignOn::CLimits signOn;
    CFloodGuard::CLimits flood;
    CLogBudget::CSettings log;
};
