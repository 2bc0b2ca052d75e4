#pragma once
// Between server_tests and the C library (the tests link with --wrap of
// sendmmsg, accept4 and socket): a test can see the datagrams that the
// socket layer hands to the system, in order, and make accept or socket
// fail the way they do when the process has no descriptor left. Owns
// nothing.

#include <netinet/in.h>

#include <vector>

// While set: each address that a sendmmsg call got a datagram out to, in
// the order of the calls and of each batch.
extern std::vector<sockaddr_in>* g_pHandedOver;
// While nonzero: accept4, or socket, does nothing and fails with this errno.
extern int g_nFailAccept;
extern int g_nFailSocket;

// Sets one of the failures above for its lifetime.
class CFailCalls {
public:
    CFailCalls(int& setting, int error) : m_setting(setting) { m_setting = error; }
    ~CFailCalls() { m_setting = 0; }
    CFailCalls(const CFailCalls&) = delete;
    CFailCalls& operator=(const CFailCalls&) = delete;

private:
    int& m_setting;
};
