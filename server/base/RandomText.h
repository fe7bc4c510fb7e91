// Text from the system's random source, for secrets and one-time tokens.
#pragma once

#include <cstddef>
#include <string>

// nLength characters of lower-case base32 (a-z, 2-7), five random bits each;
// empty when the random source fails.
std::string RandomBase32(size_t nLength);
