#pragma once
// Waiting for the load process's report while a target serves: the loop runs
// (whichever backend it is) until the report can be read. Owns nothing.

#include "LoadLink.h"

class CEventLoop;

// Run loop until a report arrives on link, and take it; true if the link
// broke or could not be watched.
bool AwaitReport(CEventLoop& loop, CLoadLink& link, CLoadReport& report);
