#include "RandomText.h"

#include <sys/random.h>

#include <cerrno>
#include <vector>

namespace {
constexpr char kBase32[] = "abcdefghijklmnopqrstuvwxyz234567";

bool FillRandom(std::vector<unsigned char>& bytes) {
    size_t nHave = 0;
    while (nHave < bytes.size()) {
        const ssize_t nGot = ::getrandom(bytes.data() + nHave, bytes.size() - nHave, 0);
        if (nGot < 0 && errno != EINTR) {
            return false;
        }
        nHave += nGot > 0 ? static_cast<size_t>(nGot) : 0;
    }
    return true;
}
}  // namespace

std::string RandomBase32(size_t nLength) {
    std::vector<unsigned char> random((nLength * 5 + 7) / 8);
    if (!FillRandom(random)) {
        return {};
    }
    std::string strText;
    unsigned nBits = 0;
    unsigned nHeld = 0;
    for (size_t nAt = 0; strText.size() < nLength;) {
        if (nHeld < 5) {
            nBits = (nBits << 8) | random[nAt++];
            nHeld += 8;
        }
        strText += kBase32[(nBits >> (nHeld - 5)) & 31];
        nHeld -= 5;
    }
    return strText;
}
