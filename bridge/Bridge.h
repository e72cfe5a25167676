// The decisions of the stdio bridge, as values in and values out: which answer a line gets,
// and what Velto's HTTP answer means. BridgeMain wires them to stdin, stdout, stderr and the
// loopback link; tests and fuzzers call them directly.
#pragma once

#include <velto_assistant/velto_assistant.h>

#include <optional>
#include <string>
#include <string_view>

namespace velto::bridge
{
/** The tool error that every tool call gets while Velto cannot be reached. */
inline constexpr const char* notOpenText =
    "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in "
    "Options > AI Assistant, then try again.";

/** What Velto answered one message posted to it: the HTTP status and the body. Status 0:
    Velto could not be reached, or gave no whole answer in time, or was not asked. */
struct VeltoAnswer
{
    int status = 0;
    std::string body;
};

/** What one line gets: at most one reply, the wire JSON of a JSON-RPC message or batch for one
    line on stdout (without its LF; empty for none), and at most one diagnostic, for stderr
    (empty for none). */
struct LineAnswer
{
    std::string reply;
    juce::String diagnostic;
};

/** Velto's endpoint as its file says now. The file is read anew for every message (its path is
    worked out once): a Velto started, stopped or restarted on another port with another token is
    found at the next message. */
class EndpointFile
{
public:
    /** The endpoint, or none when the file is missing or not valid. */
    const std::optional<assistant::Endpoint>& read();

private:
    const juce::File file = assistant::endpointFile();
    std::string lastBytes;
    std::optional<assistant::Endpoint> endpoint;
};

/** The lines of stdin as its reads come, split at LF. However long a line grows, each byte is
    looked at once: the search for the next LF goes on where the last one stopped, so a line of
    any length costs time in proportion to its bytes. */
class Lines
{
public:
    /** Adds the bytes of one read. Views that next() gave are no longer valid. */
    void append (std::string_view bytes);

    /** The next whole line added so far, without its LF; false when there is none yet. */
    bool next (std::string_view& line);

    /** What follows the last whole line: at the end of input, the last line if no LF ended it. */
    std::string_view rest() const;

    /** Bytes that the search for LFs has looked at, in all: each byte added, at most once. */
    size_t bytesSearched() const { return searchedInAll; }

private:
    std::string buffer;
    size_t start = 0;          // where the next line begins
    size_t searched = 0;       // where the search for its LF goes on
    size_t searchedInAll = 0;
};

/** The text of one line as read from stdin (without its LF): its bytes up to the first NUL,
    without surrounding white space; a CR before the LF goes here too. Empty: nothing to do. */
std::string_view lineText (std::string_view line);

/** The local answer to one message (an object): its reply, or void for a notification or a
    value that is not an object. Written with toJson or appendJson alone: it is
    answerProtocolForWire's, but for tool calls. */
juce::var answerLocally (const juce::var& message);

/** The answer to one trimmed, non-empty line, given what Velto answered its message (the line's
    wire form, as rewriteJson writes it). Status 200: Velto's body in the wire form (none where it
    is not JSON); 202: nothing. Any other status is said in the diagnostic, and the line is then
    answered as when Velto gave none (0): a parse error for text that is not a JSON object or
    array, or the local answer. */
LineAnswer handle (std::string_view text, const VeltoAnswer& answer);
} // namespace velto::bridge
