#include "MultipartReader.h"

#include <algorithm>
#include <vector>

#include "AsciiCase.h"
#include "PercentEncoding.h"

namespace {
// A head longer than this is no browser's or curl's.
constexpr size_t kMaxHeadBytes = 8 * 1024;
constexpr size_t kMaxBoundary = 70;

// "a; b=c; d=\"e;f\"" split at the semicolons outside quotes, each trimmed.
std::vector<std::string_view> SplitParameters(std::string_view value) {
    std::vector<std::string_view> parts;
    bool bQuoted = false;
    size_t nStart = 0;
    for (size_t nAt = 0; nAt <= value.size(); ++nAt) {
        if (nAt == value.size() || (value[nAt] == ';' && !bQuoted)) {
            parts.push_back(TrimBlanks(value.substr(nStart, nAt - nStart)));
            nStart = nAt + 1;
        } else if (value[nAt] == '"' && (nAt == 0 || value[nAt - 1] != '\\')) {
            bQuoted = !bQuoted;
        }
    }
    return parts;
}

// A quoted value without its quotes and backslash escapes; a token as it is.
std::string Unquoted(std::string_view value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        return std::string(value);
    }
    std::string strValue;
    for (size_t nAt = 1; nAt + 1 < value.size(); ++nAt) {
        if (value[nAt] == '\\' && nAt + 2 < value.size()) {
            ++nAt;
        }
        strValue += value[nAt];
    }
    return strValue;
}

// Browsers write a quote, CR and LF of a file name as %22, %0D and %0A and
// leave every other byte as it is.
std::string WithoutBrowserEscapes(std::string_view name) {
    std::string strName;
    for (size_t nAt = 0; nAt < name.size(); ++nAt) {
        const std::string_view escape = name.substr(nAt, 3);
        if (EqualFolded(escape, "%22") || EqualFolded(escape, "%0D") || EqualFolded(escape, "%0A")) {
            strName += static_cast<char>(HexValue(escape[1]) * 16 + HexValue(escape[2]));
            nAt += 2;
        } else {
            strName += name[nAt];
        }
    }
    return strName;
}

// filename*=CHARSET'LANGUAGE'%XX...: the bytes, whatever the charset says.
std::optional<std::string> ExtendedValue(std::string_view value) {
    const size_t nFirst = value.find('\'');
    const size_t nSecond = nFirst == std::string_view::npos ? nFirst : value.find('\'', nFirst + 1);
    if (nSecond == std::string_view::npos) {
        return std::nullopt;
    }
    std::string strDecoded;
    if (!DecodePercentEscapes(value.substr(nSecond + 1), strDecoded)) {
        return std::string(1, '\0');  // a zero byte: the name rules refuse it
    }
    return strDecoded;
}
}  // namespace

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
    const std::vector<std::string_view> parts = SplitParameters(contentType);
    if (parts.empty() || !EqualFolded(parts.front(), "multipart/form-data")) {
        return std::nullopt;
    }
    for (size_t n = 1; n < parts.size(); ++n) {
        const size_t nEquals = parts[n].find('=');
        if (nEquals != std::string_view::npos &&
            EqualFolded(TrimBlanks(parts[n].substr(0, nEquals)), "boundary")) {
            std::string strBoundary = Unquoted(TrimBlanks(parts[n].substr(nEquals + 1)));
            if (strBoundary.empty() || strBoundary.size() > kMaxBoundary) {
                return std::nullopt;
            }
            return strBoundary;
        }
    }
    return std::nullopt;
}

std::optional<SPartHead> ParseContentDisposition(std::string_view value) {
    const std::vector<std::string_view> parts = SplitParameters(value);
    if (parts.empty() || !EqualFolded(parts.front(), "form-data")) {
        return std::nullopt;
    }
    SPartHead head;
    std::optional<std::string> extended;
    for (size_t n = 1; n < parts.size(); ++n) {
        const size_t nEquals = parts[n].find('=');
        if (nEquals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = TrimBlanks(parts[n].substr(0, nEquals));
        const std::string_view raw = TrimBlanks(parts[n].substr(nEquals + 1));
        if (EqualFolded(key, "name")) {
            head.strName = WithoutBrowserEscapes(Unquoted(raw));
        } else if (EqualFolded(key, "filename")) {
            head.strFileName = WithoutBrowserEscapes(Unquoted(raw));
        } else if (EqualFolded(key, "filename*")) {
            extended = ExtendedValue(Unquoted(raw));
        }
    }
    if (extended) {
        head.strFileName = std::move(extended);  // the exact bytes win over the fallback
    }
    return head;
}

CMultipartReader::CMultipartReader(std::string boundary)
    // The body's first delimiter may come without the line end before it:
    // one is put in front, so every delimiter reads the same.
    : m_strDelimiter("\r\n--" + boundary), m_strHeld("\r\n") {}

bool CMultipartReader::Feed(std::string_view piece, CSink& sink) {
    if (m_state == EState::Done || m_state == EState::Malformed) {
        return m_state == EState::Done;
    }
    m_strHeld.append(piece);
    while (Step(sink)) {
    }
    return m_state != EState::Malformed;
}

// One step of the state that holds; false when it needs more bytes or is over.
bool CMultipartReader::Step(CSink& sink) {
    switch (m_state) {
        case EState::Preamble:
            return StepPreamble();
        case EState::AfterDelimiter:
            return StepAfterDelimiter(sink);
        case EState::Headers:
            return StepHeaders(sink);
        case EState::Body:
            return StepBody(sink);
        case EState::Done:
        case EState::Malformed:
            break;
    }
    return false;
}

bool CMultipartReader::StepPreamble() {
    const size_t nAt = m_strHeld.find(m_strDelimiter);
    if (nAt == std::string::npos) {
        // What may begin a delimiter is kept; the rest is preamble, never a part.
        const size_t nKeep = std::min(m_strHeld.size(), m_strDelimiter.size() - 1);
        m_strHeld.erase(0, m_strHeld.size() - nKeep);
        return false;
    }
    m_strHeld.erase(0, nAt + m_strDelimiter.size());
    m_state = EState::AfterDelimiter;
    return true;
}

bool CMultipartReader::StepAfterDelimiter(CSink& sink) {
    // Blanks may pad a delimiter line; then "--" closes the body, or CRLF
    // starts a part's head.
    const size_t nText = m_strHeld.find_first_not_of(" \t");
    if (nText == std::string::npos || m_strHeld.size() - nText < 2) {
        if (m_strHeld.size() > kMaxHeadBytes) {
            m_state = EState::Malformed;
        }
        return false;
    }
    const std::string_view next = std::string_view(m_strHeld).substr(nText, 2);
    if (next == "--") {
        m_state = EState::Done;
        m_strHeld.clear();
        sink.OnPart(EEvent::End, {});
        return false;
    }
    if (next != "\r\n") {
        m_state = EState::Malformed;
        return false;
    }
    m_strHeld.erase(0, nText);  // the head's search starts at this line end
    m_state = EState::Headers;
    return true;
}

bool CMultipartReader::StepHeaders(CSink& sink) {
    const size_t nEnd = m_strHeld.find("\r\n\r\n");
    if (nEnd == std::string::npos) {
        if (m_strHeld.size() > kMaxHeadBytes) {
            m_state = EState::Malformed;
        }
        return false;
    }
    std::optional<SPartHead> head;
    std::string_view lines = std::string_view(m_strHeld).substr(2, nEnd - 2 + 2);
    while (!lines.empty()) {
        const size_t nLineEnd = lines.find("\r\n");
        const std::string_view line = lines.substr(0, nLineEnd);
        lines.remove_prefix(std::min(lines.size(), nLineEnd + 2));
        const size_t nColon = line.find(':');
        if (nColon != std::string_view::npos &&
            EqualFolded(TrimBlanks(line.substr(0, nColon)), "Content-Disposition")) {
            head = ParseContentDisposition(TrimBlanks(line.substr(nColon + 1)));
        }
    }
    if (!head) {
        m_state = EState::Malformed;  // a part that says nothing of itself
        return false;
    }
    m_head = std::move(*head);
    m_strHeld.erase(0, nEnd + 4);
    m_state = EState::Body;
    sink.OnPart(EEvent::PartBegins, {});
    return true;
}

bool CMultipartReader::StepBody(CSink& sink) {
    const size_t nAt = m_strHeld.find(m_strDelimiter);
    if (nAt == std::string::npos) {
        // Only what could still begin a delimiter is held back.
        if (m_strHeld.size() >= m_strDelimiter.size()) {
            const size_t nSafe = m_strHeld.size() - (m_strDelimiter.size() - 1);
            sink.OnPart(EEvent::Data, std::string_view(m_strHeld).substr(0, nSafe));
            m_strHeld.erase(0, nSafe);
        }
        return false;
    }
    if (nAt > 0) {
        sink.OnPart(EEvent::Data, std::string_view(m_strHeld).substr(0, nAt));
    }
    sink.OnPart(EEvent::PartEnds, {});
    m_strHeld.erase(0, nAt + m_strDelimiter.size());
    m_state = EState::AfterDelimiter;
    return true;
}
