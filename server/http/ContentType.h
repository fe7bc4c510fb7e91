// The Content-Type of a served file: by its name's extension, and for plain
// text also by whether its bytes are UTF-8.
#pragma once

#include <string_view>

// By the name's extension, compared without regard to case.
const char* ContentTypeFor(std::string_view fileName);
// Plain-text types a browser shows in the locale's legacy encoding unless told
// the charset; HTML is not among them: its own meta charset must win.
bool IsCharsetLabelledType(std::string_view contentType);
// The name's type is labelled by its bytes: its start is to be read.
bool IsLabelledByItsBytes(std::string_view fileName);
// A browser shown an answer of this type as a page may run script in it:
// HTML, XHTML, SVG and any other XML. A charset label or other parameter is ignored.
bool MayRunScript(std::string_view contentType);
