// The private profile file: an initialisation file of [section] headers and key=value lines,
// read and written the way the desktop's own profile functions do, so a file edited by hand
// keeps every line the program does not set.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ProfileText.h"

// One key and the value to store under it.
struct SProfileValue {
    std::string strKey;
    std::string strValue;
    // Set only where the file already holds the key, so a setting nobody changed from its
    // default adds no line to a file that never had it.
    bool bOnlyWhereStored = false;
    // A secret: a file that holds it is made readable by its owner only, by the first save
    // that sets it, whether or not its value changes.
    bool bSecret = false;
};

// The profile as one reading of its file found it, so that several values come from the same
// moment of the file and a large file is read once. A missing or unreadable file gives the
// defaults.
class CProfileReading {
public:
    explicit CProfileReading(const std::string& strPath);

    std::string GetProfileString(std::string_view strSection, std::string_view strKey,
                                 const std::string& strDefault) const;
    // Optional blanks, an optional sign and decimal digits; the rest is ignored. Text that
    // does not begin with a number reads as 0; only a missing key gives the default.
    int GetProfileInt(std::string_view strSection, std::string_view strKey, int nDefault) const;

private:
    std::optional<CProfileText> m_text;  // nothing: no usable file
};

// One profile file at a given path, with the profile operations. Reading a missing or
// unreadable file gives the defaults and creates nothing; a write replaces the file whole in
// one step, so a failed write leaves the stored settings as they were.
class CProfile {
public:
    // A text value read back is cut to this many bytes.
    static constexpr std::size_t kMaxValueBytes = 4095;

    explicit CProfile(std::string strPath);

    // The running program file's name, without folder and extension.
    static std::string ProgramName();
    // The same for a given program path (as /proc/self/exe shows it).
    static std::string ProgramNameOf(const std::string& strProgramPath);
    // $XDG_CONFIG_HOME (or ~/.config when unset, empty or relative) / ProgramName() ".INI".
    static std::string DefaultPath();

    const std::string& Path() const { return m_strPath; }

    // Each reads the file anew, as CProfileReading does.
    CProfileReading Read() const { return CProfileReading(m_strPath); }
    std::string GetProfileString(const std::string& strSection, const std::string& strKey,
                                 const std::string& strDefault) const;
    int GetProfileInt(const std::string& strSection, const std::string& strKey, int nDefault) const;
    // False when the file could not be written; it then holds what it held before.
    bool WriteProfileString(const std::string& strSection, const std::string& strKey,
                            const std::string& strValue);
    bool WriteProfileInt(const std::string& strSection, const std::string& strKey, int nValue);
    // Sets the keys in the given order and replaces the file once, so the file holds all the
    // new values or none: the same file as one WriteProfileString per key would leave. A key
    // whose name or value a line cannot hold is passed over, and the result is then false;
    // one marked bOnlyWhereStored that the file does not hold is passed over too.
    bool WriteProfileStrings(const std::string& strSection,
                             const std::vector<SProfileValue>& values);

    // The integer reading rule on its own, and the writing format ("%d").
    static int ParseProfileInt(std::string_view strText);
    static std::string FormatProfileInt(int nValue);

private:
    std::string m_strPath;
};
