#include "EventLoop.h"

namespace {
thread_local CEventLoop* t_pCurrent = nullptr;
}

CEventLoop::CEventLoop() : m_pOuter(t_pCurrent) { t_pCurrent = this; }

CEventLoop::~CEventLoop()
{
    if (t_pCurrent == this)
        t_pCurrent = m_pOuter;
}

CEventLoop* CEventLoop::Current() { return t_pCurrent; }
