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
    juce::var reply;         // written when finished and not void
    juce::String diagnostic; // written when not empty
};

HostVerdict judgeHostAnswer (int status, const juce::String& body)
{
    if (status == 0)
        return {};   // unreachable, no endpoint, or no whole answer: silently local

    if (status == 202)
        return { true, {}, {} };

    if (status == 200)
    {
        // An empty, unreadable or event-stream body finishes the message with nothing written
        juce::var reply;
        parseJson (body, reply);
        return { true, reply, {} };
    }

    return { false, {}, "VeltoMCP: Velto answered HTTP " + juce::String (status) + ": " + body };
}
} // namespace

Forwarder hostForwarder()
{
    return [] (const juce::var& message, juce::String& response)
    {
        // Read anew for every message: a Velto started, stopped or restarted on another port
        // with another token is found at the next message
        const auto endpoint = readEndpoint (endpointFile());

        // The message is written again in the wire form, not copied from the line: white space
        // normalised, text after the value gone, a batch posted whole as one array
        return endpoint ? postToVelto (*endpoint, toJson (message), response, hostAnswerTimeoutMs) : 0;
    };
}

Forwarder offlineForwarder()
{
    return [] (const juce::var&, juce::String&) { return 0; };
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
    if (auto reply = answerProtocol (message); ! reply.isVoid())
        return reply;

    // What answerProtocol leaves is a notification, a value that is not an object, or a tool
    // call, which only Velto can carry out
    const auto* object = message.getDynamicObject();

    if (object == nullptr || ! object->hasProperty ("id"))
        return {};

    return rpcResult (object->getProperty ("id"), toolText (notOpenText, true));
}

void handle (std::string_view text, const Forwarder& forward, const Output& output)
{
    juce::var message;

    if (! parseJson (text, message))
    {
        output.reply (rpcError ({}, -32700, "Parse error"));
        return;
    }

    juce::String response;
    const auto verdict = judgeHostAnswer (forward (message, response), response);

    if (verdict.diagnostic.isNotEmpty())
        output.diagnostic (verdict.diagnostic);

    if (verdict.finished)
    {
        if (! verdict.reply.isVoid())
            output.reply (verdict.reply);

        return;
    }

    if (const auto reply = answerMessage (message, answerLocally); ! reply.isVoid())
        output.reply (reply);
}
} // namespace velto::bridge
