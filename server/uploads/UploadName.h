// The name a visitor gives an uploaded file: which names may be stored, and
// the names a form's upload takes when its own is taken. Names are bytes,
// kept exactly: any script, Latin-1, blanks, quotes, markup.
#pragma once

#include <string>
#include <string_view>

enum class ENameVerdict {
    Kept,
    Empty,         // "", "." or ".."
    Separator,     // holds '/' or '\'
    Control,       // holds NUL or another control character
    Hidden,        // begins with '.': it would never be listed or served
    ParentLike,    // holds ".."
    Guarded,       // names what is never served (the program's own name)
    TooLong,       // more than 255 bytes
};

ENameVerdict JudgeUploadName(std::string_view name);
// For a refusal page: why the name was refused.
const char* NameVerdictText(ENameVerdict verdict);

// The nth name after name for a form upload whose name is taken:
// "photo (1).jpg", "photo (2).jpg", ...; a name without an extension (or
// whose only dot begins it) gets the number at its end. Empty when the
// numbered name would be longer than 255 bytes.
std::string NumberedName(std::string_view name, unsigned nNumber);
