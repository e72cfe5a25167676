// The built bridge relaying to a scripted host on loopback: exact stdout, stderr and status,
// and the exact request the host received.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace velto::test;

namespace
{
const juce::String token = "0123456789abcdef0123456789abcdef";
const std::string ping = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n";
const std::string localPong = R"({"jsonrpc": "2.0", "id": 1, "result": {}})" "\n";

std::string bodyOf (const std::string& request)
{
    return request.substr (request.find ("\r\n\r\n") + 4);
}

ProcessResult relay (ScriptedHost& host, const std::string& input, TempHome& home)
{
    writeEndpointFor (home, host.port(), token);
    return runBridge (home, input);
}
} // namespace

TEST (BridgeRelay, HostAnswers)
{
    struct Case { const char* label; ScriptedHost::Script script; std::string input; std::string out; std::string err; };
    const Case cases[] = {
        { "200 object relayed in the wire form", ScriptedHost::answer (200, "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"z\":1,\"a\":\"\xC3\xA9\"}}"),
          ping, "{\"jsonrpc\": \"2.0\", \"id\": 1, \"result\": {\"z\": 1, \"a\": \"\xC3\xA9\"}}\n", "" },
        { "200 array", ScriptedHost::answer (200, "[{\"id\":1},{\"id\":2}]"), "[" + ping.substr (0, ping.size() - 1) + "]\n", "[{\"id\": 1}, {\"id\": 2}]\n", "" },
        { "200 empty array", ScriptedHost::answer (200, "[]"), ping, "[]\n", "" },
        { "202", ScriptedHost::answer (202, ""), "{\"method\":\"notifications/initialized\"}\n", "", "" },
        { "202 to a request: nothing", ScriptedHost::answer (202, "ignored"), ping, "", "" },
        { "200 empty body: nothing at all", ScriptedHost::answer (200, ""), ping, "", "" },
        { "200 not JSON", ScriptedHost::answer (200, "hello"), ping, "", "" },
        { "200 event stream", ScriptedHost::answer (200, "event: message\ndata: {\"id\":1}\n\n"), ping, "", "" },
        { "200 a bare number", ScriptedHost::answer (200, "42"), ping, "", "" },
        { "401 empty body", ScriptedHost::answer (401, ""), ping, localPong, "VeltoMCP: Velto answered HTTP 401: \n" },
        { "403 with a body", ScriptedHost::answer (403, "no\nway"), ping, localPong, "VeltoMCP: Velto answered HTTP 403: no\nway\n" },
        { "500 to a tool call", ScriptedHost::answer (500, "x"), "{\"id\":1,\"method\":\"tools/call\"}\n",
          "{\"jsonrpc\": \"2.0\", \"id\": 1, \"result\": {\"content\": [{\"type\": \"text\", \"text\": \"Velto isn't open, or its AI assistant connection is off. Open Velto and turn it on in Options > AI Assistant, then try again.\"}], \"isError\": true}}\n",
          "VeltoMCP: Velto answered HTTP 500: x\n" },
        { "garbage answer: local, silently", ScriptedHost::raw ("\x01garbage\r\n\r\n"), ping, localPong, "" },
        { "closes early: local, silently", ScriptedHost::raw ("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{"), ping, localPong, "" },
        { "giant head: local, silently", ScriptedHost::raw ("HTTP/1.1 200 OK\r\nX: " + std::string (40000, 'x') + "\r\n\r\n"), ping, localPong, "" },
        { "body over the limit: local, silently", ScriptedHost::raw ("HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n"), ping, localPong, "" },
        { "no length then close", ScriptedHost::raw ("HTTP/1.1 200 OK\r\n\r\n{\"id\":1}"), ping, "{\"id\": 1}\n", "" },
    };

    for (const auto& c : cases)
    {
        TempHome home;
        ScriptedHost host (c.script);
        const auto result = relay (host, c.input, home);
        EXPECT_EQ (result.out, c.out) << c.label;
        EXPECT_EQ (result.err, c.err) << c.label;
        EXPECT_EQ (result.exitCode, 0) << c.label;
    }
}

TEST (BridgeRelay, WideObjectsGoBothWaysWhole)
{
    std::string members, wireMembers;

    for (int i = 0; i < 70000; ++i)
    {
        members.append (i > 0 ? "," : "").append ("\"").append (std::to_string (i)).append ("\":0.5");
        wireMembers.append (i > 0 ? ", " : "").append ("\"").append (std::to_string (i)).append ("\": 0.5");
    }

    ScriptedHost host (ScriptedHost::answer (200, R"({"jsonrpc":"2.0","id":1,"result":{)" + members + "}}"));
    const auto line = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"arguments":{)" + members + "}}}\n";
    const auto reply = R"({"jsonrpc": "2.0", "id": 1, "result": {)" + wireMembers + "}}\n";
    TempHome home;

    const auto result = relay (host, line + line + line, home);
    EXPECT_EQ (result.out, reply + reply + reply);
    EXPECT_EQ (result.err, "");
    ASSERT_EQ (host.requests().size(), 3u);
    EXPECT_EQ (bodyOf (host.requests()[2]), R"({"jsonrpc": "2.0", "id": 1, "method": "tools/call", "params": {"arguments": {)" + wireMembers + "}}}");
}

TEST (BridgeRelay, RequestAsTheHostSeesIt)
{
    TempHome home;
    ScriptedHost host (ScriptedHost::answer (202, ""));
    const auto result = relay (host, "  {\"method\" : \"x\",\"id\":1.50,\"p\":[1 , \"\xC3\xA9\"]} trailing\n"
                                     "not json\n"
                                     "[{\"id\":1,\"method\":\"ping\"},{\"method\":\"n\"}]\n", home);

    EXPECT_EQ (result.out, R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})" "\n");
    EXPECT_EQ (result.err, "");

    const auto requests = host.requests();
    ASSERT_EQ (requests.size(), 2u);   // the unreadable line never reaches the host
    const std::string first = "{\"method\": \"x\", \"id\": 1.5, \"p\": [1, \"\xC3\xA9\"]}";
    EXPECT_EQ (requests[0], "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string (host.port()) + "\r\n"
                            "Authorization: Bearer " + token.toStdString() + "\r\nContent-Type: application/json\r\n"
                            "Accept: application/json, text/event-stream\r\nContent-Length: " + std::to_string (first.size())
                            + "\r\nConnection: close\r\n\r\n" + first);
    EXPECT_EQ (bodyOf (requests[1]), R"([{"id": 1, "method": "ping"}, {"method": "n"}])");   // a batch goes whole
}

TEST (BridgeRelay, EndpointReadAnewForEveryMessage)
{
    TempHome home;
    ScriptedHost second (ScriptedHost::answer (200, "{\"from\":\"second\"}"));

    // The first host answers and then moves the endpoint to the second host, with a new token
    ScriptedHost first ([&] (juce::StreamingSocket& connection, const std::string&)
    {
        writeEndpointFor (home, second.port(), token + "new");
        sendBytes (connection, "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n{\"from\":\"first\"}");
    });

    const auto result = relay (first, ping + ping, home);
    EXPECT_EQ (result.out, "{\"from\": \"first\"}\n{\"from\": \"second\"}\n");
    ASSERT_EQ (second.requests().size(), 1u);
    EXPECT_NE (second.requests()[0].find ("Bearer " + token.toStdString() + "new\r\n"), std::string::npos);
}

TEST (BridgeRelay, UnusableEndpointsAnswerLocallyAndSilently)
{
    ScriptedHost host (ScriptedHost::answer (200, "{\"host\":1}"));
    int freePort = 0;
    {
        juce::StreamingSocket probe;
        probe.createListener (0, "127.0.0.1");
        freePort = probe.getBoundPort();
    }

    struct Case { const char* label; int port; juce::String token; };
    const Case cases[] = {
        { "nothing listening", freePort, token },
        { "port 0", 0, token },
        { "short token", host.port(), token.substring (1) },
    };

    for (const auto& c : cases)
    {
        TempHome home;
        writeEndpointFor (home, c.port, c.token);
        const auto result = runBridge (home, ping);
        EXPECT_EQ (result.out, localPong) << c.label;
        EXPECT_EQ (result.err, "") << c.label;
        EXPECT_EQ (result.exitCode, 0) << c.label;
    }

    EXPECT_EQ (host.connections(), 0);
}

TEST (BridgeRelay, HostThatNeverAnswersFallsBackAfterTheBudget)
{
    TempHome home;
    std::atomic<bool> release { false };
    ScriptedHost host ([&] (juce::StreamingSocket&, const std::string&)
    {
        while (! release)
            juce::Thread::sleep (20);
    });

    // The budget must be spent before the bridge gives up, and the bridge must give up long
    // before the test's own wait for it would
    constexpr int budgetMs = velto::assistant::veltoAnswerTimeoutMs;
    writeEndpointFor (home, host.port(), token);
    const auto started = juce::Time::getMillisecondCounter();
    const auto result = runBridge (home, ping, {}, 3 * budgetMs);
    const auto elapsedMs = juce::Time::getMillisecondCounter() - started;
    release = true;

    EXPECT_EQ (result.out, localPong);
    EXPECT_EQ (result.err, "");
    EXPECT_GE (elapsedMs, (juce::uint32) budgetMs);
    EXPECT_LT (elapsedMs, (juce::uint32) (2 * budgetMs));
    report ("timings", "a host that never answers: the bridge fell back to its own answer after " + std::to_string (elapsedMs)
            + " ms (budget " + std::to_string (budgetMs) + ")");
}

TEST (PostToVelto, TenThousandPostsLeakNoDescriptor)
{
    const auto openDescriptors = [] { return requireFigure (openDescriptorsOf (getpid()), "this process's descriptors"); };

    // One thread, one connection at a time: a plain loop is all this host needs
    juce::StreamingSocket listener;
    listener.createListener (0, "127.0.0.1");
    std::atomic<bool> stop { false };
    std::thread server ([&]
    {
        while (! stop)
        {
            if (listener.waitUntilReady (true, 20) != 1)
                continue;

            std::unique_ptr<juce::StreamingSocket> connection (listener.waitForNextConnection());

            if (connection != nullptr)
            {
                readRequest (*connection);
                sendBytes (*connection, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
            }
        }
    });

    const auto before = openDescriptors();
    int answered = 0;

    for (int i = 0; i < 10000; ++i)
    {
        juce::String response;
        answered += velto::assistant::postToVelto ({ listener.getBoundPort(), token }, "{}", response, 2000) == 200;
    }

    stop = true;
    server.join();
    EXPECT_EQ (answered, 10000);
    EXPECT_EQ (openDescriptors(), before);
}

TEST (BridgeRelay, RepliesDueGoOutBeforeTheBridgeWaitsForTheHost)
{
    // Two lines in one write: the first is answered at once (it does not parse), the second
    // goes to a host that answers only once the first reply has been read. A bridge that held
    // the first reply until the host answered would wait for ever.
    TempHome home;
    juce::WaitableEvent firstReplyRead;
    std::atomic<bool> answeredUnprompted { false };
    ScriptedHost host ([&] (juce::StreamingSocket& connection, const std::string&)
    {
        answeredUnprompted = ! firstReplyRead.wait (60000);
        sendBytes (connection, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n[]");
    });
    writeEndpointFor (home, host.port(), token);
    BridgeProcess bridge (home);
    bridge.write ("not json\n" + ping);

    std::string line;
    ASSERT_TRUE (bridge.readLine (line));
    firstReplyRead.signal();
    EXPECT_EQ (line, R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})");
    ASSERT_TRUE (bridge.readLine (line, 90000));
    EXPECT_EQ (line, "[]");
    EXPECT_FALSE (answeredUnprompted);
}
