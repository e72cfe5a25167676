// Load and faults, bounded in count and time, on loopback only: long mixed sessions offline and
// relayed, a host that dies, moves and changes its token under the bridge, endpoint files caught
// half-written, hosts that trickle or flood, a client that stops reading, stdin cut mid-line.
// Every request with an id must get exactly one reply, with its own id, in order; descriptors and
// memory must stay flat. Each test adds a line of figures to the report that the scripts print.
#include "Bridge.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace velto;
using namespace velto::test;

namespace
{
const juce::String token = "0123456789abcdef0123456789abcdef";

/** Deterministic mixed traffic: requests of every kind, notifications, unreadable lines, batches. */
std::vector<std::string> mixedLines (int count)
{
    std::vector<std::string> lines;
    lines.reserve ((size_t) count);

    for (int i = 0; i < count; ++i)
    {
        const auto n = std::to_string (i);

        switch (i % 10)
        {
            case 0: case 1: case 2: lines.push_back ("{\"jsonrpc\":\"2.0\",\"id\":" + n + ",\"method\":\"ping\"}"); break;
            case 3: lines.push_back ("{\"jsonrpc\":\"2.0\",\"id\":\"s" + n + "\",\"method\":\"tools/call\",\"params\":{\"name\":\"play\"}}"); break;
            case 4: lines.push_back ("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/progress\",\"params\":{\"n\":" + n + "}}"); break;
            case 5: lines.push_back ("not json " + n); break;
            case 6: lines.push_back ("[{\"id\":" + n + ",\"method\":\"ping\"},{\"method\":\"n\"},{\"id\":\"b" + n + "\",\"method\":\"nope\"}]"); break;
            case 7: lines.push_back ("{\"jsonrpc\":\"2.0\",\"id\":" + n + ",\"method\":\"initialize\",\"params\":{\"protocolVersion\":\"2024-11-05\"}}"); break;
            case 8: lines.push_back ("{\"jsonrpc\":\"2.0\",\"id\":" + n + "99999999999999999999,\"method\":\"x/" + n + "\"}"); break;
            default: lines.push_back (i % 100 == 9 ? "{\"jsonrpc\":\"2.0\",\"id\":" + n + ",\"method\":\"tools/list\"}" : "  \t"); break;
        }
    }

    return lines;
}

/** What the bridge must write for these lines when every message is answered locally. */
std::vector<std::string> localReplies (const std::vector<std::string>& lines)
{
    std::vector<std::string> replies;

    for (const auto& line : lines)
        if (const auto text = bridge::lineText (line); ! text.empty())
            if (auto reply = bridge::handle (text, {}).reply; ! reply.empty())
                replies.push_back (std::move (reply));

    return replies;
}

/** A host that answers each request exactly as the bridge would answer it locally, so that the
    output is the same whether a message was relayed or fell back. One connection at a time. */
class EchoHost
{
public:
    enum class Style { normal, trickle, flood, oversized };

    EchoHost() { start(); }
    ~EchoHost() { stop(); }

    void start (juce::String newToken = token)
    {
        stop();
        hostToken = newToken;
        listener = std::make_unique<juce::StreamingSocket>();
        listener->createListener (0, "127.0.0.1");
        stopping = false;
        thread = std::thread ([this] { run(); });
    }

    void stop()
    {
        stopping = true;

        if (thread.joinable())
            thread.join();

        listener.reset();   // refused from now on
    }

    int port() const { return listener->getBoundPort(); }
    std::atomic<int> served { 0 };
    std::atomic<Style> style { Style::normal };

private:
    std::unique_ptr<juce::StreamingSocket> listener;
    std::thread thread;
    std::atomic<bool> stopping { false };
    juce::String hostToken;

    void run()
    {
        while (! stopping)
        {
            if (listener->waitUntilReady (true, 10) != 1)
                continue;

            std::unique_ptr<juce::StreamingSocket> connection (listener->waitForNextConnection());

            if (connection != nullptr)
                serve (*connection);
        }
    }

    void serve (juce::StreamingSocket& connection)
    {
        assistant::HttpMessage request;

        if (! assistant::readHttp (connection, request, true, 5000))
            return;

        ++served;

        if (! assistant::tokensMatch (hostToken, request.header ("authorization").fromFirstOccurrenceOf ("Bearer ", false, false)))
        {
            assistant::writeAll (connection, assistant::refusalResponse (401));
            return;
        }

        juce::var message;
        assistant::parseJson (request.body, message);
        const auto reply = assistant::answerMessage (message, bridge::answerLocally);

        const auto response = reply.isVoid() ? assistant::httpResponse (202, {}, {})
                                             : assistant::httpResponse (200, assistant::toJson (reply), "application/json");

        switch (style.load())
        {
            case Style::normal:
                assistant::writeAll (connection, response);
                break;

            case Style::trickle:
                for (const auto c : response.toStdString())
                {
                    sendBytes (connection, std::string (1, c));
                    juce::Thread::sleep (c == '\n' ? 1 : 0);
                }
                break;

            case Style::flood:
                // No length: the bridge reads to its cap and finds no JSON there, so the
                // message is finished with nothing written
                sendBytes (connection, "HTTP/1.1 200 OK\r\n\r\n");
                for (int i = 0; i < 200 && ! stopping; ++i)
                    sendBytes (connection, std::string (8192, ' ') + "x");
                break;

            case Style::oversized:
                sendBytes (connection, "HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n{}");
                break;
        }
    }
};

struct SessionFigures
{
    int replies = 0;
    int mismatches = 0;
    int descriptorsBefore = 0, descriptorsAfter = 0;
    long residentBefore = 0, residentAfter = 0;
    std::string err;
    int exitCode = -1;
};

/** Runs the lines through one bridge, checking every reply against `expected` in order, with
    `duringSession` called from the writing thread between lines. */
SessionFigures runSession (const TempHome& home, const std::vector<std::string>& lines, const std::vector<std::string>& expected,
                           std::function<void (size_t line)> duringSession = {})
{
    BridgeProcess bridge (home);
    SessionFigures figures;
    std::string line;

    // Measure only while the bridge is idle, waiting on stdin, never with a post in flight
    bridge.write ("{\"jsonrpc\":\"2.0\",\"id\":\"warm-up\",\"method\":\"ping\"}\n");
    EXPECT_TRUE (bridge.readLine (line));
    figures.descriptorsBefore = bridge.openDescriptors();
    figures.residentBefore = bridge.residentKiB();

    std::thread writer ([&]
    {
        std::string batch;

        for (size_t i = 0; i < lines.size(); ++i)
        {
            if (duringSession)
                duringSession (i);

            batch += lines[i] + "\n";

            if (batch.size() > 16384 || i + 1 == lines.size() || duringSession)
            {
                bridge.write (batch);
                batch.clear();
            }
        }
    });

    for (size_t i = 0; i < expected.size(); ++i)
    {
        if (! bridge.readLine (line, 60000))
            break;

        ++figures.replies;
        figures.mismatches += (line != expected[i]);

        if (figures.mismatches == 1 && line != expected[i])
            ADD_FAILURE() << "reply " << i << ": " << line.substr (0, 300) << "\nexpected: " << expected[i].substr (0, 300);
    }

    // All replies are in and the writer is done: the bridge is idle again
    writer.join();
    juce::Thread::sleep (20);
    figures.descriptorsAfter = bridge.openDescriptors();
    figures.residentAfter = bridge.residentKiB();
    bridge.closeInput();
    EXPECT_FALSE (bridge.readLine (line, 30000)) << "a reply too many: " << line.substr (0, 300);
    figures.exitCode = bridge.waitForExit (30000);
    juce::Thread::sleep (50);   // let the stderr reader take the last bytes
    figures.err = bridge.readError();
    return figures;
}

void expectFlat (const SessionFigures& figures)
{
    EXPECT_EQ (requireFigure (figures.descriptorsAfter, "the bridge's descriptors"), requireFigure (figures.descriptorsBefore, "the bridge's descriptors"));

    // AddressSanitizer holds freed memory in quarantine on purpose; resident size says nothing there
    if (! underSanitizer)
    {
        EXPECT_LT (requireFigure (figures.residentAfter, "the bridge's resident memory"),
                   requireFigure (figures.residentBefore, "the bridge's resident memory") + 4096) << "resident memory grew by more than 4 MB";
    }
}

/** Every reply present and right, in order; nothing on stderr; status 0. */
void expectWholeSession (const SessionFigures& figures, const std::vector<std::string>& expected)
{
    EXPECT_EQ (figures.replies, (int) expected.size());
    EXPECT_EQ (figures.mismatches, 0);
    EXPECT_EQ (figures.err, "");
    EXPECT_EQ (figures.exitCode, 0);
}

std::string describe (const SessionFigures& f)
{
    return "descriptors " + std::to_string (f.descriptorsBefore) + " -> " + std::to_string (f.descriptorsAfter)
           + ", resident " + juce::String (f.residentBefore / 1024.0, 1).toStdString() + " MB -> "
           + juce::String (f.residentAfter / 1024.0, 1).toStdString() + " MB";
}

constexpr int sessionLines = 100000;
} // namespace

TEST (Faults, HundredThousandMixedLinesOffline)
{
    TempHome home;
    const auto lines = mixedLines (sessionLines);
    const auto expected = localReplies (lines);
    const auto figures = runSession (home, lines, expected);
    expectWholeSession (figures, expected);
    expectFlat (figures);
    report ("faults", "offline: " + std::to_string (lines.size()) + " mixed lines, " + std::to_string (figures.replies) + " of "
            + std::to_string (expected.size()) + " replies checked in order, " + std::to_string (figures.mismatches)
            + " wrong or lost; " + describe (figures));
}

TEST (Faults, HundredThousandMixedLinesRelayed)
{
    TempHome home;
    EchoHost host;
    writeEndpointFor (home, host.port(), token);
    const auto lines = mixedLines (sessionLines);
    const auto expected = localReplies (lines);
    const auto figures = runSession (home, lines, expected);
    expectWholeSession (figures, expected);
    // Every readable message is relayed, the warm-up too; blank and unreadable lines never are
    int readable = 0;
    for (const auto& line : lines)
    {
        juce::var message;
        readable += assistant::parseJson (bridge::lineText (line), message);
    }
    EXPECT_EQ (host.served, readable + 1);
    expectFlat (figures);
    report ("faults", "relayed: " + std::to_string (lines.size()) + " mixed lines, " + std::to_string (host.served) + " posted to the host, "
            + std::to_string (figures.replies) + " replies checked in order, " + std::to_string (figures.mismatches)
            + " wrong or lost; " + describe (figures));
}

TEST (Faults, HostDiesMovesAndEndpointFileIsRewrittenUnderTheBridge)
{
    TempHome home;
    EchoHost host;
    writeEndpointFor (home, host.port(), token);
    const auto file = home.endpointFile();
    const auto lines = mixedLines (20000);
    const auto expected = localReplies (lines);
    int faults = 0;

    const auto figures = runSession (home, lines, expected, [&] (size_t i)
    {
        if (i == 0 || i % 500 != 0)
            return;

        ++faults;

        switch ((i / 500) % 5)
        {
            case 0:   // killed: nothing listens on the old port
                host.stop();
                break;

            case 1:   // restarted on a new port with a new token, and published
                host.start (token + "x");
                writeEndpointFor (home, host.port(), token + "x");
                break;

            case 2:   // caught half-written, then complete
            {
                const auto text = file.loadFileAsString().toStdString();
                file.replaceWithData (text.data(), text.size() / 2);
                juce::Thread::sleep (5);
                file.replaceWithData (text.data(), text.size());
                break;
            }

            case 3:   // emptied for a moment
                file.replaceWithData ("", 0);
                juce::Thread::sleep (2);
                writeEndpointFor (home, host.port(), token + "x");
                break;

            default:  // a stale token: the host refuses, the bridge says so and answers itself
                writeEndpointFor (home, host.port(), token);
                break;
        }
    });

    EXPECT_EQ (figures.replies, (int) expected.size());
    EXPECT_EQ (figures.mismatches, 0);
    EXPECT_EQ (figures.exitCode, 0);
    expectFlat (figures);

    // stderr holds only the refusal line, once per refused message
    juce::StringArray errLines;
    errLines.addLines (juce::String (figures.err));
    errLines.removeEmptyStrings();

    for (const auto& line : errLines)
        EXPECT_EQ (line.toStdString(), "VeltoMCP: Velto answered HTTP 401: The access token is missing or wrong: turn Velto's "
                                       "AI assistant connection off and on (Options > AI Assistant) and try again.");

    report ("faults", "host faults: " + std::to_string (lines.size()) + " lines with " + std::to_string (faults)
            + " faults injected (host killed, moved with a new token, endpoint half-written, emptied, stale), "
            + std::to_string (figures.replies) + " replies checked, " + std::to_string (figures.mismatches) + " wrong or lost, "
            + std::to_string (errLines.size()) + " refusals reported; " + describe (figures));
}

TEST (Faults, HostsThatTrickleFloodOrOversize)
{
    struct Case { const char* label; EchoHost::Style style; int lines; bool answersWritten; };
    const Case cases[] = {
        { "trickling byte by byte", EchoHost::Style::trickle, 200, true },
        { "flooding without a length", EchoHost::Style::flood, 20, false },
        { "announcing an oversized body", EchoHost::Style::oversized, 500, true },
    };

    for (const auto& c : cases)
    {
        TempHome home;
        EchoHost host;
        writeEndpointFor (home, host.port(), token);

        std::vector<std::string> lines;
        for (int i = 0; i < c.lines; ++i)
            lines.push_back ("{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string (i) + ",\"method\":\"ping\"}");

        // A flood finishes each message with nothing written; the others are answered in full
        const auto expected = c.answersWritten ? localReplies (lines) : std::vector<std::string>();
        const auto started = juce::Time::getMillisecondCounter();
        // The warm-up message is answered normally; the misbehaviour starts with the first line
        const auto figures = runSession (home, lines, expected, [&] (size_t i) { if (i == 0) host.style = c.style; });

        EXPECT_EQ (figures.mismatches, 0) << c.label;
        EXPECT_EQ (figures.replies, (int) expected.size()) << c.label;
        EXPECT_EQ (figures.err, "") << c.label;
        EXPECT_EQ (figures.exitCode, 0) << c.label;
        EXPECT_EQ (host.served, c.lines + 1) << c.label;
        report ("faults", std::string ("host ") + c.label + ": " + std::to_string (c.lines) + " messages, "
                + std::to_string (figures.replies) + " replies, " + std::to_string (figures.mismatches) + " wrong, in "
                + std::to_string (juce::Time::getMillisecondCounter() - started) + " ms");
    }
}

TEST (Faults, ClientThatStopsReadingEndsTheBridgePromptly)
{
    TempHome home;
    BridgeProcess bridge (home);
    const std::string burst = [] { std::string s; for (int i = 0; i < 1000; ++i) s += "{\"id\":1,\"method\":\"tools/list\"}\n"; return s; }();

    std::atomic<bool> done { false };
    std::thread writer ([&] { while (! done && bridge.write (burst)) {} });

    std::string line;
    EXPECT_TRUE (bridge.readLine (line));
    bridge.closeOutput();

    // The writer keeps stdin open and full meanwhile: only the closed stdout can end the bridge
    // before the wait runs out
    const auto started = juce::Time::getMillisecondCounter();
    const int exitCode = bridge.waitForExit (30000);
    const auto elapsedMs = juce::Time::getMillisecondCounter() - started;
    done = true;
    bridge.closeInput();
    writer.join();

    EXPECT_EQ (exitCode, 0);
    EXPECT_EQ (bridge.readError(), "");
    report ("faults", "client closed stdout mid-stream: the bridge ended with status " + std::to_string (exitCode) + " in "
            + std::to_string (elapsedMs) + " ms");
}

TEST (Faults, StdinEndingMidLine)
{
    TempHome home;
    const std::string pong = R"({"jsonrpc": "2.0", "id": 1, "result": {}})" "\n";
    const std::string parseError = R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})" "\n";

    struct Case { const char* label; std::string input; std::string output; };
    const Case cases[] = {
        { "cut inside an object", "{\"id\":1,\"method\":\"ping\"}\n{\"id\":2,\"meth", pong + parseError },
        { "cut inside a string", "{\"id\":1,\"method\":\"ping\"}\n[\"abc", pong + parseError },
        { "cut after a complete object", "{\"id\":1,\"method\":\"ping\"}", pong },
        { "cut inside a UTF-8 sequence", "{\"id\":1,\"method\":\"ping\"}\n{\"id\":\"\xC3", pong + parseError },
    };

    for (const auto& c : cases)
    {
        const auto result = runBridge (home, c.input);
        EXPECT_EQ (result.out, c.output) << c.label;
        EXPECT_EQ (result.err, "") << c.label;
        EXPECT_EQ (result.exitCode, 0) << c.label;
    }

    report ("faults", "stdin ending mid-line: " + std::to_string (std::size (cases)) + " cases, each answered and ended with status 0");
}

TEST (Faults, EndpointFileReplacedWhileReadAndRelayed)
{
    // Two hosts, and the endpoint file naming one and then the other, rewritten all along while
    // a reader and a bridge read it: each must find one whole record every time
    TempHome home;
    const auto answerOf = [] (int host) { return "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"host\":" + std::to_string (host) + "}}"; };
    ScriptedHost first (ScriptedHost::answer (200, answerOf (1))), second (ScriptedHost::answer (200, answerOf (2)));
    const assistant::Endpoint endpoints[] = { { first.port(), token }, { second.port(), token + "x" } };
    const auto file = home.endpointFile();
    ASSERT_TRUE (assistant::writeEndpoint (endpoints[0], file));

    constexpr int minimumRewrites = 3000, messages = 1000;
    std::atomic<bool> relayed { false };
    std::atomic<int> rewrites { 0 }, failedWrites { 0 }, reads { 0 }, misread { 0 };

    std::thread writer ([&]
    {
        for (; ! relayed || rewrites < minimumRewrites; ++rewrites)
            failedWrites += ! assistant::writeEndpoint (endpoints[rewrites % 2], file);
    });

    std::thread reader ([&]
    {
        for (; ! relayed || reads < minimumRewrites; ++reads)
        {
            const auto endpoint = assistant::readEndpoint (file);
            misread += ! endpoint || ! ((endpoint->port == endpoints[0].port && endpoint->token == endpoints[0].token)
                                        || (endpoint->port == endpoints[1].port && endpoint->token == endpoints[1].token));
        }
    });

    std::string input;
    for (int i = 0; i < messages; ++i)
        input += "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n";

    const auto result = runBridge (home, input);
    relayed = true;
    writer.join();
    reader.join();

    int fromHosts = 0, local = 0;
    juce::StringArray lines;
    lines.addLines (juce::String (result.out));
    for (const auto& line : lines)
    {
        fromHosts += line.startsWith ("{\"jsonrpc\": \"2.0\", \"id\": 1, \"result\": {\"host\": ");
        local += line == R"({"jsonrpc": "2.0", "id": 1, "result": {}})";
    }

    EXPECT_EQ (failedWrites, 0);
    EXPECT_EQ (misread, 0) << "of " << reads << " reads";
    EXPECT_EQ (fromHosts, messages);
    EXPECT_EQ (local, 0);
    EXPECT_EQ (result.err, "");
    // No temporary file left behind: the endpoint file and the writers' lock alone
    EXPECT_EQ (home.endpointFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2);
    report ("faults", "endpoint file replaced " + std::to_string (rewrites) + " times while read " + std::to_string (reads) + " times ("
            + std::to_string (misread) + " found missing or partial) and " + std::to_string (messages) + " messages relayed ("
            + std::to_string (local) + " answered locally)");
}
