#include "RoomServer.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "ServerTarget.h"

CRoomServer::~CRoomServer()
{
    if (m_pid <= 0)
        return;
    CLoadCommand quit;
    quit.op = ELoadOp::Quit;
    m_link->Put(quit);
    ::waitpid(m_pid, nullptr, 0);
}

bool CRoomServer::Fork()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return true;
    m_pid = ::fork();
    if (m_pid < 0)
        return true;
    if (m_pid == 0) {
        // Nothing of the parent's stays open here: its links would outlive it.
        ::close_range(3, static_cast<unsigned>(pair[1]) - 1, 0);
        ::close_range(static_cast<unsigned>(pair[1]) + 1, ~0U, 0);
        ::_exit(ChildMain(pair[1]));
    }
    ::close(pair[1]);
    m_link.emplace(pair[0]);
    return false;
}

// Each command but Quit serves a fresh room until the next message: the
// first reply says whether it started, a second one follows its end.
int CRoomServer::ChildMain(int fd)
{
    CLoadLink link(fd);
    CLoadCommand cmd;
    while (!link.Get(cmd) && cmd.op != ELoadOp::Quit) {
        CHeadlessTarget server;
        CLoadReport reply;
        const bool failed = server.Serve([&] {
            reply.bReady = true;
            link.Put(reply);
            CLoadReport stop;
            server.Await(link, stop);
        });
        reply.bReady = !failed;
        link.Put(reply);
    }
    return 0;
}

bool CRoomServer::Start()
{
    CLoadCommand start;
    start.op = ELoadOp::Open;
    CLoadReport reply;
    return !m_link || m_link->Put(start) || m_link->Get(reply) || !reply.bReady;
}

bool CRoomServer::Stop()
{
    CLoadReport stop, reply;
    return !m_link || m_link->Put(stop) || m_link->Get(reply);
}

std::int64_t CRoomServer::CpuNs() const
{
    // The first field: nanoseconds on a processor, all of the child's one thread.
    long long ns = 0;
    const std::string path = "/proc/" + std::to_string(m_pid) + "/schedstat";
    if (std::FILE* pFile = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(pFile, "%lld", &ns) != 1)
            ns = 0;
        std::fclose(pFile);
    }
    return ns;
}
