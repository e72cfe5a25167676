// readHttp, writeAll, postToVelto and httpResponse over real loopback sockets.
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

using namespace velto::assistant;
using namespace velto::test;

namespace
{
struct Read
{
    bool ok = false;
    HttpMessage message;
};

/** Feeds `bytes` to readHttp through a socket pair, whole or one byte at a time, then closes
    the writing side unless told to keep it open. */
Read readFrom (const std::string& bytes, bool isRequest, bool byteByByte = false, bool closeAfter = true,
               int timeoutMs = 2000)
{
    SocketPair pair;
    std::thread writer ([&]
    {
        if (byteByByte)
            for (char c : bytes)
                sendBytes (*pair.server, std::string (1, c));
        else
            sendBytes (*pair.server, bytes);

        if (closeAfter)
            pair.server->close();
    });

    Read result;
    result.ok = readHttp (pair.client, result.message, isRequest, timeoutMs);
    pair.client.close();   // a writer still sending what the reader refused gets an error, not a wait
    writer.join();
    return result;
}

const std::string okFive = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
} // namespace

TEST (ReadHttp, Responses)
{
    struct Case { const char* label; std::string bytes; bool ok; int status; std::string body; };
    const Case cases[] = {
        { "known length", okFive, true, 200, "hello" },
        { "bytes past the length ignored", okFive + "world", true, 200, "hello" },
        { "no length: read to close", "HTTP/1.1 200 OK\r\n\r\nall of it", true, 200, "all of it" },
        { "negative length: read to close", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nxyz", true, 200, "xyz" },
        { "letters as length count as 0", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nxyz", true, 200, "" },
        { "length cut short by close", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", false, 200, "" },
        { "non-numeric status", "HTTP/1.1 abc OK\r\nContent-Length: 0\r\n\r\n", true, 0, "" },
        { "status with sign and blanks", "HTTP/1.1 202x\r\nContent-Length: 0\r\n\r\n", true, 202, "" },
        { "status line without a space", "HTTP/1.1\r\n\r\n", false, 0, "" },
        { "only a blank line", "\r\n\r\n", false, 0, "" },
        { "blank lines before the start line", "\r\n \r\nHTTP/1.1 401 No\r\nContent-Length: 1\r\n\r\nx", true, 401, "x" },
        { "lone LF inside the head", "HTTP/1.1 200 OK\nContent-Length: 2\r\n\r\nab", true, 200, "ab" },
        { "lone CR inside the head", "HTTP/1.1 200 OK\rContent-Length: 2\r\n\r\nab", true, 200, "ab" },
        { "head ending in two lone LF never ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nab", false, 0, "" },
        { "NUL before the blank line hides it", std::string ("HTTP/1.1 200 OK\0\r\n\r\nab", 22), false, 0, "" },
        { "chunked kept raw", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", true, 200, "2\r\n{}\r\n0\r\n\r\n" },
        { "UTF-8 body decoded", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n\xC3\xA9", true, 200, "\xC3\xA9" },
        { "length beyond 64 bits is too large, not negative", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", false, 200, "" },
    };

    for (const auto& c : cases)
        for (const bool byteByByte : { false, true })
        {
            const auto result = readFrom (c.bytes, false, byteByByte);
            EXPECT_EQ (result.ok, c.ok) << c.label << (byteByByte ? " (byte by byte)" : "");
            EXPECT_EQ (result.message.status, c.status) << c.label;
            EXPECT_EQ (result.message.body.toStdString(), c.body) << c.label;
        }
}

TEST (ReadHttp, Requests)
{
    struct Case { const char* label; std::string bytes; bool ok; std::string method; std::string path; std::string body; };
    const Case cases[] = {
        { "post", "POST /mcp HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", true, "POST", "/mcp", "{}" },
        { "no length: no body", "POST /mcp HTTP/1.1\r\n\r\nignored", true, "POST", "/mcp", "" },
        { "two spaces: empty path", "POST  /mcp HTTP/1.1\r\n\r\n", true, "POST", "", "" },
        { "leading space: empty method", " POST /mcp\r\n\r\n", true, "", "POST", "" },
        { "negative length reads to close", "POST /mcp HTTP/1.1\r\nContent-Length: -1\r\n\r\nabc", true, "POST", "/mcp", "abc" },
    };

    for (const auto& c : cases)
    {
        const auto result = readFrom (c.bytes, true);
        EXPECT_EQ (result.ok, c.ok) << c.label;
        EXPECT_EQ (result.message.method.toStdString(), c.method) << c.label;
        EXPECT_EQ (result.message.path.toStdString(), c.path) << c.label;
        EXPECT_EQ (result.message.body.toStdString(), c.body) << c.label;
        EXPECT_EQ (result.message.status, 0) << c.label;
    }
}

TEST (ReadHttp, Headers)
{
    const auto result = readFrom ("HTTP/1.1 200 OK\r\n  X-Name  :  some value  \r\nno colon here\r\n: starts with colon\r\n"
                                  "Dup: one\r\nOther: o\r\ndup: two\r\nLatin: \xC3\xA9\r\nContent-Length: 0\r\n\r\n", false);
    ASSERT_TRUE (result.ok);
    const auto& m = result.message;
    EXPECT_EQ (m.header ("x-name"), "some value");
    EXPECT_EQ (m.header ("X-NAME"), "some value");
    EXPECT_EQ (m.headers.getAllKeys(), juce::StringArray ({ "x-name", "dup", "other", "latin", "content-length" }));
    EXPECT_EQ (m.header ("Dup"), "two");
    EXPECT_EQ (m.header ("Latin").length(), 2);   // head bytes are one character each
    EXPECT_EQ (m.header ("missing"), "");
}

TEST (ReadHttp, SizeLimits)
{
    const auto withLength = [] (juce::int64 length)
    {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string (length) + "\r\n\r\n" + std::string ((size_t) std::max<juce::int64> (length, 0), 'a');
    };

    EXPECT_TRUE (readFrom (withLength (maxHttpBodyBytes), false).ok);
    const auto over = readFrom (withLength (maxHttpBodyBytes + 1), false);
    EXPECT_FALSE (over.ok);
    EXPECT_EQ (over.message.status, 200);   // what was read before the failure stays

    // The limit is tested before each read: a head that ends in the read crossing it is taken
    const auto head = [] (size_t padding) { return "HTTP/1.1 200 OK\r\nX: " + std::string (padding, 'p') + "\r\nContent-Length: 0\r\n\r\n"; };
    EXPECT_TRUE (readFrom (head ((size_t) maxHttpHeadBytes - 100), false).ok);
    EXPECT_FALSE (readFrom (head ((size_t) maxHttpHeadBytes + 2 * httpReadChunkBytes), false).ok);

    // An open-ended body stops being read once past the cap, by less than one read
    const auto flood = readFrom ("HTTP/1.1 200 OK\r\n\r\n" + std::string ((size_t) maxHttpBodyBytes * 2, 'f'), false, false, false);
    EXPECT_TRUE (flood.ok);
    EXPECT_GT (flood.message.body.length(), maxHttpBodyBytes);
    EXPECT_LE (flood.message.body.length(), maxHttpBodyBytes + httpReadChunkBytes);
}

TEST (ReadHttp, TimeBudget)
{
    EXPECT_FALSE (readFrom (okFive, false, false, true, 0).ok);   // a budget of 0 is up at once

    // Open-ended: what arrived when the time ran out
    const auto stalled = readFrom ("HTTP/1.1 200 OK\r\n\r\npartial", false, false, false, 300);
    EXPECT_TRUE (stalled.ok);
    EXPECT_EQ (stalled.message.body, "partial");

    // Known length that never completes, from a peer that keeps the connection open until the
    // read is over: only the budget can end it, so it must end once the budget is spent
    constexpr int budgetMs = 300;
    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_FALSE (readFrom ("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\npart", false, false, false, budgetMs).ok);
    const auto elapsedMs = juce::Time::getMillisecondCounter() - started;
    EXPECT_GE (elapsedMs, (juce::uint32) budgetMs);
    report ("timings", "readHttp with a budget of " + std::to_string (budgetMs) + " ms gave up after " + std::to_string (elapsedMs) + " ms");
}

TEST (WriteAll, Cases)
{
    juce::StreamingSocket never;
    EXPECT_FALSE (writeAll (never, "x"));

    SocketPair pair;
    EXPECT_TRUE (writeAll (pair.client, ""));
    EXPECT_TRUE (writeAll (pair.client, juce::String::fromUTF8 ("h\xC3\xA9")));
    EXPECT_EQ (readRequest (*pair.server, 200), "h\xC3\xA9");
}

TEST (WriteAll, PeerThatResetTheConnectionGivesFalseWithoutSignal)
{
    SocketPair pair;
    linger hardClose { 1, 0 };   // close with RST
    setsockopt (pair.server->getRawSocketHandle(), SOL_SOCKET, SO_LINGER, &hardClose, sizeof (hardClose));
    pair.server->close();
    juce::Thread::sleep (50);

    const std::string big (1 << 20, 'x');
    bool result = true;

    for (int i = 0; i < 5 && result; ++i)
        result = writeAll (pair.client, big);

    EXPECT_FALSE (result);   // and the process is still here: no SIGPIPE
}

TEST (PostToVelto, RequestBytesAndAnswers)
{
    ScriptedHost host (ScriptedHost::answer (200, "{\"ok\":1}"));
    juce::String response;
    const juce::String message = juce::String::fromUTF8 ("{\"a\":\"\xC3\xA9\"}");   // 9 characters, 10 bytes
    EXPECT_EQ (postToVelto ({ host.port(), "tok en" }, message, response, 2000), 200);
    EXPECT_EQ (response, "{\"ok\":1}");

    ASSERT_EQ (host.requests().size(), 1u);
    EXPECT_EQ (host.requests()[0],
               "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string (host.port()) + "\r\n"
               "Authorization: Bearer tok en\r\nContent-Type: application/json\r\n"
               "Accept: application/json, text/event-stream\r\nContent-Length: 10\r\nConnection: close\r\n\r\n"
               "{\"a\":\"\xC3\xA9\"}");
}

TEST (PostToVelto, Statuses)
{
    struct Case { const char* label; ScriptedHost::Script script; int status; std::string response; };
    const Case cases[] = {
        { "202 empties the text", ScriptedHost::answer (202, ""), 202, "" },
        { "401 brings its body", ScriptedHost::answer (401, "bad token"), 401, "bad token" },
        { "no length, then close", ScriptedHost::raw ("HTTP/1.1 200 OK\r\n\r\n{\"x\":2}"), 200, "{\"x\":2}" },
        { "length beyond the body, then close", ScriptedHost::raw ("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{}"), 0, "untouched" },
        { "garbage", ScriptedHost::raw ("\x01\x02garbage"), 0, "untouched" },
        { "closes at once", ScriptedHost::raw (""), 0, "untouched" },
        { "non-numeric status, body copied", ScriptedHost::raw ("HTTP/1.1 OK\r\nContent-Length: 2\r\n\r\nhi"), 0, "hi" },
    };

    for (const auto& c : cases)
    {
        ScriptedHost host (c.script);
        juce::String response = "untouched";
        EXPECT_EQ (postToVelto ({ host.port(), "t" }, "{}", response, 2000), c.status) << c.label;
        EXPECT_EQ (response.toStdString(), c.response) << c.label;
    }
}

TEST (PostToVelto, NothingListeningAndStalledHost)
{
    int freePort = 0;
    {
        juce::StreamingSocket probe;
        probe.createListener (0, "127.0.0.1");
        freePort = probe.getBoundPort();
    }

    juce::String response = "kept";
    EXPECT_EQ (postToVelto ({ freePort, "t" }, "{}", response, 2000), 0);
    EXPECT_EQ (response, "kept");

    // A host that holds the connection open, silent, until the post has returned: only the
    // post's own budget can end it, and it must not wait for the host to close
    constexpr int budgetMs = 300;
    juce::WaitableEvent posted;
    ScriptedHost silent ([&posted] (juce::StreamingSocket&, const std::string&) { posted.wait (60000); });
    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_EQ (postToVelto ({ silent.port(), "t" }, "{}", response, budgetMs), 0);
    const auto elapsedMs = juce::Time::getMillisecondCounter() - started;
    posted.signal();
    EXPECT_GE (elapsedMs, (juce::uint32) budgetMs);
    report ("timings", "postToVelto with a budget of " + std::to_string (budgetMs) + " ms to a silent host gave up after "
            + std::to_string (elapsedMs) + " ms");
}

TEST (HttpResponse, ExactBytes)
{
    EXPECT_EQ (httpResponse (202, "", "application/json"),
               "HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n");
    EXPECT_EQ (httpResponse (200, "{}", "application/json"),
               "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n{}");
    EXPECT_EQ (httpResponse (400, "x", ""),
               "HTTP/1.1 400 Bad Request\r\nContent-Type: \r\nContent-Length: 1\r\nCache-Control: no-store\r\nConnection: close\r\n\r\nx");
    EXPECT_TRUE (httpResponse (200, juce::String::fromUTF8 ("\xC3\xA9"), "t").contains ("Content-Length: 2\r\n"));

    struct Case { int status; const char* line; };
    const Case cases[] = {
        { 200, "HTTP/1.1 200 OK" }, { 202, "HTTP/1.1 202 Accepted" }, { 400, "HTTP/1.1 400 Bad Request" },
        { 401, "HTTP/1.1 401 Unauthorized" }, { 403, "HTTP/1.1 403 Forbidden" }, { 404, "HTTP/1.1 404 Not Found" },
        { 405, "HTTP/1.1 405 Method Not Allowed" }, { 413, "HTTP/1.1 413 Payload Too Large" },
        { 402, "HTTP/1.1 402 Error" }, { 500, "HTTP/1.1 500 Error" }, { 0, "HTTP/1.1 0 Error" }, { -7, "HTTP/1.1 -7 Error" },
    };

    for (const auto& c : cases)
        EXPECT_TRUE (httpResponse (c.status, "", "").startsWith (juce::String (c.line) + "\r\n")) << c.status;
}

TEST (HttpResponse, ReadsBackThroughReadHttp)
{
    const juce::String bodies[] = { "", "{}", juce::String::fromUTF8 ("caf\xC3\xA9"), juce::String::repeatedString ("z", maxHttpBodyBytes) };

    for (const auto& body : bodies)
        for (const int status : { 200, 202, 401, 500 })
        {
            const auto result = readFrom (httpResponse (status, body, "application/json").toStdString(), false);
            EXPECT_TRUE (result.ok);
            EXPECT_EQ (result.message.status, status);
            EXPECT_EQ (result.message.body, body);
        }
}

TEST (Tokens, MakeToken)
{
    const auto a = makeToken(), b = makeToken();
    EXPECT_EQ (a.length(), 64);
    EXPECT_TRUE (a.containsOnly ("0123456789abcdef"));
    EXPECT_NE (a, b);
}

TEST (Tokens, Match)
{
    const auto t = makeToken();
    struct Case { const char* label; juce::String first, second; bool match; };
    const Case cases[] = {
        { "identical copy", t, juce::String (t.toRawUTF8()), true },
        { "both empty", "", "", false },
        { "empty first", "", t, false },
        { "empty second", t, "", false },
        { "one added", t, t + "0", false },
        { "one added, other order", t + "0", t, false },
        { "one removed", t, t.dropLastCharacters (1), false },
        { "case differs", "abcdef0123456789abcdef0123456789", "ABCDEF0123456789abcdef0123456789", false },
        { "trailing space", t, t + " ", false },
        { "non-ASCII equal", juce::String::fromUTF8 ("\xC3\xA9x"), juce::String::fromUTF8 ("\xC3\xA9x"), true },
    };

    for (const auto& c : cases)
        EXPECT_EQ (tokensMatch (c.first, c.second), c.match) << c.label;
}
