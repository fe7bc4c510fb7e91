#include "ProfileText.h"

#include <utility>

#include "AsciiCase.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

bool IsQuoted(std::string_view str) {
    return str.size() >= 2 && IsQuote(str.front()) && str.front() == str.back();
}

// Where c first stands in str, or its size. A plain loop: profile lines are mostly short,
// where a call to memchr costs more than it saves, and a file may hold millions of them.
std::size_t FirstOf(std::string_view str, char c) {
    std::size_t n = 0;
    while (n < str.size() && str[n] != c) {
        ++n;
    }
    return n;
}

enum class ELineKind { kOther, kSection, kKey };

struct SParsedLine {
    ELineKind eKind = ELineKind::kOther;
    std::string_view strName;     // section or key name, without blanks around it
    std::size_t nValueBegin = 0;  // key lines: where the text after '=' begins
};

SParsedLine ParseLine(std::string_view strContent) {
    SParsedLine parsed;
    // Not text: passed over whole, so nothing is read out of binary garbage.
    if (strContent.size() > CProfileText::kMaxLineBytes ||
        FirstOf(strContent, '\0') < strContent.size()) {
        return parsed;
    }
    std::string_view strRest = TrimBlanks(strContent);
    if (strRest.empty() || strRest.front() == ';' || strRest.front() == '#') {
        return parsed;
    }
    if (strRest.front() == '[') {
        strRest.remove_prefix(1);
        parsed.eKind = ELineKind::kSection;
        parsed.strName = TrimBlanks(strRest.substr(0, FirstOf(strRest, ']')));
        return parsed;
    }
    std::size_t nEquals = FirstOf(strContent, '=');
    if (nEquals == strContent.size()) {
        return parsed;
    }
    parsed.eKind = ELineKind::kKey;
    parsed.strName = TrimBlanks(strContent.substr(0, nEquals));
    parsed.nValueBegin = nEquals + 1;
    return parsed;
}

// Outside the section only its own header matters, so most lines there are passed over by
// a look at their first bytes: false only when the line is no header of that name.
bool MayBeHeaderOf(std::string_view strContent, std::string_view strSection) {
    std::string_view strRest = TrimBlanks(strContent);
    if (strRest.empty() || strRest.front() != '[') {
        return false;
    }
    strRest = TrimBlanks(strRest.substr(1));
    return strSection.empty() ||
           (!strRest.empty() && FoldAscii(strRest.front()) == FoldAscii(strSection.front()));
}

bool HoldsLineBreakOrZero(std::string_view str) {
    return str.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos;
}

bool IsStorableName(std::string_view strName, std::string_view strForbidden) {
    return !strName.empty() && !HoldsLineBreakOrZero(strName) && !IsBlank(strName.front()) &&
           !IsBlank(strName.back()) &&
           strName.find_first_of(strForbidden) == std::string_view::npos;
}

// Reading drops the blanks around a value and one pair of quotes; a value that would lose
// something that way is written inside quotes, so every value reads back as it was.
std::string EncodeValue(std::string_view strValue) {
    if (!strValue.empty() &&
        (IsBlank(strValue.front()) || IsBlank(strValue.back()) || IsQuoted(strValue))) {
        std::string strQuoted = "\"";
        strQuoted += strValue;
        strQuoted += '"';
        return strQuoted;
    }
    return std::string(strValue);
}

}  // namespace

CProfileText::CProfileText(std::string strBytes) : m_strBytes(std::move(strBytes)) {
    if (m_strBytes.starts_with(kByteOrderMark)) {
        m_nFirstLine = kByteOrderMark.size();
    }
}

CProfileText::SLine CProfileText::LineAt(std::size_t nBegin) const {
    std::size_t nBreak = nBegin + FirstOf(std::string_view(m_strBytes).substr(nBegin), '\n');
    SLine line{.nBegin = nBegin, .nEnd = nBreak, .nNext = nBreak};
    if (nBreak < m_strBytes.size()) {
        line.nNext = nBreak + 1;
    }
    if (line.nEnd > nBegin && m_strBytes[line.nEnd - 1] == '\r') {
        --line.nEnd;
    }
    return line;
}

std::string_view CProfileText::Content(const SLine& line) const {
    return std::string_view(m_strBytes).substr(line.nBegin, line.nEnd - line.nBegin);
}

// One pass over the lines, which stops at the key's line.
CProfileText::SKeyPlace CProfileText::Locate(std::string_view strSection,
                                             std::string_view strKey) const {
    SKeyPlace place;
    bool bInSection = false;
    bool bInFirstSection = false;
    for (std::size_t nLine = m_nFirstLine; nLine < m_strBytes.size();) {
        if (m_strBytes[nLine] == '\n') {
            ++nLine;  // an empty line: the cheapest way past a file of nothing else
            continue;
        }
        SLine line = LineAt(nLine);
        nLine = line.nNext;
        if (!bInSection && !MayBeHeaderOf(Content(line), strSection)) {
            continue;
        }
        SParsedLine parsed = ParseLine(Content(line));
        if (parsed.eKind == ELineKind::kSection) {
            bInSection = EqualFolded(parsed.strName, strSection);
            bInFirstSection = bInSection && !place.lastOfFirst;
            if (bInFirstSection) {
                place.lastOfFirst = line;
            }
        } else if (parsed.eKind == ELineKind::kKey && bInSection) {
            if (EqualFolded(parsed.strName, strKey)) {
                place.keyLine = line;
                place.nValueBegin = line.nBegin + parsed.nValueBegin;
                return place;
            }
            if (bInFirstSection) {
                place.lastOfFirst = line;
            }
        }
    }
    return place;
}

std::optional<std::string> CProfileText::Find(std::string_view strSection,
                                              std::string_view strKey) const {
    SKeyPlace place = Locate(strSection, strKey);
    if (!place.keyLine) {
        return std::nullopt;
    }
    std::string_view strValue =
        TrimBlanks(std::string_view(m_strBytes)
                       .substr(place.nValueBegin, place.keyLine->nEnd - place.nValueBegin));
    if (IsQuoted(strValue)) {
        strValue = strValue.substr(1, strValue.size() - 2);
    }
    return std::string(strValue);
}

void CProfileText::InsertLines(std::size_t nAt, std::string strLines) {
    // A last line without a line break gets one, or the new line would join it.
    if (nAt > m_nFirstLine && m_strBytes[nAt - 1] != '\n') {
        strLines.insert(strLines.begin(), '\n');
    }
    m_strBytes.insert(nAt, strLines);
    m_bEdited = true;
}

bool CProfileText::Set(std::string_view strSection, std::string_view strKey,
                       std::string_view strValue) {
    if (!IsStorableName(strSection, "]") || !IsStorableName(strKey, "=") ||
        strKey.find_first_of("[;#") == 0 || HoldsLineBreakOrZero(strValue)) {
        return false;
    }
    std::string strEncoded = EncodeValue(strValue);
    SKeyPlace place = Locate(strSection, strKey);

    if (place.keyLine) {
        // The key keeps its own spelling and spacing; only the value changes.
        std::size_t nValue = place.nValueBegin;
        while (nValue < place.keyLine->nEnd && IsBlank(m_strBytes[nValue])) {
            ++nValue;
        }
        std::size_t nLength = place.keyLine->nEnd - nValue;
        if (m_strBytes.compare(nValue, nLength, strEncoded) != 0) {
            m_strBytes.replace(nValue, nLength, strEncoded);
            m_bEdited = true;
        }
        return true;
    }

    std::string strKeyLine = std::string(strKey) + "=" + strEncoded + "\n";
    if (place.lastOfFirst) {
        InsertLines(place.lastOfFirst->nNext, std::move(strKeyLine));
        return true;
    }
    std::string strLines(1, '[');  // (built by appends: GCC 12 warns falsely on "[" + ...)
    strLines += strSection;
    strLines += "]\n";
    strLines += strKeyLine;
    InsertLines(m_strBytes.size(), std::move(strLines));
    return true;
}
