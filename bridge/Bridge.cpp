#include "Bridge.h"

#include <velto_assistant/AssistantDetail.h>
#include <velto_assistant/AssistantInternal.h>

namespace velto::bridge
{
using namespace velto::assistant;

const std::optional<Endpoint>& EndpointFile::read()
{
    // It nearly always holds what it held the time before, and is parsed again only when not
    if (auto bytes = readEndpointBytes (file); bytes != lastBytes)
    {
        endpoint = parseEndpoint (bytes);
        lastBytes = std::move (bytes);
    }

    return endpoint;
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
    return detail::trimmed (line.substr (0, line.find ('\0')));
}

juce::var answerLocally (const juce::var& message)
{
    // A tool call only Velto can carry out; anything else, a notification included, as the
    // module answers it
    if (expectsReply (message) && isToolCall (message))
        return rpcResult (message.getProperty (NameIdentifier ("id"), {}), toolText (notOpenText, true));

    return answerProtocolForWire (message);
}

LineAnswer handle (std::string_view text, const VeltoAnswer& answer)
{
    LineAnswer result;

    // Velto's answer finishes the message; an empty, unreadable or event-stream body with nothing
    // written
    if (answer.status == 200 || answer.status == 202)
    {
        if (answer.status == 200)
            rewriteJson (answer.body, result.reply);

        return result;
    }

    // Refused: said on stderr, then answered locally, as silently when Velto was not reached
    if (answer.status != 0)
        result.diagnostic = "VeltoMCP: Velto answered HTTP " + juce::String (answer.status) + ": "
                          + fromWireBytes (answer.body.data(), answer.body.size());

    // Only now is the message parsed into a value, and only what decides its answer: most are
    // answered by Velto without one
    juce::var value;

    if (! parseEnvelopes (text, value))
        result.reply = toJson (rpcError ({}, -32700, "Parse error")).toStdString();
    else if (const auto reply = answerMessage (value, answerLocally); ! reply.isVoid())
        appendJson (result.reply, reply);

    return result;
}
} // namespace velto::bridge
