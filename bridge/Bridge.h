// The decisions of the stdio bridge, as values in and values out: which answer a line gets,
// and what a host's HTTP answer means. BridgeMain wires them to stdin, stdout, stderr and the
// loopback link; tests and fuzzers call them directly.
#pragma once

#include <velto_assistant/velto_assistant.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velto::bridge
{
/** The tool error that every tool call gets while Velto cannot be reached. */
inline constexpr const char* notOpenText =
    "Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in "
    "Options > AI Assistant, then try again.";

/** Where the answers of one line go: at most one reply, the wire JSON of a JSON-RPC message or
    batch for one line on stdout (without its LF), and at most one diagnostic, for stderr. */
struct Output
{
    std::function<void (std::string_view reply)> reply;
    std::function<void (const juce::String& diagnostic)> diagnostic;
};

/** A line's message in the wire form (white space normalised, text after the value gone, a batch
    whole as one array), made the first time it is asked for: a forwarder with no host to post to
    never asks, so a line answered offline is read once, by the local answer alone. */
class WireMessage
{
public:
    explicit WireMessage (std::string_view lineText) : text (lineText) {}

    /** Empty when the line is not a JSON object or array. */
    std::string_view bytes() const;

private:
    const std::string_view text;
    mutable std::optional<std::string> wire;
};

/** Offers a message (an object or a whole batch) to the host. Returns the HTTP status and fills
    `response` with the body, or returns 0 when the host could not be reached or gave no whole
    answer, or the message is empty. */
using Forwarder = std::function<int (const WireMessage& message, std::string& response)>;

/** Reads the endpoint file anew on every call (its path is worked out once, here) and posts to
    the host it names, with the 20-second answer budget. Returns 0 without trying when there is
    no valid endpoint. `beforeWaiting` runs just before a post, while nothing waits yet: the
    caller's replies already due go out then. */
Forwarder hostForwarder (std::function<void()> beforeWaiting = {});

/** A forwarder for when no host is wanted: every message is answered locally. */
Forwarder offlineForwarder();

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

/** Handles one trimmed, non-empty line: a parse error for text that is not a JSON object or
    array; otherwise the host's answer when it gives one, else the local answer. */
void handle (std::string_view text, const Forwarder& forward, const Output& output);
} // namespace velto::bridge
