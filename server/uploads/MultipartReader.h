// Reading a multipart/form-data body as it arrives, in pieces of any size:
// each part's headers, then its bytes, with no part held whole. A delimiter
// split across two pieces is found all the same; bytes that only look like
// one stay data.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The boundary of a Content-Type "multipart/form-data; boundary=..." (quoted
// or not), or nothing for any other type or a boundary that is empty or longer
// than 70 characters.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

// What a part says of itself in its Content-Disposition.
struct SPartHead {
    std::string strName;                     // the form field's name
    std::optional<std::string> strFileName;  // as sent: filename* when given, else filename
};

// The parameters of a Content-Disposition value: the field's name and the
// file's name, with the escapes browsers use in a quoted filename (%22 %0D
// %0A, a backslash before a quote) and filename*'s UTF-8 percent-encoding
// undone. Nothing when it is not form-data.
std::optional<SPartHead> ParseContentDisposition(std::string_view value);

class CMultipartReader {
public:
    enum class EEvent {
        PartBegins,  // Head() holds the part's head
        Data,        // bytes of the current part
        PartEnds,
        End,         // the closing delimiter: nothing more is read
    };
    // What a piece of the body gave, in order.
    class CSink {
    public:
        virtual ~CSink() = default;
        virtual void OnPart(EEvent event, std::string_view data) = 0;
    };

    explicit CMultipartReader(std::string boundary);

    // Reads the next piece of the body. False once the body is malformed (no
    // delimiter where one must be, a part without a form-data head, headers
    // beyond their bound); nothing more is reported then.
    bool Feed(std::string_view piece, CSink& sink);
    bool Ended() const { return m_state == EState::Done; }
    const SPartHead& Head() const { return m_head; }

private:
    enum class EState { Preamble, AfterDelimiter, Headers, Body, Done, Malformed };
    bool Step(CSink& sink);
    bool StepPreamble();
    bool StepAfterDelimiter(CSink& sink);
    bool StepHeaders(CSink& sink);
    bool StepBody(CSink& sink);

    std::string m_strDelimiter;  // "\r\n--" and the boundary
    std::string m_strHeld;       // read and not yet decided: at most a head, or a delimiter's length
    EState m_state = EState::Preamble;
    SPartHead m_head;
};
