// The command line of tarvel-serve, read without side effects, so its rules are tested
// without starting a server: [OPTION...] ROOT PORT [DEFAULT_PAGE].
#pragma once

#include <string>
#include <vector>

// What the server is started with.
struct SServeSettings {
    std::string strRoot;
    int nPort = 0;  // 0 picks a free port
    std::string strDefaultPage = "index.htm";
    bool bListFolders = false;
    bool bPreview = false;
    bool bConcurrent = false;
    bool bUpload = false;
    bool bPrivate = false;
    std::string strPrivateKey = {};  // lower-case; empty: a fresh secret at each start
};

enum class EServeCommand { kServe, kHelp, kVersion, kUsageError, kBadPrivateKey };

// The arguments after the program's name. Options come before ROOT, in any order; "--" ends
// them, so a ROOT may begin with '-'. Anything else that begins with '-' and is not an option
// here is a usage error, also after ROOT, so a misplaced option is never taken for a name.
// "--private" asks for a fresh secret, "--private=KEY" for KEY in either case (the last of
// them counts); a KEY not of the secret's form is kBadPrivateKey. The settings are filled for
// kServe alone.
EServeCommand ParseServeArguments(const std::vector<std::string>& arguments,
                                  SServeSettings& settings);
