#include "WindowTarget.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>

#include "BenchClock.h"
#include "Resources.h"
#include "ServerDlg.h"

bool CWindowTarget::Serve(const std::function<void()>& steps)
{
    CServerDlg dlg;
    dlg.SetLimits(RelayLimits());
    bool ran = false;
    // The steps run inside the window's own modal loop, as its sockets'
    // notifications do; a window that fails to start never gets there.
    QTimer::singleShot(0, &dlg, [&] {
        ran = true;
        steps();
        dlg.done(QDialog::Rejected);
    });
    dlg.exec();
    return !ran;
}

bool CWindowTarget::Await(CLoadLink& link, CLoadReport& report)
{
    QSocketNotifier notifier(link.Fd(), QSocketNotifier::Read);
    QEventLoop wait;
    bool failed = false;
    QObject::connect(&notifier, &QSocketNotifier::activated, &wait, [&] {
        notifier.setEnabled(false);
        failed = link.Get(report);
        wait.quit();
    });
    wait.exec();
    return failed;
}

std::vector<std::int64_t> CWindowTarget::TimeLogBlocks(int blocks, int linesPerBlock)
{
    CServerDlg dlg;
    dlg.show();
    QCoreApplication::processEvents();
    const auto* pLog = dlg.ControlAs<QPlainTextEdit>(IDC_LOG);
    std::vector<std::int64_t> times;
    char line[64];
    int number = 0;
    for (int b = 0; b < blocks; ++b) {
        // Processor time: the wait for the frame that draws the block's last
        // lines is idle, and other programs on the machine are not counted.
        const std::int64_t start = CpuNs();
        for (int i = 0; i < linesPerBlock; ++i) {
            // A relayed line as the log shows it: type byte, sender, text.
            std::snprintf(line, sizeof line, "\x02<u%04d> %08d ..............................", number % 1000, number);
            ++number;
            dlg.AppendLog(line, ELogLevel::Debug);
            if (number % 100 == 0)
                QCoreApplication::processEvents();
        }
        // The block is done when its last line is in the log box: the window
        // draws queued lines once a frame, so wait for that frame here rather
        // than charge it to the next block.
        const QString last = QString::fromLocal8Bit(line);
        while (!pLog->document()->lastBlock().previous().text().endsWith(last))
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        times.push_back(CpuNs() - start);
    }
    return times;
}
