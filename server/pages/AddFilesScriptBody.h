// The "Add files" script's body: the bytes of AddFilesScript.js, embedded at
// build time by EmbedAscii.cmake. ASCII only; AddFilesForm.cpp puts it in its tag.
#pragma once

#include <string_view>

extern const std::string_view kAddFilesScriptBody;
