// Runs the serving core without a window, until SIGINT or SIGTERM:
//   tarvel-serve [--list] [--preview] [--concurrent] [--upload] [--private[=KEY]]
//                ROOT PORT [DEFAULT_PAGE]
// For benchmarks, black-box tests and machines without a display.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Socket.h"
#include "ListeningSocket.h"
#include "NetworkAddresses.h"
#include "PrivateLink.h"
#include "ProjectVersion.h"
#include "ServeArguments.h"
#include "ServerCore.h"
#include "StopSignals.h"

namespace {
constexpr char kBadKeyText[] =
    "tarvel-serve: --private=KEY: KEY must be 26 characters of a-z and 2-7 (--private alone "
    "makes a fresh one)\n";

constexpr char kUsage[] =
    "usage: tarvel-serve [--list] [--preview] [--concurrent] [--upload]\n"
    "                    [--private[=KEY]] ROOT PORT [DEFAULT_PAGE]\n"
    "  --list        a folder without its default page shows the list of its files\n"
    "                (the names that would be served), sortable by name, size and\n"
    "                date\n"
    "  --preview     preview a website: an open HTML page asks about once a second\n"
    "                whether it or a file it loaded changed, and reloads keeping its\n"
    "                place (a changed stylesheet is swapped in place); the root's\n"
    "                404.html answers missing pages, /about gets about.html (then\n"
    "                .htm), a folder without its default page gets index.html, then\n"
    "                index.htm\n"
    "  --concurrent  serve several visitors at once: downloads are carried on side\n"
    "                by side on the one thread, a piece at a time, so a long or slow\n"
    "                download no longer makes the others wait; without it, one\n"
    "                request at a time\n"
    "  --upload      let visitors add files to the shared folder: an \"Add files\"\n"
    "                control on folder listings, or\n"
    "                  curl -F file=@photo.jpg http://HOST:PORT/folder/\n"
    "                  curl -T photo.jpg http://HOST:PORT/folder/\n"
    "                nothing is ever overwritten (a form's clashing name is stored\n"
    "                as \"name (1).ext\", a PUT to an existing name gets 409); a\n"
    "                file shows under its name only once whole; uploads from\n"
    "                another website's page are refused; without --preview, HTML,\n"
    "                SVG and XML are sent with Content-Security-Policy: sandbox.\n"
    "                Visitors can fill the disk up to a reserve: 1 GiB free, or\n"
    "                5 % of the file system if that is smaller\n"
    "  --private     only people with the link can visit: every address begins\n"
    "                with a secret, made afresh at each start; the addresses printed\n"
    "                hold it, and any other gets the error page\n"
    "  --private=KEY the same with KEY (26 characters of a-z and 2-7, either case)\n"
    "                as the secret; other local users can see a command line, and\n"
    "                so KEY\n"
    "  PORT 0 picks a free port; the addresses are printed.\n";

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

// Why the address handed out gets the error page, as the window words it.
std::string MissingFrontPage(const CServerCore& server) {
    if (server.m_strDefaultURL.empty()) {
        return "no default page is set";
    }
    return server.RootFolder() + " holds no " + server.m_strDefaultURL;
}

// Scripts and tests take the port from the first line: it keeps its form. Other machines
// reach the server at the addresses after it, best first, as the window lists them. strPath
// is "/", or the private link's "/SECRET/".
void PrintAddresses(const CServerCore& server, unsigned nPort, const std::string& strPath) {
    std::printf("Serving %s on http://127.0.0.1:%u%s\n", server.m_strRoot.c_str(), nPort,
                strPath.c_str());
    for (const std::string& strAddress : ReachableAddresses()) {
        std::printf("Also on http://%s:%u%s\n", strAddress.c_str(), nPort, strPath.c_str());
    }
    // Without the listing, a shared folder of photos shows visitors only the error page.
    if (!server.m_bListFolders && !server.BareAddressServesPage()) {
        std::printf("The %s address gets the error page: %s; --list lists its files.\n",
                    server.m_bPrivate ? "private" : "bare", MissingFrontPage(server).c_str());
    }
    std::fflush(stdout);
}

int Serve(const SServeSettings& settings) {
    if (!AfxSocketInit()) {
        std::fprintf(stderr, "tarvel-serve: the event loop could not start: %s\n",
                     std::strerror(errno));
        return 1;
    }

    // The handler also wakes the dispatcher's descriptor, so a request that
    // lands between the check and the wait below is not lost.
    CatchStopSignals(OnStopSignal);

    CHeadlessServer server;
    server.m_strRoot = settings.strRoot;
    server.m_nChannel = static_cast<int16_t>(settings.nPort);
    server.m_strDefaultURL = settings.strDefaultPage;
    server.m_bListFolders = settings.bListFolders;
    server.m_bPreview = settings.bPreview;
    server.m_bConcurrent = settings.bConcurrent;
    server.m_bUpload = settings.bUpload;
    server.m_bPrivate = settings.bPrivate;
    server.m_strPrivateKey = settings.strPrivateKey;  // empty: StartServer makes a fresh one
    server.StartServer();
    if (!server.m_bRunning) {
        return 1;
    }
    if (server.m_bPrivate && !IsPrivateKey(server.m_strPrivateKey)) {
        // The system's random source failed: such a server would let nobody in.
        std::fprintf(stderr, "tarvel-serve: no secret could be made for the private link\n");
        return 1;
    }
    PrintAddresses(server, server.m_pListeningSocket->LocalPort(), server.SharedPath());

    CSocketDispatcher& dispatcher = CSocketDispatcher::Get();
    while (!CSocketDispatcher::TerminationRequested()) {
        dispatcher.RunOnce(-1);
    }
    server.StopServer();
    return dispatcher.PollError() == 0 ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    SServeSettings settings;
    switch (ParseServeArguments(std::vector<std::string>(argv + 1, argv + argc), settings)) {
        case EServeCommand::kHelp:
            std::fputs(kUsage, stdout);
            return 0;
        case EServeCommand::kVersion:
            std::printf("tarvel-serve %s\n", version::kProjectVersion);
            return 0;
        case EServeCommand::kUsageError:
            std::fputs(kUsage, stderr);
            return 2;
        case EServeCommand::kBadPrivateKey:
            std::fputs(kBadKeyText, stderr);
            return 2;
        case EServeCommand::kServe:
            break;
    }
    return Serve(settings);
}
