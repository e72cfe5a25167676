// The loopback HTTP link: framing one message from the bytes received (frameHttp), reading one
// under one deadline, the bridge's POST to the host, and the response writer of the host.
#include "AssistantInternal.h"
#include "AssistantDetail.h"
#include "AssistantJsonText.h"

#include <optional>
#include <string>

namespace velto::assistant
{
namespace
{
using namespace detail;

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

/** The framing of a reply read for its status and body alone, the body as bytes into `body`. */
Framing statusAndBodyInto (std::string& body)
{
    return { /* keepHeaders */ false, &body };
}

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

/** Reads under one deadline for the whole message. */
class TimedReader
{
public:
    TimedReader (int handleToRead, int timeoutMs) : handle (handleToRead), deadline (after (timeoutMs)) {}

    /** Waits for one read into the `room` bytes at `into`: the count read, or 0 when time is up,
        the peer has closed, or the read fails. */
    size_t readOnce (char* into, size_t room)
    {
        while (Clock::now() < deadline)
        {
            if (! waitFor (handle, POLLIN, deadline))
                return 0;

            if (const auto count = receiveSome (handle, into, room); count != 0)
                return (size_t) std::max (0L, count);
        }

        return 0;
    }

private:
    const int handle;
    const Clock::time_point deadline;
};

/** readHttp on a descriptor. */
bool readMessage (int handle, HttpMessage& message, bool isRequest, int timeoutMs, const Framing& framing = {})
{
    TimedReader reader (handle, timeoutMs);
    std::string buffer;   // the bytes received are its first `received`; it grows, never shrinks
    size_t received = 0;
    HttpFrame frame;
    bool ended = false;

    for (;;)
    {
        frame = frameMessage ({ buffer.data(), received }, isRequest, ended, &message, frame, framing);

        if (frame.status != HttpFrame::Status::readMore)
            return frame.status == HttpFrame::Status::complete;

        // A body whose length is known is read straight into room for all of it, in as few reads
        // as the socket gives it in; anything else a read's worth at a time
        const auto wantedBytes = frame.headBytes > 0 && frame.bodyBytes >= 0 ? frame.headBytes + (size_t) frame.bodyBytes - received : 0;
        buffer.resize (std::max (buffer.size(), received + std::max (wantedBytes, (size_t) httpReadChunkBytes)));

        // Time up, the peer closed or a read failed: nothing more will come
        const auto count = reader.readOnce (buffer.data() + received, buffer.size() - received);
        received += count;
        ended = count == 0;
    }
}

/** Sends every byte. It waits for room at most writeStallTimeoutMs at a time, but before the
    first byte has gone, until `firstByteDeadline`: the connection may still be being made. */
bool sendAll (int handle, std::string_view bytes, Clock::time_point firstByteDeadline)
{
    for (size_t sent = 0;;)
    {
        switch (sendSome (handle, bytes, sent))
        {
            case Sent::all:    return true;
            case Sent::failed: return false;
            case Sent::noRoomYet: break;
        }

        // Wait for room, but not for ever
        const auto deadline = sent == 0 ? firstByteDeadline : after (writeStallTimeoutMs);

        if (Clock::now() >= deadline || ! waitFor (handle, POLLOUT, deadline))
            return false;
    }
}

/** One POST of `message` to the host and its reply read in full, its status into `status` and
    its body, cut at its first NUL, into `body`. False, leaving both untouched, when there was no
    connection, the request did not go out whole, or no whole reply came in time. */
bool exchange (const Endpoint& endpoint, std::string_view message, int& status, std::string& body, int timeoutMs)
{
    // The request is sent as soon as the connection is begun: on loopback it is made at once,
    // and sendAll waits for it only when it is not
    const int handle = platform::beginLoopbackConnection (endpoint.port);

    if (handle < 0)
        return false;

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
    const bool answered = sendAll (handle, request, after (connectTimeoutMs))
                       && readMessage (handle, head, /* isRequest */ false, timeoutMs, statusAndBodyInto (body));
    ::close (handle);

    if (answered)
        status = head.status;

    return answered;
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
    // Straight into the caller's buffer, which the bridge keeps from message to message
    int status = 0;
    return exchange (endpoint, message, status, response, timeoutMs) ? status : 0;
}

int postToVelto (const Endpoint& endpoint, const juce::String& message, juce::String& response, int timeoutMs)
{
    int status = 0;
    std::string body;

    if (exchange (endpoint, { message.toRawUTF8(), message.getNumBytesAsUTF8() }, status, body, timeoutMs))
        response = fromWireBytes (body.data(), body.size());

    return status;
}

juce::String fromWireBytes (const char* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*> (data);

    // ASCII without NUL, as nearly every body is, is valid UTF-8 as it stands
    if (std::all_of (bytes, bytes + size, [] (unsigned char c) { return c != 0 && c < 0x80; }))
        return juce::String::fromUTF8 (data, (int) size);

    std::string valid;
    valid.reserve (size);

    for (size_t i = 0; i < size && bytes[i] != 0;)
    {
        if (const auto length = json::utf8SequenceLength (bytes + i, size - i))
        {
            valid.append (data + i, length);
            i += length;
        }
        else
        {
            valid += json::replacementCharacter;
            ++i;
        }
    }

    return json::stringFromValidUtf8 (valid);
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
} // namespace velto::assistant
