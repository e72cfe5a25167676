// The loopback HTTP link: one message per connection, read under one deadline, written whole.
#include "AssistantShared.h"
#include "AssistantPlatform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>

#include <poll.h>

namespace velto::assistant
{
namespace
{
using Clock = std::chrono::steady_clock;

/** One look-up per byte, not six comparisons: heads are scanned byte by byte. */
bool isWhiteSpace (char c)
{
    static constexpr auto table = []
    {
        std::array<bool, 256> result {};

        for (const char w : { ' ', '\t', '\r', '\n', '\v', '\f' })
            result[(unsigned char) w] = true;

        return result;
    }();

    return table[(unsigned char) c];
}

std::string_view trimmed (std::string_view text)
{
    while (! text.empty() && isWhiteSpace (text.front()))
        text.remove_prefix (1);

    while (! text.empty() && isWhiteSpace (text.back()))
        text.remove_suffix (1);

    return text;
}

/** The integer that begins the text: optional white space and sign, then decimal digits up to
    the first other character; 0 without digits. Saturates instead of wrapping, so a huge
    Content-Length is refused as too large instead of turning negative. */
juce::int64 leadingInteger (std::string_view text)
{
    text = trimmed (text);
    bool negative = false;

    if (! text.empty() && (text[0] == '+' || text[0] == '-'))
    {
        negative = (text[0] == '-');
        text.remove_prefix (1);
    }

    juce::int64 value = 0;
    constexpr juce::int64 saturated = std::numeric_limits<juce::int64>::max() / 10 - 10;

    for (const char c : text)
    {
        if (c < '0' || c > '9')
            break;

        if (value < saturated)
            value = value * 10 + (c - '0');
    }

    return negative ? -value : value;
}

/** Head bytes as text, one character per byte. ASCII, which is all that the bridge and Velto
    ever send there, is UTF-8 as it stands. */
juce::String fromLatin1 (std::string_view bytes)
{
    if (std::all_of (bytes.begin(), bytes.end(), [] (char c) { return (unsigned char) c < 0x80; }))
        return juce::String::fromUTF8 (bytes.data(), (int) bytes.size());

    juce::String text;
    text.preallocateBytes (bytes.size() * 2);

    for (const char c : bytes)
        text += (juce::juce_wchar) (unsigned char) c;

    return text;
}

/** A header name, lower-cased: ASCII by itself, anything else as JUCE lower-cases it. */
juce::String lowerCased (std::string_view name)
{
    char lower[64];

    if (name.size() > sizeof (lower))
        return fromLatin1 (name).toLowerCase();

    for (size_t i = 0; i < name.size(); ++i)
    {
        const auto c = name[i];

        if ((unsigned char) c >= 0x80)
            return fromLatin1 (name).toLowerCase();

        lower[i] = c >= 'A' && c <= 'Z' ? (char) (c - 'A' + 'a') : c;
    }

    return juce::String::fromUTF8 (lower, (int) name.size());
}

bool equalsIgnoringAsciiCase (std::string_view text, std::string_view lowerCase)
{
    return text.size() == lowerCase.size()
        && std::equal (text.begin(), text.end(), lowerCase.begin(),
                       [] (char a, char b) { return (a >= 'A' && a <= 'Z' ? (char) (a - 'A' + 'a') : a) == b; });
}

/** Gives the last Content-Length's value as it stands, if there is one, and fills the
    message's start-line fields and headers when there is a message. Allocates nothing without
    one. False when no line is left or the start line has no space. */
bool parseHead (std::string_view head, HttpMessage* message, bool isRequest, bool keepHeaders,
                std::optional<std::string_view>& contentLength)
{
    // Lines end at every CR and every LF; blank ones are dropped. The next CR and the next LF
    // are each looked for once, from where the last of its kind was: linear in the head
    auto nextLine = [head, start = (size_t) 0, nextCr = (size_t) 0, nextLf = (size_t) 0, looked = false] () mutable
                    -> std::optional<std::string_view>
    {
        while (start <= head.size())
        {
            if (! looked || nextCr < start)
                nextCr = std::min (head.find ('\r', start), head.size());

            if (! looked || nextLf < start)
                nextLf = std::min (head.find ('\n', start), head.size());

            looked = true;
            const auto stop = std::min (nextCr, nextLf);
            const auto line = head.substr (start, stop - start);
            start = stop + 1;

            if (! trimmed (line).empty())
                return line;
        }

        return std::nullopt;
    };

    const auto startLine = nextLine();

    if (! startLine)
        return false;

    // Split at single spaces: two adjacent spaces make an empty piece, as a leading space does
    const auto firstSpace = startLine->find (' ');

    if (firstSpace == std::string_view::npos)
        return false;

    const auto first = startLine->substr (0, firstSpace);
    const auto rest = startLine->substr (firstSpace + 1);
    const auto second = rest.substr (0, rest.find (' '));

    if (message != nullptr && isRequest)
    {
        message->method = fromLatin1 (first);
        message->path = fromLatin1 (second);
    }
    else if (message != nullptr)
    {
        message->status = (int) juce::jlimit<juce::int64> (std::numeric_limits<int>::min(),
                                                           std::numeric_limits<int>::max(),
                                                           leadingInteger (second));
    }

    while (const auto line = nextLine())
    {
        const auto colon = line->find (':');

        if (colon == std::string_view::npos || colon == 0)
            continue;

        // set() replaces a name already present in its old place: the last repeat wins
        const auto name = trimmed (line->substr (0, colon)), value = trimmed (line->substr (colon + 1));

        if (message != nullptr && keepHeaders)
            message->headers.set (lowerCased (name), fromLatin1 (value));

        if (equalsIgnoringAsciiCase (name, "content-length"))
            contentLength = value;
    }

    return true;
}

/** frameHttp, with what the caller does not want left out. */
struct Framing
{
    bool keepHeaders = true;
    std::string* rawBody = nullptr;   // the body as bytes, cut at its first NUL, in place of message.body
};

void setBody (HttpMessage* message, std::string_view body, const Framing& framing)
{
    if (framing.rawBody != nullptr)
        framing.rawBody->assign (body.substr (0, body.find ('\0')));
    else if (message != nullptr)
        message->body = fromWireBytes (body.data(), body.size());
}

HttpFrame frameMessage (std::string_view received, bool isRequest, bool ended, HttpMessage* message, HttpFrame previous,
                       const Framing& framing)
{
    using Status = HttpFrame::Status;
    HttpFrame frame = previous;

    if (frame.headBytes == 0)
    {
        // The search resumes where the last one stopped, three bytes back in case the blank
        // line straddles the two. It never looks past a NUL byte: one there hides the blank line.
        const auto from = frame.searchedBytes >= 3 ? frame.searchedBytes - 3 : 0;
        const auto searchable = received.substr (0, received.find ('\0', from));
        const auto blankLine = searchable.find ("\r\n\r\n", from);
        frame.searchedBytes = searchable.size();

        if (blankLine == std::string_view::npos)
        {
            // The limit is tested once per read, before the next one: a head whose blank line
            // comes in the read that crosses it is still taken
            frame.status = (ended || received.size() > (size_t) maxHttpHeadBytes) ? Status::failed : Status::readMore;
            return frame;
        }

        std::optional<std::string_view> contentLength;

        if (! parseHead (received.substr (0, blankLine), message, isRequest, framing.keepHeaders, contentLength))
        {
            frame.status = Status::failed;
            return frame;
        }

        // Taken from the head as it stands; only a head without one looks in the map, where a
        // caller's own entries may stand
        const auto lengthText = contentLength ? std::string (*contentLength)
                              : message != nullptr ? message->header ("content-length").toStdString() : std::string();
        frame.headBytes = blankLine + 4;
        frame.bodyBytes = lengthText.empty() ? (isRequest ? 0 : -1) : std::max<juce::int64> (-1, leadingInteger (lengthText));

        if (frame.bodyBytes > maxHttpBodyBytes)
        {
            frame.status = Status::failed;
            return frame;
        }
    }

    const auto body = received.substr (frame.headBytes);

    if (frame.bodyBytes >= 0)
    {
        // Bytes past the announced length are ignored
        if (body.size() >= (size_t) frame.bodyBytes)
        {
            setBody (message, body.substr (0, (size_t) frame.bodyBytes), framing);
            frame.status = Status::complete;
        }
        else
        {
            frame.status = ended ? Status::failed : Status::readMore;
        }

        return frame;
    }

    // Open-ended: until no more comes or the cap is passed, which the last read may pass by
    // less than one read
    if (ended || body.size() > (size_t) maxHttpBodyBytes)
    {
        setBody (message, body, framing);
        frame.status = Status::complete;
    }
    else
    {
        frame.status = Status::readMore;
    }

    return frame;
}

int millisecondsUntil (Clock::time_point deadline)
{
    // Rounded up, so that a wait never ends just before the deadline with time left unused
    const auto left = std::chrono::ceil<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return (int) std::clamp<juce::int64> (left, 0, std::numeric_limits<int>::max());
}

/** Waits until the handle is ready for `events`, or has failed, until the deadline. */
bool waitFor (int handle, short events, Clock::time_point deadline)
{
    for (;;)
    {
        pollfd wait { handle, events, 0 };
        const int ready = ::poll (&wait, 1, millisecondsUntil (deadline));

        if (ready >= 0 || errno != EINTR)
            return ready > 0;
    }
}

Clock::time_point after (int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds (std::max (0, timeoutMs));
}

/** Reads under one deadline for the whole message. */
class TimedReader
{
public:
    TimedReader (int handleToRead, int timeoutMs) : handle (handleToRead), deadline (after (timeoutMs)) {}

    /** Waits for and appends one read of at most httpReadChunkBytes. False when time is up,
        the peer has closed, or the read fails. */
    bool readOnce (std::string& buffer)
    {
        while (Clock::now() < deadline)
        {
            if (! waitFor (handle, POLLIN, deadline))
                return false;

            const auto count = ::recv (handle, chunk, sizeof (chunk), MSG_DONTWAIT);

            if (count > 0)
            {
                buffer.append (chunk, (size_t) count);
                return true;
            }

            if (count == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                return false;
        }

        return false;
    }

private:
    const int handle;
    const Clock::time_point deadline;
    char chunk[httpReadChunkBytes];
};

/** readHttp on a descriptor. */
bool readMessage (int handle, HttpMessage& message, bool isRequest, int timeoutMs, const Framing& framing = {})
{
    TimedReader reader (handle, timeoutMs);
    std::string received;
    HttpFrame frame;
    bool ended = false;

    for (;;)
    {
        frame = frameMessage (received, isRequest, ended, &message, frame, framing);

        if (frame.status != HttpFrame::Status::readMore)
            return frame.status == HttpFrame::Status::complete;

        // Time up, the peer closed or a read failed: nothing more will come
        ended = ! reader.readOnce (received);
    }
}

/** Sends every byte. It waits for room at most writeStallTimeoutMs at a time, but before the
    first byte has gone, until `firstByteDeadline`: the connection may still be being made. */
bool sendAll (int handle, std::string_view bytes, Clock::time_point firstByteDeadline)
{
    size_t sent = 0;

    while (sent < bytes.size())
    {
        const auto count = ::send (handle, bytes.data() + sent, bytes.size() - sent, platform::sendFlags);

        if (count > 0)
        {
            sent += (size_t) count;
            continue;
        }

        if (count < 0 && errno == EINTR)
            continue;

        // No room, or (macOS) not connected yet: wait, but not for ever. Anything else is
        // EPIPE, ECONNRESET, ECONNREFUSED and the like.
        const bool connecting = sent == 0 && count < 0 && errno == ENOTCONN && platform::pendingError (handle) == 0;

        if (! (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) && ! connecting)
            return false;

        const auto deadline = sent == 0 ? firstByteDeadline : after (writeStallTimeoutMs);

        if (Clock::now() >= deadline || ! waitFor (handle, POLLOUT, deadline))
            return false;
    }

    return true;
}

struct Answer
{
    int status = 0;
    std::string body;   // cut at its first NUL
};

/** One POST of `message` to the host and the answer read in full; none when there was no
    connection, the request did not go out whole, or no whole answer came in time. */
std::optional<Answer> exchange (const Endpoint& endpoint, std::string_view message, int timeoutMs)
{
    // The request is sent as soon as the connection is begun: on loopback it is made at once,
    // and sendAll waits for it only when it is not
    const int handle = platform::beginLoopbackConnection (endpoint.port);

    if (handle < 0)
        return std::nullopt;

    std::string request;
    request.reserve (message.size() + 256);
    request.append ("POST /mcp HTTP/1.1\r\nHost: 127.0.0.1:").append (std::to_string (endpoint.port))
           .append ("\r\nAuthorization: Bearer ").append (endpoint.token.toRawUTF8())
           .append ("\r\nContent-Type: application/json\r\nAccept: application/json, text/event-stream\r\nContent-Length: ")
           .append (std::to_string (message.size()))
           .append ("\r\nConnection: close\r\n\r\n")
           .append (message);

    // Only the status and the body are wanted: the headers are not kept
    HttpMessage head;
    Answer answer;
    const bool answered = sendAll (handle, request, after (connectTimeoutMs))
                       && readMessage (handle, head, false, timeoutMs, { false, &answer.body });
    ::close (handle);

    if (! answered)
        return std::nullopt;

    answer.status = head.status;
    return answer;
}

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

const char* reasonPhrase (int status)
{
    switch (status)
    {
        case 200: return "OK";
        case 202: return "Accepted";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 413: return "Payload Too Large";
        default:  return "Error";
    }
}
} // namespace

//==============================================================================
juce::String HttpMessage::header (const juce::String& name) const
{
    return headers.getValue (name.toLowerCase(), {});
}


HttpFrame frameHttp (std::string_view received, bool isRequest, bool ended, HttpMessage* message, HttpFrame previous)
{
    return frameMessage (received, isRequest, ended, message, previous, {});
}

bool readHttp (juce::StreamingSocket& socket, HttpMessage& message, bool isRequest, int timeoutMs)
{
    const int handle = socket.getRawSocketHandle();
    return handle >= 0 && readMessage (handle, message, isRequest, timeoutMs);
}

bool writeAll (juce::StreamingSocket& socket, const juce::String& text)
{
    const int handle = socket.getRawSocketHandle();

    if (handle < 0 || ! socket.isConnected())
        return false;

    platform::preventBrokenPipeSignal (handle);
    return sendAll (handle, { text.toRawUTF8(), text.getNumBytesAsUTF8() }, after (writeStallTimeoutMs));
}

int postToVelto (const Endpoint& endpoint, std::string_view message, std::string& response, int timeoutMs)
{
    const auto answer = exchange (endpoint, message, timeoutMs);

    if (! answer)
        return 0;

    response = answer->body;
    return answer->status;
}

int postToVelto (const Endpoint& endpoint, const juce::String& message, juce::String& response, int timeoutMs)
{
    const auto answer = exchange (endpoint, { message.toRawUTF8(), message.getNumBytesAsUTF8() }, timeoutMs);

    if (! answer)
        return 0;

    response = fromWireBytes (answer->body.data(), answer->body.size());
    return answer->status;
}

juce::String httpResponse (int status, const juce::String& body, const juce::String& contentType)
{
    juce::String text;
    text << "HTTP/1.1 " << status << " " << reasonPhrase (status) << "\r\n";

    if (body.isNotEmpty())
        text << "Content-Type: " << contentType << "\r\n";

    text << "Content-Length: " << (juce::int64) body.getNumBytesAsUTF8() << "\r\n"
         << "Cache-Control: no-store\r\n"
         << "Connection: close\r\n"
         << "\r\n"
         << body;

    return text;
}

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
} // namespace velto::assistant
