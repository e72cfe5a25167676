// The host's side: which requests it refuses from their head alone, and with what reason, and the
// whole answer to a request read in full, decided from values. The server that reads requests and
// writes these answers on sockets is AssistantServer.cpp.
#include "AssistantInternal.h"
#include "AssistantDetail.h"

#include <string>
#include <vector>

namespace velto::assistant
{
namespace
{
using namespace detail;

/** "127.0.0.1", "localhost" or "[::1]" (in any case), with or without ":" and a port. */
bool isLoopbackAuthority (std::string_view authority)
{
    for (const std::string_view name : { "127.0.0.1", "localhost", "[::1]" })
    {
        if (authority.size() < name.size() || ! equalsIgnoringAsciiCase (authority.substr (0, name.size()), name))
            continue;

        const auto port = authority.substr (name.size());

        if (port.empty())
            return true;

        const auto digits = port.substr (1);

        return port[0] == ':' && ! digits.empty() && digits.size() <= 5
            && std::all_of (digits.begin(), digits.end(), [] (char c) { return c >= '0' && c <= '9'; })
            && std::stoi (std::string (digits)) <= 65535;
    }

    return false;
}

/** "http://" and a loopback authority: the only origins from which a request may come. */
bool isLoopbackOrigin (std::string_view origin)
{
    constexpr std::string_view scheme = "http://";
    return origin.size() > scheme.size() && equalsIgnoringAsciiCase (origin.substr (0, scheme.size()), scheme)
        && isLoopbackAuthority (origin.substr (scheme.size()));
}

//==============================================================================
juce::String jsonResponse (int status, const juce::String& json)
{
    return httpResponse (status, json, "application/json");
}

//==============================================================================
// Fitting an answer into what the bridge reads

/** Room is kept for each stand-in before anything runs, naming a reply of this size: replies are
    built in memory, so none comes near it, and no stand-in is ever longer than its room. */
constexpr juce::int64 largestReplyBytes = 999999999999;

/** The short reply that takes the place of one that does not fit. A tool call has already run
    by then, so its stand-in says so: a transport tool's effect must not look undone. Void for
    a notification, which has no reply to stand in for. */
juce::var standIn (const juce::var& element, juce::int64 replyBytes)
{
    if (! expectsReply (element))
        return {};

    const auto size = juce::String (replyBytes) + " bytes, where one answer carries at most "
                    + juce::String (maxHttpBodyBytes) + " with the other replies of its batch";
    const auto id = element.getProperty (NameIdentifier ("id"), {});

    if (isToolCall (element))
        return rpcResult (id, toolText ("The tool ran, but its result is too large to send back (" + size
                                            + "). Ask for less, for example a narrower range or one item, "
                                              "or call the tool on its own.", true));

    return rpcError (id, -32603, "The answer is too large to send back (" + size + "). Send this request on its own.");
}

/** What a whole message gets: the body of its 200 answer, or the body of a 413 when not even the
    stand-ins of its batch would fit, in which case nothing has run. Both empty: nothing is due. */
struct FittedReplies
{
    juce::String body;
    juce::String refusal;
};

/** The replies to `message` (an object, or a batch array), in a body of at most maxHttpBodyBytes.
    Replies join it in order, and it holds to one invariant: the bytes used so far and the room
    kept for the stand-ins of the requests still to come never pass maxHttpBodyBytes. So a reply
    that does not fit can always be given its stand-in, which fits in the room it frees. */
FittedReplies fitReplies (const juce::var& message, const MessageHandler& answerOne)
{
    const auto* batch = message.getArray();
    const juce::Array<juce::var> single { message };
    const auto& elements = batch != nullptr ? *batch : single;

    // A batch's body is "[" + replies joined by ", " + "]"; one message's is its reply alone
    const size_t separatorBytes = batch != nullptr ? 2 : 0;
    size_t used = batch != nullptr ? 2 : 0;

    // Room kept for every stand-in, each with a separator
    std::vector<size_t> standInBytes ((size_t) elements.size(), 0);
    size_t reserved = 0;

    for (int i = 0; i < elements.size(); ++i)
    {
        if (const auto reply = standIn (elements.getReference (i), largestReplyBytes); ! reply.isVoid())
            standInBytes[(size_t) i] = toJson (reply).getNumBytesAsUTF8() + separatorBytes;

        reserved += standInBytes[(size_t) i];

        if (used + reserved > (size_t) maxHttpBodyBytes)
            return { {}, toJson (rpcError ({}, -32600, "This batch holds more requests than one answer can carry: "
                                                       "send them in smaller batches.")) };
    }

    juce::StringArray replies;

    for (int i = 0; i < elements.size(); ++i)
    {
        reserved -= standInBytes[(size_t) i];
        const auto reply = answerOne (elements.getReference (i));

        if (reply.isVoid())
            continue;

        auto text = toJson (reply);
        const auto separator = replies.isEmpty() ? 0 : separatorBytes;

        if (used + separator + text.getNumBytesAsUTF8() + reserved > (size_t) maxHttpBodyBytes)
        {
            const auto substitute = standIn (elements.getReference (i), (juce::int64) text.getNumBytesAsUTF8());

            if (substitute.isVoid())
                continue;

            text = toJson (substitute);
        }

        used += separator + text.getNumBytesAsUTF8();
        replies.add (text);
    }

    if (replies.isEmpty())
        return {};

    return { batch != nullptr ? "[" + replies.joinIntoString (", ") + "]" : replies[0], {} };
}
} // namespace

juce::String refusalResponse (int status)
{
    // Short enough for one line of stderr, and each says what the user can do about it
    const auto reason = [status]() -> juce::String
    {
        switch (status)
        {
            case 400: return "The request did not arrive whole within " + juce::String (requestTimeoutMs) + " ms: send it in one piece.";
            case 401: return "The access token is missing or wrong: turn Velto's AI assistant connection off and on "
                             "(Options > AI Assistant) and try again.";
            case 403: return "The request comes from a web page (its Origin or Host is not this computer): only local programs may connect.";
            case 404: return "Not found: Velto's AI assistant answers POST /mcp only.";
            case 405: return "Method not allowed: Velto's AI assistant answers POST /mcp only.";
            case 413: return "The request is too large: at most " + juce::String (maxHttpBodyBytes)
                             + " bytes. Send less at once, or a batch in smaller batches.";
            default:  return {};
        }
    }();

    return httpResponse (status, reason, "text/plain; charset=utf-8");
}

int refusalStatus (const HttpMessage& head, const juce::String& token)
{
    // A web page that has rebound its own name to 127.0.0.1 sends that name as Host, and its
    // origin as Origin: neither is ever loopback for it, while the bridge sends no Origin
    if (const auto origin = head.header ("origin"); origin.isNotEmpty() && ! isLoopbackOrigin (origin.toRawUTF8()))
        return 403;

    if (const auto host = head.header ("host"); host.isNotEmpty() && ! isLoopbackAuthority (host.toRawUTF8()))
        return 403;

    // Only "Bearer" with that capitalisation and one space, as the bridge sends it
    const auto authorization = head.header ("authorization");
    const auto presented = authorization.startsWith ("Bearer ") ? authorization.substring (7) : juce::String();

    if (! tokensMatch (token, presented))
        return 401;

    if (head.path != "/mcp")
        return 404;

    if (head.method != "POST")
        return 405;

    if (leadingInteger (head.header ("content-length").toRawUTF8()) > maxHttpBodyBytes)
        return 413;

    return 0;
}

juce::String answerRequest (const HttpMessage& request, const juce::String& token, const MessageHandler& answerOne)
{
    if (const auto status = refusalStatus (request, token))
        return refusalResponse (status);

    juce::var message;

    if (! parseJson (request.body, message))
        return jsonResponse (400, toJson (rpcError ({}, -32700, "Parse error")));

    const auto fitted = fitReplies (message, answerOne);

    if (fitted.refusal.isNotEmpty())
        return jsonResponse (413, fitted.refusal);

    // Nothing due (notifications only): accepted, with no body
    return fitted.body.isEmpty() ? httpResponse (202, {}, {}) : jsonResponse (200, fitted.body);
}
} // namespace velto::assistant
