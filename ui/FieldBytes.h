// How a byte-string setting (a folder or page name) reads in a text field, and
// which bytes a typed text stands for. Names on Linux are bytes: valid UTF-8
// shows as text, every other byte as a visible \xHH escape, so nothing is lost
// and a person can read and retype it. Plain C++: UTF-8 on both sides.
#pragma once

#include <string>
#include <string_view>

// Valid UTF-8 as it is; each byte of an invalid sequence, of a control character
// (C0, DEL, C1) as "\xHH" (upper-case hex). A backslash that would read as such
// an escape shows as "\x5C", so BytesOfFieldText(FieldTextOfBytes(b)) == b.
std::string FieldTextOfBytes(std::string_view bytes);

// The text's UTF-8 bytes, with every "\xHH" (either case, not "\x00") turned
// into the byte HH: the reverse of FieldTextOfBytes, and what an edit produces.
std::string BytesOfFieldText(std::string_view text);
