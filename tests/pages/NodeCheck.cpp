#include "NodeCheck.h"

#include <sys/wait.h>

#include <cstdio>

#include "TestSupport.h"

SNodeCheck CheckWithNode(const std::string& strScript) {
    const std::string strNode = TARVEL_NODE_PATH;
    if (strNode.ends_with("NOTFOUND")) {
        return {.strOutput = "node was not found when the build was configured"};
    }
    const tarvel_test::CTempDir dir;
    const std::string strFile = dir / "script.js";
    tarvel_test::WriteFile(strFile, strScript);
    const std::string strCommand = "'" + strNode + "' --check '" + strFile + "' 2>&1";
    FILE* pPipe = ::popen(strCommand.c_str(), "r");
    if (!pPipe) {
        return {.strOutput = "cannot run " + strCommand};
    }
    SNodeCheck check;
    char szChunk[256];
    while (size_t nRead = std::fread(szChunk, 1, sizeof szChunk, pPipe)) {
        check.strOutput.append(szChunk, nRead);
    }
    const int nWait = ::pclose(pPipe);
    check.nStatus = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : -1;
    return check;
}
