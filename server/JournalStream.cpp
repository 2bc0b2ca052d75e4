#include "JournalStream.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

bool CJournalStream::Names(const char* names, int fd)
{
    unsigned long long device = 0, inode = 0;
    char rest = 0;
    if (names == nullptr || std::sscanf(names, "%llu:%llu%c", &device, &inode, &rest) != 2)
        return false;
    struct stat about;
    return ::fstat(fd, &about) == 0 && about.st_dev == device && about.st_ino == inode;
}

bool CJournalStream::Is(int fd) { return Names(std::getenv("JOURNAL_STREAM"), fd); }

std::string CJournalStream::Prefix(ELogLevel level)
{
    return "<" + std::to_string(static_cast<int>(level)) + ">";
}
