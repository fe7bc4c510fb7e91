// A profile's text in memory: an initialisation file of [section] headers and key=value
// lines, read and edited the way the desktop's own profile functions do. Pure: no files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The bytes of a profile, kept whole in one string and read line by line on demand, so a
// file of many short lines costs no more memory than its size. Lookups match names without
// regard to case; an edit rewrites only the line of the key it sets, or adds one line.
class CProfileText {
public:
    // Longer lines, and lines holding a zero byte, are not profile text: passed over.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;

    explicit CProfileText(std::string strBytes = {});

    // The value of the first key line of that name in a section of that name, without the
    // blanks around it and without one pair of matching quotes; nothing when missing.
    std::optional<std::string> Find(std::string_view strSection, std::string_view strKey) const;

    // Sets the key's value where the key stands, else adds it after the last key line of its
    // section, else adds the section at the end. False, and no change, for a name or value a
    // line cannot hold (a line break, a zero byte, a name with an '=' or ']' in it).
    bool Set(std::string_view strSection, std::string_view strKey, std::string_view strValue);

    const std::string& Bytes() const { return m_strBytes; }
    // Whether a Set changed any byte.
    bool Edited() const { return m_bEdited; }

private:
    // One line: [nBegin, nEnd) is its content, [nEnd, nNext) its ending ("\n", "\r\n", or
    // "" or "\r" for a last line without a line break).
    struct SLine {
        std::size_t nBegin = 0;
        std::size_t nEnd = 0;
        std::size_t nNext = 0;
    };
    struct SKeyPlace {
        std::optional<SLine> keyLine;      // the key's own line
        std::optional<SLine> lastOfFirst;  // the first such section's last key line, or header
        std::size_t nValueBegin = 0;       // in keyLine, where the text after '=' begins
    };

    SLine LineAt(std::size_t nBegin) const;
    std::string_view Content(const SLine& line) const;
    SKeyPlace Locate(std::string_view strSection, std::string_view strKey) const;
    void InsertLines(std::size_t nAt, std::string strLines);

    std::string m_strBytes;
    std::size_t m_nFirstLine = 0;  // past a byte order mark, which belongs to no line
    bool m_bEdited = false;
};
