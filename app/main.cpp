// The desktop program: one role per run, chosen in the Connect dialog.

#include <QApplication>

#include <cstdio>

#include "ChatApp.h"
#include "DisplayCheck.h"

int main(int, char* argv[])
{
    // Without a display Qt would abort; say why instead.
    if (!DisplayFound()) {
        std::fputs(kNoDisplayMessage, stderr);
        return 1;
    }
    // The program reads no command line, so Qt is shown only its name.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    g_theApp.InitInstance();
    return 0;
}
