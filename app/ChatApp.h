#pragma once
// The application: starts the socket layer, lets the user choose a role in
// the Connect dialog and then runs exactly one main window. It owns nothing
// between runs; the dialogs and the event loop live only inside InitInstance.

class CChatApp {
public:
    CChatApp();  // the traffic totals count from here

    // The whole run of the program, from socket start-up until the main
    // window closes. Always false: nothing follows it, the program ends.
    bool InitInstance();
};

// The one application object.
extern CChatApp g_theApp;
