// The desktop program: one role per run, chosen in the Connect dialog.

#include <QApplication>

#include "ChatApp.h"

int main(int, char* argv[])
{
    // The program reads no command line, so Qt is shown only its name.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    g_theApp.InitInstance();
    return 0;
}
