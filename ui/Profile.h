// The private profile file: an initialisation file of [section] headers and key=value lines,
// read and written the way the desktop's own profile functions do, so a file edited by hand
// keeps every line the program does not set.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A profile's text held line by line, byte for byte. Lookups match names without regard to
// case; an edit rewrites only the line of the key it sets, or adds one line.
class CProfileText {
public:
    // Longer lines, and lines holding a zero byte, are not profile text: passed over.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;

    explicit CProfileText(std::string_view strBytes = {});

    // The value of the first key line of that name in a section of that name, without the
    // blanks around it and without one pair of matching quotes; nothing when missing.
    std::optional<std::string> Find(std::string_view strSection, std::string_view strKey) const;

    // Sets the key's value where the key stands, else adds it after the last key line of its
    // section, else adds the section at the end. False, and no change, for a name or value a
    // line cannot hold (a line break, a zero byte, a name with an '=' or ']' in it).
    bool Set(std::string_view strSection, std::string_view strKey, std::string_view strValue);

    std::string Bytes() const;

private:
    struct SLine {
        std::string strContent;  // without its line ending
        std::string strEnding;   // "\n", "\r\n", or "" for a last line without one
    };

    std::optional<std::size_t> FindKeyLine(std::string_view strSection,
                                           std::string_view strKey) const;
    std::optional<std::size_t> FindSectionLine(std::string_view strSection) const;
    void InsertLine(std::size_t nAt, std::string strContent);

    std::string m_strByteOrderMark;  // kept before the first line, not part of it
    std::vector<SLine> m_lines;
};

// One profile file at a given path, with the four profile operations. Reading a missing or
// unreadable file gives the defaults and creates nothing; a write replaces the file whole via
// a temporary file beside it, so a failed write leaves the stored settings as they were.
class CProfile {
public:
    // A text value read back is cut to this many bytes.
    static constexpr std::size_t kMaxValueBytes = 4095;
    // A larger file is no profile of ours: read as missing, never rewritten.
    static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

    explicit CProfile(std::string strPath);

    // The running program file's name, without folder and extension.
    static std::string ProgramName();
    // The same for a given program path (as /proc/self/exe shows it).
    static std::string ProgramNameOf(const std::string& strProgramPath);
    // $XDG_CONFIG_HOME (or ~/.config when unset, empty or relative) / ProgramName() ".INI".
    static std::string DefaultPath();

    const std::string& Path() const { return m_strPath; }

    std::string GetProfileString(const std::string& strSection, const std::string& strKey,
                                 const std::string& strDefault) const;
    // Optional blanks, an optional sign and decimal digits; the rest is ignored. Text that
    // does not begin with a number reads as 0; only a missing key gives the default.
    int GetProfileInt(const std::string& strSection, const std::string& strKey, int nDefault) const;
    // False when the file could not be written; it then holds what it held before.
    bool WriteProfileString(const std::string& strSection, const std::string& strKey,
                            const std::string& strValue);
    bool WriteProfileInt(const std::string& strSection, const std::string& strKey, int nValue);

    // The integer reading rule on its own.
    static int ParseProfileInt(std::string_view strText);

private:
    std::optional<std::string> ReadValue(const std::string& strSection,
                                         const std::string& strKey) const;

    std::string m_strPath;
};
