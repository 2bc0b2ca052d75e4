#include "ClientWindowTarget.h"

#include <arpa/inet.h>

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <string>

#include "BenchClock.h"
#include "ClientDlg.h"
#include "EventLoop.h"
#include "LoadSide.h"
#include "Loopback.h"
#include "ReportWait.h"
#include "Resources.h"

namespace {

// A relayed line of the load as the log holds it: "<u%04d> ", the line, and
// the one character that ends it in the document.
constexpr int kShownLineChars = 8 + kBenchLineLength + 1;

}  // namespace

bool CClientWindowTarget::Serve(const std::function<void()>& steps)
{
    CClientDlg dlg;
    dlg.SetServerAddress(LoopbackAddressOnly());
    dlg.SetUserName(kBenchClientName);
    // Relayed lines are counted as the log box takes them in, by their
    // length: nothing else reaches the log while lines are counted.
    QObject::connect(dlg.ControlAs<QPlainTextEdit>(IDC_LOG)->document(), &QTextDocument::contentsChange,
                     [this](int, int, int added) {
                         m_nChars += added;
                         if (m_nChars >= kShownLineChars) {
                             CountShown(m_nChars / kShownLineChars);
                             m_nChars %= kShownLineChars;
                         }
                     });
    // No one is there to answer a message box: say what it said and go on.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "client window: %s\n", pBox->text().toLocal8Bit().constData());
            pBox->accept();
        }
    });
    boxes.start(100);

    bool ran = false;
    QTimer::singleShot(0, &dlg, [&] {
        dlg.ControlAs<QPushButton>(IDC_LOGON)->click();
        // A failed sign-on ends the window.
        if (!dlg.isVisible())
            return;
        ran = true;
        steps();
        dlg.done(QDialog::Rejected);
    });
    dlg.exec();
    return !ran;
}

bool CClientWindowTarget::Await(CLoadLink& link, CLoadReport& report)
{
    return AwaitReport(*CEventLoop::Current(), link, report);
}

void CClientWindowTarget::BeginCount()
{
    // A few frames, so that the lines queued before are drawn and not counted.
    const std::int64_t until = NowNs() + 100'000'000;
    while (NowNs() < until && CEventLoop::Current()->RunOnce(10) >= 0) {
    }
    m_nChars = 0;
    CClientTarget::BeginCount();
}

void CClientWindowTarget::Settle(std::int64_t lines, int quietMs)
{
    while (Shown() < lines && NowNs() - LastShownNs() < quietMs * 1'000'000LL &&
           CEventLoop::Current()->RunOnce(10) >= 0) {
    }
}
