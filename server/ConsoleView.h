#pragma once
// The headless server's window: log lines go to standard output, message-box
// texts to standard error, each line flushed as it is written. Owns nothing.

#include "ServerView.h"

class CConsoleView : public IServerView {
public:
    void AppendLog(const std::string& text) override;
    void UpdateUserList(CUserList& roster) override;
    void UpdateTraffic() override;
    void ShowMessage(const std::string& text) override;
};
