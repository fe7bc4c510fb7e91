// The one error type of stream and file access: what failed (the cause) and the
// operating system's error code. Thrown by value, caught by reference.
#pragma once

#include <stdexcept>
#include <string>

class CFileException : public std::runtime_error {
public:
    enum Cause { none = 0, generic = 1 };

    CFileException(Cause cause, int nOsError, const std::string& strWhat)
        : std::runtime_error(strWhat), m_cause(cause), m_lOsError(nOsError) {}

    Cause m_cause;
    int m_lOsError;  // errno of the failed call
};
