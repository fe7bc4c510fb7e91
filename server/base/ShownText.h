// Names shown to a person, the window's fields and the listing's page alike:
// well-formed UTF-8 as it is; every byte of a control character or of a
// sequence that is not UTF-8 as "\xHH", so nothing shows as a box or as
// nothing, and a backslash that would read as such an escape as "\x5C".
#pragma once

#include <string>
#include <string_view>

enum class EShownIn {
    Field,  // a text field: only a backslash that starts "\xHH" is escaped
    Page,   // HTML text or a quoted attribute: every backslash, and HTML's specials as entities
};

void AppendShownText(std::string& strOut, std::string_view bytes, EShownIn where);

// The byte value of a "\xHH" escape at nAt, or -1 when none stands there.
int ByteEscapeAt(std::string_view text, size_t nAt);
