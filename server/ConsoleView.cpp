#include "ConsoleView.h"

#include <cstdio>

namespace {

// Written as bytes: a logged datagram starts with its type byte, and a name
// is whatever bytes the client sent.
void WriteLine(std::FILE* pOut, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), pOut);
    std::fputc('\n', pOut);
    std::fflush(pOut);
}

}  // namespace

void CConsoleView::AppendLog(const std::string& text) { WriteLine(stdout, text); }

// With no window there is no user list or counter to redraw; the log says
// who joins and leaves.
void CConsoleView::UpdateUserList(CUserList& /*roster*/) {}

void CConsoleView::UpdateTraffic() {}

void CConsoleView::ShowMessage(const std::string& text) { WriteLine(stderr, text); }
