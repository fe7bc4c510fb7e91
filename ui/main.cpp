// Tarvel: a small desktop web server. The control window is the program.
#include "ServerApp.h"

int main(int argc, char** argv) {
    CServerApp app(argc, argv);
    app.InitInstance();
    return app.ExitCode();
}
