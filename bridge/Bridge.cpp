#include "Bridge.h"

namespace velto::bridge
{
namespace
{
using namespace velto::assistant;

/** What the host's answer means for the line. */
struct HostVerdict
{
    bool finished = false;   // false: answer locally
    std::string reply;       // written when finished and not empty
    juce::String diagnostic; // written when not empty
};

/** The wire form of the object or array that `text` begins with; empty when there is none. */
std::string wireFormOf (std::string_view text)
{
    std::string wire;
    rewriteJson (text, wire);
    return wire;
}

HostVerdict judgeHostAnswer (int status, const std::string& body)
{
    if (status == 0)
        return {};   // unreachable, no endpoint, or no whole answer: silently local

    if (status == 202)
        return { true, {}, {} };

    // An empty, unreadable or event-stream body finishes the message with nothing written
    if (status == 200)
        return { true, wireFormOf (body), {} };

    return { false, {}, "VeltoMCP: Velto answered HTTP " + juce::String (status) + ": " + fromWireBytes (body.data(), body.size()) };
}
} // namespace

std::string_view WireMessage::bytes() const
{
    if (! wire)
        wire = wireFormOf (text);

    return *wire;
}

Forwarder hostForwarder (std::function<void()> beforeWaiting)
{
    return [file = endpointFile(), beforeWaiting = std::move (beforeWaiting), lastBytes = std::string(),
            endpoint = std::optional<Endpoint>()] (const WireMessage& message, std::string& response) mutable
    {
        // Read anew for every message: a Velto started, stopped or restarted on another port
        // with another token is found at the next message. It nearly always holds what it held
        // the time before, and is parsed again only when it does not.
        if (auto bytes = readEndpointBytes (file); bytes != lastBytes)
        {
            endpoint = parseEndpoint (bytes);
            lastBytes = std::move (bytes);
        }

        if (! endpoint || message.bytes().empty())
            return 0;

        if (beforeWaiting)
            beforeWaiting();

        return postToVelto (*endpoint, message.bytes(), response, hostAnswerTimeoutMs);
    };
}

Forwarder offlineForwarder()
{
    return [] (const WireMessage&, std::string&) { return 0; };
}

void Lines::append (std::string_view bytes)
{
    // What was handed out already goes; the unfinished line moves to the front, once
    buffer.erase (0, start);
    searched -= start;
    start = 0;
    buffer.append (bytes);
}

bool Lines::next (std::string_view& line)
{
    const auto lineFeed = buffer.find ('\n', searched);
    const auto end = lineFeed == std::string::npos ? buffer.size() : lineFeed + 1;
    searchedInAll += end - searched;
    searched = end;

    if (lineFeed == std::string::npos)
        return false;

    line = std::string_view (buffer).substr (start, lineFeed - start);
    start = end;
    return true;
}

std::string_view Lines::rest() const
{
    return std::string_view (buffer).substr (start);
}

std::string_view lineText (std::string_view line)
{
    line = line.substr (0, line.find ('\0'));
    constexpr const char* whiteSpace = " \t\r\n\v\f";
    const auto first = line.find_first_not_of (whiteSpace);

    if (first == std::string_view::npos)
        return {};

    return line.substr (first, line.find_last_not_of (whiteSpace) - first + 1);
}

juce::var answerLocally (const juce::var& message)
{
    // A tool call only Velto can carry out; anything else, a notification included, as the
    // module answers it
    if (expectsReply (message) && isToolCall (message))
        return rpcResult (message.getProperty ("id", {}), toolText (notOpenText, true));

    return answerProtocolForWire (message);
}

void handle (std::string_view text, const Forwarder& forward, const Output& output)
{
    std::string response;
    const auto verdict = judgeHostAnswer (forward (WireMessage (text), response), response);

    if (verdict.diagnostic.isNotEmpty())
        output.diagnostic (verdict.diagnostic);

    if (verdict.finished)
    {
        if (! verdict.reply.empty())
            output.reply (verdict.reply);

        return;
    }

    // Only now is the message parsed into a value, and only what decides its answer: most are
    // answered by Velto without one
    juce::var value;

    if (! parseEnvelopes (text, value))
    {
        output.reply (toJson (rpcError ({}, -32700, "Parse error")).toRawUTF8());
        return;
    }

    if (const auto reply = answerMessage (value, answerLocally); ! reply.isVoid())
    {
        std::string wire;
        appendJson (wire, reply);
        output.reply (wire);
    }
}
} // namespace velto::bridge
