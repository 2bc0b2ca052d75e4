#pragma once
// The server window of the fuzz targets: keeps the log lines and the
// message-box texts. Owns nothing.

#include <string>
#include <vector>

#include "ServerView.h"

class CServerLog : public IServerView {
public:
    void AppendLog(const std::string& text, ELogLevel /*level*/) override { m_lines.push_back(text); }
    void UpdateUserList(CUserList& /*roster*/) override {}
    void UpdateTraffic() override {}
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }

    std::vector<std::string> m_lines;
    std::vector<std::string> m_messages;
};
