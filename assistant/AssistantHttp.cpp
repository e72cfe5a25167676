// The loopback HTTP link: one message per connection, read under one deadline, written whole.
#include "AssistantShared.h"
#include "AssistantPlatform.h"

#include <chrono>
#include <string>

namespace velto::assistant
{
namespace
{
using Clock = std::chrono::steady_clock;

std::string_view trimmed (std::string_view text)
{
    constexpr const char* whiteSpace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of (whiteSpace);

    if (first == std::string_view::npos)
        return {};

    return text.substr (first, text.find_last_not_of (whiteSpace) - first + 1);
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

juce::String fromLatin1 (std::string_view bytes)
{
    juce::String text;
    text.preallocateBytes (bytes.size() * 2);

    for (const char c : bytes)
        text += (juce::juce_wchar) (unsigned char) c;

    return text;
}

/** Reads under one deadline for the whole message. */
class TimedReader
{
public:
    TimedReader (juce::StreamingSocket& s, int timeoutMs)
        : socket (s), deadline (Clock::now() + std::chrono::milliseconds (std::max (0, timeoutMs))) {}

    /** Waits for and appends one read of at most httpReadChunkBytes. False when time is up,
        the wait ends without data, the peer has closed, or the read fails. */
    bool readOnce (std::string& buffer)
    {
        const auto now = Clock::now();

        if (now >= deadline)
            return false;

        // Round up, so that a wait never ends just before the deadline with time left unused
        const auto remainingMs = std::chrono::ceil<std::chrono::milliseconds> (deadline - now).count();

        if (socket.waitUntilReady (true, (int) remainingMs) != 1)
            return false;

        const int bytesRead = socket.read (chunk, httpReadChunkBytes, false);

        if (bytesRead <= 0)
            return false;

        buffer.append (chunk, (size_t) bytesRead);
        return true;
    }

private:
    juce::StreamingSocket& socket;
    const Clock::time_point deadline;
    char chunk[httpReadChunkBytes];
};

/** Fills the start-line fields and the headers. False when no line is left or the start line
    has no space. */
bool parseHead (std::string_view head, HttpMessage& message, bool isRequest)
{
    std::vector<std::string_view> lines;

    for (size_t start = 0; start <= head.size();)
    {
        const auto stop = std::min (head.find_first_of ("\r\n", start), head.size());
        const auto line = head.substr (start, stop - start);

        if (! trimmed (line).empty())
            lines.push_back (line);

        start = stop + 1;
    }

    if (lines.empty())
        return false;

    // Split at single spaces: two adjacent spaces make an empty piece, as a leading space does
    const auto startLine = lines.front();
    const auto firstSpace = startLine.find (' ');

    if (firstSpace == std::string_view::npos)
        return false;

    const auto first = startLine.substr (0, firstSpace);
    const auto rest = startLine.substr (firstSpace + 1);
    const auto second = rest.substr (0, rest.find (' '));

    if (isRequest)
    {
        message.method = fromLatin1 (first);
        message.path = fromLatin1 (second);
    }
    else
    {
        message.status = (int) juce::jlimit<juce::int64> (std::numeric_limits<int>::min(),
                                                          std::numeric_limits<int>::max(),
                                                          leadingInteger (second));
    }

    for (size_t i = 1; i < lines.size(); ++i)
    {
        const auto colon = lines[i].find (':');

        if (colon == std::string_view::npos || colon == 0)
            continue;

        // set() replaces a name already present in its old place: the last repeat wins
        message.headers.set (fromLatin1 (trimmed (lines[i].substr (0, colon))).toLowerCase(),
                             fromLatin1 (trimmed (lines[i].substr (colon + 1))));
    }

    return true;
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

HttpFrame frameHttp (std::string_view received, bool isRequest, bool ended, HttpMessage& message, HttpFrame previous)
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

        if (! parseHead (received.substr (0, blankLine), message, isRequest))
        {
            frame.status = Status::failed;
            return frame;
        }

        frame.headBytes = blankLine + 4;
        const auto lengthText = message.header ("content-length");
        frame.bodyBytes = lengthText.isEmpty() ? (isRequest ? 0 : -1)
                                               : std::max<juce::int64> (-1, leadingInteger (lengthText.toRawUTF8()));

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
            message.body = fromWireBytes (body.data(), (size_t) frame.bodyBytes);
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
        message.body = fromWireBytes (body.data(), body.size());
        frame.status = Status::complete;
    }
    else
    {
        frame.status = Status::readMore;
    }

    return frame;
}

bool readHttp (juce::StreamingSocket& socket, HttpMessage& message, bool isRequest, int timeoutMs)
{
    TimedReader reader (socket, timeoutMs);
    std::string received;
    HttpFrame frame;
    bool ended = false;

    for (;;)
    {
        frame = frameHttp (received, isRequest, ended, message, frame);

        if (frame.status != HttpFrame::Status::readMore)
            return frame.status == HttpFrame::Status::complete;

        // Time up, the peer closed or a read failed: nothing more will come
        ended = ! reader.readOnce (received);
    }
}

bool writeAll (juce::StreamingSocket& socket, const juce::String& text)
{
    const int handle = socket.getRawSocketHandle();

    if (handle < 0 || ! socket.isConnected())
        return false;

    platform::preventBrokenPipeSignal (handle);

    const char* bytes = text.toRawUTF8();
    const size_t total = text.getNumBytesAsUTF8();
    size_t sent = 0;

    while (sent < total)
    {
        const auto written = ::send (handle, bytes + sent, total - sent, platform::sendFlags);

        if (written > 0)
        {
            sent += (size_t) written;
        }
        else if (written < 0 && errno == EINTR)
        {
            continue;
        }
        else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            // The peer is not reading: wait for room, but not for ever
            if (socket.waitUntilReady (false, writeStallTimeoutMs) != 1)
                return false;
        }
        else
        {
            return false;   // EPIPE, ECONNRESET and the like
        }
    }

    return true;
}

int postToVelto (const Endpoint& endpoint, const juce::String& message, juce::String& response, int timeoutMs)
{
    juce::StreamingSocket socket;

    if (! socket.connect ("127.0.0.1", endpoint.port, connectTimeoutMs))
        return 0;

    juce::String request;
    request.preallocateBytes ((size_t) message.getNumBytesAsUTF8() + 256);
    request << "POST /mcp HTTP/1.1\r\n"
            << "Host: 127.0.0.1:" << endpoint.port << "\r\n"
            << "Authorization: Bearer " << endpoint.token << "\r\n"
            << "Content-Type: application/json\r\n"
            << "Accept: application/json, text/event-stream\r\n"
            << "Content-Length: " << (juce::int64) message.getNumBytesAsUTF8() << "\r\n"
            << "Connection: close\r\n"
            << "\r\n"
            << message;

    if (! writeAll (socket, request))
        return 0;

    HttpMessage answer;

    if (! readHttp (socket, answer, false, timeoutMs))
        return 0;

    response = answer.body;
    return answer.status;
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

int refusalStatus (const HttpMessage& head, const juce::String& token)
{
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
