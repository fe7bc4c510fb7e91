// The reload script's body: the bytes of ReloadScript.js, embedded at build time
// by EmbedAscii.cmake. ASCII only; ReloadScript.cpp writes the lines before it.
#pragma once

#include <string_view>

extern const std::string_view kReloadScriptBody;
