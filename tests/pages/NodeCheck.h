// A page's script checked by Node's parser, as a browser gets it, so a script
// that would run nothing cannot ship.
#pragma once

#include <string>

struct SNodeCheck {
    int nStatus = -1;  // node's exit status, -1 when it did not run
    std::string strOutput;
};

// Runs `node --check` on strScript, written to a file of its own.
SNodeCheck CheckWithNode(const std::string& strScript);
