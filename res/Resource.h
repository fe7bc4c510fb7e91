// The program's resource numbers and its string table.
#pragma once

#include <string_view>

// String table entries.
constexpr int kIdsAboutBox = 101;           // the window menu's About item
constexpr int kIdsSocketsInitFailed = 103;  // the socket layer could not start

// Window menu commands, numbered as the desktop's system commands are.
constexpr unsigned kIdmAboutBox = 0x0010;
constexpr unsigned kScMinimize = 0xF020;
constexpr unsigned kScClose = 0xF060;

struct SStringEntry {
    int nId;
    std::string_view strText;
};

inline constexpr SStringEntry kStringTable[] = {
    {kIdsAboutBox, "&About Tarvel..."},
    {kIdsSocketsInitFailed, "Windows sockets initialization failed."},
};

// The entry's text, or an empty one when the table has no such entry.
constexpr std::string_view LoadResString(int nId) {
    for (const SStringEntry& entry : kStringTable) {
        if (entry.nId == nId) {
            return entry.strText;
        }
    }
    return {};
}
