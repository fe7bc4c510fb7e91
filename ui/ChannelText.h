// The Channel field's text and the port it names: filling shows the port the
// server listens on, reading accepts a decimal integer that names a port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class EChannelRead {
    kPort,        // a port: nChannel holds it as its low 16 bits
    kNotInteger,  // "Please enter an integer."
    kNoPort,      // an integer that names no port
};

struct SChannelRead {
    EChannelRead result;
    int16_t nChannel;
};

// The field takes at most this many characters into account.
constexpr size_t kChannelTextLimit = 31;

// Blanks and tabs around one signed decimal number, nothing else. 0 counts only
// when written with the digit 0 first. 1 to 65535 name a port; 0, negative
// numbers and anything above 65535 name none (a port above 32767 is typed as
// itself and only stored negative).
SChannelRead ReadChannelText(std::string_view strText);

// The port as unsigned decimal text: a stored -25536 shows as 40000.
std::string ChannelText(int16_t nChannel);
