#pragma once
// Clocks and gauges of the relay benchmark: one monotonic clock that both of
// its processes read alike, the CPU time of this process and of another, and
// the resident set. Plain functions; nothing is owned.

#include <malloc.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

// Nanoseconds of CLOCK_MONOTONIC: the same clock in every process, so the
// load process can stamp an arrival that the server process compares with
// the moment it started sending.
inline std::int64_t NowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// CPU time of the whole calling process, user and system, all threads.
inline std::int64_t CpuNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// CPU time of another process of this machine that runs one thread (a child
// such as the room's server), or 0 once it is gone.
inline std::int64_t ProcessCpuNs(pid_t pid)
{
    // The first field: nanoseconds on a processor.
    long long ns = 0;
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    if (std::FILE* pFile = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(pFile, "%lld", &ns) != 1)
            ns = 0;
        std::fclose(pFile);
    }
    return ns;
}

// Resident set of the calling process in bytes.
inline std::int64_t ResidentBytes()
{
    long pages = 0, resident = 0;
    std::FILE* pFile = std::fopen("/proc/self/statm", "r");
    if (pFile == nullptr)
        return 0;
    if (std::fscanf(pFile, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(pFile);
    return static_cast<std::int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
}

// CPU time of the whole machine, all processors, busy and idle, from
// /proc/stat: what other programs took while a row ran, and whether the
// processors were ever idle.
struct CMachineCpu {
    std::int64_t busyNs = 0;
    std::int64_t idleNs = 0;
};

inline CMachineCpu MachineCpu()
{
    CMachineCpu cpu;
    long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    std::FILE* pFile = std::fopen("/proc/stat", "r");
    if (pFile == nullptr)
        return cpu;
    const int got = std::fscanf(pFile, "cpu %lld %lld %lld %lld %lld %lld %lld %lld", &user, &nice, &system, &idle,
                                &iowait, &irq, &softirq, &steal);
    std::fclose(pFile);
    if (got != 8)
        return cpu;
    const std::int64_t nsPerTick = 1'000'000'000 / ::sysconf(_SC_CLK_TCK);
    cpu.busyNs = (user + nice + system + irq + softirq + steal) * nsPerTick;
    cpu.idleNs = (idle + iowait) * nsPerTick;
    return cpu;
}

// Bytes the C library's allocator has handed out and not yet taken back.
inline std::int64_t HeapInUseBytes()
{
    return static_cast<std::int64_t>(::mallinfo2().uordblks);
}

// A thousand users are a thousand datagram sockets in the load process, and
// the server process holds a few more: lift the descriptor limit as far as
// the hard limit allows. True if it stays below want.
inline bool RaiseDescriptorLimit(rlim_t want)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return true;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return true;
    return limit.rlim_cur < want;
}
