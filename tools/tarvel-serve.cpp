// Runs the serving core without a window, until SIGINT or SIGTERM:
//   tarvel-serve ROOT PORT [DEFAULT_PAGE]
// For benchmarks, black-box tests and machines without a display.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AsyncSocket.h"
#include "ListeningSocket.h"
#include "ProjectVersion.h"
#include "ServerCore.h"

namespace {
// Ends every socket wait at once and stops the loop below.
void OnStopSignal(int) {
    CSocketDispatcher::RequestTermination();
}

class CHeadlessServer : public CServerCore {
protected:
    void ShowStopMessage(const std::string& strText) override {
        std::fprintf(stderr, "%s\n", strText.c_str());
    }
};

bool ParsePort(const char* pszText, int& nPort) {
    char* pEnd = nullptr;
    errno = 0;
    long nValue = std::strtol(pszText, &pEnd, 10);
    if (errno != 0 || pEnd == pszText || *pEnd != '\0' || nValue < 0 || nValue > 65535) {
        return false;
    }
    nPort = static_cast<int>(nValue);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    static constexpr char kUsage[] =
        "usage: tarvel-serve ROOT PORT [DEFAULT_PAGE]\n"
        "  PORT 0 picks a free port; the address is printed.\n";
    const std::string strOption = argc == 2 ? argv[1] : "";
    if (strOption == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (strOption == "--version") {
        std::printf("tarvel-serve %s\n", version::kProjectVersion);
        return 0;
    }
    int nPort = 0;
    if (argc < 3 || argc > 4 || !ParsePort(argv[2], nPort)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!AfxSocketInit()) {
        std::fprintf(stderr, "Windows sockets initialization failed.\n");
        return 1;
    }

    // The handler also wakes the dispatcher's descriptor, so a request that
    // lands between the check and the wait below is not lost.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CHeadlessServer server;
    server.m_strRoot = argv[1];
    server.m_nChannel = static_cast<int16_t>(nPort);
    server.m_strDefaultURL = argc == 4 ? argv[3] : "index.htm";
    server.StartServer();
    if (!server.m_bRunning) {
        return 1;
    }
    std::printf("Serving %s on http://127.0.0.1:%u/\n", server.m_strRoot.c_str(),
                server.m_pListeningSocket->LocalPort());
    std::fflush(stdout);

    CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
    while (!CSocketDispatcher::TerminationRequested()) {
        dispatcher.RunOnce(-1);
    }
    server.StopServer();
    return dispatcher.PollError() == 0 ? 0 : 1;
}
