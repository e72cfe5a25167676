// The reference host as a child process, spoken to over real sockets.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>

using namespace velto::test;
using namespace velto::assistant;

TEST (ReferenceHost, EndpointFileItPublishes)
{
    HostProcess host;
    ASSERT_GT (host.endpoint.port, 0);
    EXPECT_EQ (host.endpoint.token.length(), 64);

    struct stat info {};
    stat (host.home.endpointFile().getFullPathName().toRawUTF8(), &info);
    EXPECT_EQ (info.st_mode & 0777, 0600u);

    juce::StringArray lines;
    lines.addTokens (host.home.endpointFile().loadFileAsString(), "\n", "");
    EXPECT_EQ (lines.size(), 5);
    EXPECT_EQ (lines[1], "  \"port\": " + juce::String (host.endpoint.port) + ",\r");

    const int status = host.stop();   // a variable: macOS's WEXITSTATUS takes its argument's address
    EXPECT_EQ (WEXITSTATUS (status), 0);
    EXPECT_FALSE (host.home.endpointFile().exists());   // removed on SIGTERM
}

TEST (ReferenceHost, EverySignalThatWouldEndItTakesItsFileBack)
{
    struct Case { const char* label; int signalNumber; };
    const Case cases[] = {
        { "SIGHUP", SIGHUP }, { "SIGINT", SIGINT }, { "SIGTERM", SIGTERM }, { "SIGQUIT", SIGQUIT },
        { "SIGUSR1", SIGUSR1 }, { "SIGUSR2", SIGUSR2 }, { "SIGALRM", SIGALRM }, { "SIGVTALRM", SIGVTALRM },
        { "SIGPROF", SIGPROF }, { "SIGXCPU", SIGXCPU },
       #if defined(__linux__)
        { "SIGRTMIN", SIGRTMIN }, { "SIGRTMAX", SIGRTMAX },
       #endif
    };

    for (const auto& c : cases)
    {
        HostProcess host;
        ASSERT_GT (host.endpoint.port, 0) << c.label;
        const auto status = host.stop (c.signalNumber);
        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0) << c.label << ": wait status " << status;
        EXPECT_FALSE (host.home.endpointFile().exists()) << c.label;
    }

    // SIGPIPE would end it too, but the server never needs it: it is ignored
    HostProcess host;
    kill (host.pid, SIGPIPE);
    EXPECT_EQ (host.send (host.request ("{\"id\":1,\"method\":\"ping\"}")), 200);
    EXPECT_TRUE (host.home.endpointFile().existsAsFile());
}

TEST (ReferenceHost, StoppingLeavesTheFileOfAHostStartedSince)
{
    HostProcess first;
    HostProcess second (first.sharedHome);
    ASSERT_GT (second.endpoint.port, 0);
    ASSERT_NE (second.endpoint.token, first.endpoint.token);

    const int firstStatus = first.stop();
    EXPECT_EQ (WEXITSTATUS (firstStatus), 0);
    const auto left = readEndpoint (first.home.endpointFile());
    ASSERT_TRUE (left) << "the first host took the second one's file away";
    EXPECT_EQ (left->token, second.endpoint.token);

    const auto call = runBridge (second.home, R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"describe_session","arguments":{}}})" "\n");
    EXPECT_NE (call.out.find ("\"isError\": false"), std::string::npos) << call.out.substr (0, 300);

    const int secondStatus = second.stop();
    EXPECT_EQ (WEXITSTATUS (secondStatus), 0);
    EXPECT_FALSE (first.home.endpointFile().exists());
}

TEST (ReferenceHost, RefusalsAndAnswers)
{
    HostProcess host;
    const auto ping = std::string ("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}");
    const auto pong = std::string (R"({"jsonrpc": "2.0", "id": 1, "result": {}})");
    const auto port = std::to_string (host.endpoint.port);
    const auto pingWith = [&] (const std::string& headers)   // a ping with the token and these header lines
    {
        auto bytes = host.request (ping);
        return bytes.insert (bytes.find ("\r\n") + 2, headers);
    };

    const std::string notLocal = "The request comes from a web page (its Origin or Host is not this computer): only local programs may connect.";
    const std::string badToken = "The access token is missing or wrong: turn Velto's AI assistant connection off and on "
                                 "(Options > AI Assistant) and try again.";
    const std::string postOnly = "Velto's AI assistant answers POST /mcp only.";

    struct Case { const char* label; std::string bytes; int status; std::string body; };
    const Case cases[] = {
        { "answer", host.request (ping), 200, pong },
        { "the bridge's own Host", pingWith ("Host: 127.0.0.1:" + port + "\r\n"), 200, pong },
        { "loopback names, with and without the port", pingWith ("Host: LOCALHOST\r\nOrigin: http://localhost:" + port + "\r\n"), 200, pong },
        { "IPv6 loopback", pingWith ("Host: [::1]:" + port + "\r\nOrigin: http://[::1]\r\n"), 200, pong },
        { "a rebound name as Host", pingWith ("Host: evil.example.com:" + port + "\r\n"), 403, notLocal },
        { "a page's Origin", pingWith ("Host: 127.0.0.1:" + port + "\r\nOrigin: http://evil.example.com\r\n"), 403, notLocal },
        { "both, as the rebinding page sends them", pingWith ("Host: evil.example.com\r\nOrigin: http://evil.example.com\r\n"), 403, notLocal },
        { "Origin null", pingWith ("Origin: null\r\n"), 403, notLocal },
        { "loopback origin over another scheme", pingWith ("Origin: https://127.0.0.1\r\n"), 403, notLocal },
        { "a loopback name as a prefix", pingWith ("Host: 127.0.0.1.evil.example.com\r\n"), 403, notLocal },
        { "a port past 65535", pingWith ("Host: 127.0.0.1:65536\r\n"), 403, notLocal },
        { "no token", "POST /mcp HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 401, badToken },
        { "wrong token", host.request (ping, "POST", "/mcp", std::string (64, 'f')), 401, badToken },
        { "token with one character more", host.request (ping, "POST", "/mcp", host.endpoint.token.toStdString() + "0"), 401, badToken },
        { "lower-case scheme", "POST /mcp HTTP/1.1\r\nAuthorization: bearer " + host.endpoint.token.toStdString() + "\r\nContent-Length: 2\r\n\r\n{}", 401, badToken },
        { "other path", host.request (ping, "POST", "/other"), 404, "Not found: " + postOnly },
        { "other method", host.request (ping, "GET"), 405, "Method not allowed: " + postOnly },
        { "body over the limit", "POST /mcp HTTP/1.1\r\nAuthorization: Bearer " + host.endpoint.token.toStdString()
                                     + "\r\nContent-Length: " + std::to_string (maxHttpBodyBytes + 1) + "\r\n\r\n", 413,
          "The request is too large: at most 1048576 bytes. Send less at once, or a batch in smaller batches." },
        { "a body that never comes whole", host.request (ping).substr (0, host.request (ping).size() - 5), 400,
          "The request did not arrive whole within 2000 ms: send it in one piece." },
        { "not JSON", host.request ("hello"), 400, R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})" },
        { "deep nesting", host.request (std::string (100000, '[')), 400, R"({"jsonrpc": "2.0", "id": null, "error": {"code": -32700, "message": "Parse error"}})" },
        { "notification", host.request ("{\"method\":\"notifications/initialized\"}"), 202, "" },
        { "batch of notifications", host.request ("[{\"method\":\"a\"},{\"method\":\"b\"}]"), 202, "" },
        { "batch", host.request ("[" + ping + ",{\"method\":\"n\"}]"), 200, R"([{"jsonrpc": "2.0", "id": 1, "result": {}}])" },
    };

    for (const auto& c : cases)
    {
        std::string body;
        EXPECT_EQ (host.send (c.bytes, &body), c.status) << c.label;
        EXPECT_EQ (body, c.body) << c.label;
    }
}

TEST (ReferenceHost, StalledClientDoesNotBlockOthers)
{
    // A request with the right token, cut short, and then nothing: the host holds it until its
    // budget for a whole request is spent. The ping must be answered while it still does.
    HostProcess host;
    const auto ping = host.request ("{\"id\":1,\"method\":\"ping\"}");
    juce::StreamingSocket stalled;
    ASSERT_TRUE (stalled.connect ("127.0.0.1", host.endpoint.port, 2000));
    sendBytes (stalled, ping.substr (0, ping.size() - 5));

    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_EQ (host.send (ping), 200);
    const auto elapsedMs = juce::Time::getMillisecondCounter() - started;
    EXPECT_EQ (stalled.waitUntilReady (true, 0), 0) << "the stalled request was answered (or dropped) before the ping";
    report ("timings", "a ping beside a stalled request was answered in " + std::to_string (elapsedMs)
            + " ms, while the stalled one was still held (the host holds it " + std::to_string (requestTimeoutMs) + " ms)");
}

TEST (ReferenceHost, HostilePeersDoNotBringItDown)
{
    HostProcess host;
    const std::string hostile[] = { "", "\r\n\r\n", std::string (40000, 'x'), "GARBAGE\r\n\r\n", std::string ("\0\0\0\r\n\r\n", 7),
                                    "POST /mcp HTTP/1.1\r\nContent-Length: -5\r\n\r\n" };

    for (const auto& bytes : hostile)
    {
        juce::StreamingSocket socket;
        socket.connect ("127.0.0.1", host.endpoint.port, 2000);
        sendBytes (socket, bytes);
        socket.close();
    }

    EXPECT_EQ (host.send (host.request ("{\"id\":1,\"method\":\"ping\"}")), 200);
}

TEST (ReferenceHost, ContractWithTheBridge)
{
    HostProcess host;
    const auto call = [] (const std::string& tool, const std::string& arguments)
    {
        return "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/call\",\"params\":{\"name\":\"" + tool + "\",\"arguments\":" + arguments + "}}\n";
    };
    const auto toolError = [] (const std::string& text)
    {
        return "{\"jsonrpc\": \"2.0\", \"id\": 1, \"result\": {\"content\": [{\"type\": \"text\", \"text\": \"" + text + "\"}], \"isError\": true}}\n";
    };

    // Arguments are checked against the schema: nothing wraps, nothing overflows, no address shows
    struct Case { const char* label; std::string input; std::string out; };
    const Case cases[] = {
        { "clip past 32 bits", call ("get_notes", R"({"track":"Keys","clip":4294967300})"),
          toolError ("clip must be a clip id (a whole number from describe_track), not 4294967300") },
        { "track id past 32 bits", call ("describe_track", R"({"track":"4294967297"})"),
          toolError ("No track named or numbered \\\"4294967297\\\"") },
        { "arguments as an array", call ("describe_track", R"([{"track":"Bass"}])"), toolError ("arguments must be an object, not [{\\\"track\\\": \\\"Bass\\\"}]") },
        { "bar beyond the session", call ("play", R"({"from_bar":1e308})"), toolError ("from_bar must be a bar number from 1 to 10000") },
        { "track as an object", call ("describe_track", R"({"track":{"a":1}})"),
          toolError ("track must be a track name or id, as a string, not {\\\"a\\\": 1}") },
    };

    for (const auto& c : cases)
    {
        const auto result = runBridge (host.home, c.input);
        EXPECT_EQ (result.out, c.out) << c.label;
        EXPECT_EQ (result.err, "") << c.label;
    }

    // A batch whose answer would pass what the bridge reads: the call that does not fit says so,
    // and the play after it has run and says so too
    const auto notes = call ("get_notes", R"({"track":"Keys"})");
    const auto batch = "[" + notes.substr (0, notes.size() - 1) + "," + notes.substr (0, notes.size() - 1) + ","
                       + notes.substr (0, notes.size() - 1) + "," + notes.substr (0, notes.size() - 1) + ","
                       + call ("play", "{}").substr (0, call ("play", "{}").size() - 1) + "]\n";
    const auto answered = runBridge (host.home, batch);
    juce::var replies;
    ASSERT_TRUE (parseJson (std::string_view (answered.out), replies)) << answered.out.substr (0, 200);
    ASSERT_EQ (replies.size(), 5);
    EXPECT_LE (answered.out.size(), (size_t) maxHttpBodyBytes + 1);
    EXPECT_FALSE ((bool) replies[2]["result"]["isError"]);
    EXPECT_TRUE ((bool) replies[3]["result"]["isError"]);
    EXPECT_TRUE (replies[3]["result"]["content"][0]["text"].toString().startsWith ("The tool ran, but its result is too large to send back"));
    EXPECT_TRUE (replies[4]["result"]["content"][0]["text"].toString().contains ("\"result\": \"playing\""));

    // A request over the limit is refused with 413, which reaches the bridge whole: it says so
    // and answers by itself
    const auto oversized = runBridge (host.home, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"params\":{\"pad\":\""
                                                     + std::string ((size_t) maxHttpBodyBytes, 'x') + "\"}}\n");
    EXPECT_EQ (oversized.err, "VeltoMCP: Velto answered HTTP 413: The request is too large: at most 1048576 bytes. Send less at once, or a batch in smaller batches.\n");
    EXPECT_EQ (oversized.out, R"({"jsonrpc": "2.0", "id": 1, "result": {}})" "\n");
}

TEST (AnswerRequest, EveryAnswerFitsWhatTheBridgeReads)
{
    const auto token = makeToken();
    int calls = 0;

    // Tool calls answer with a text of the length that their params ask for
    const MessageHandler handler = [&calls] (const juce::var& message) -> juce::var
    {
        ++calls;
        return message.hasProperty ("id") ? rpcResult (message["id"], toolText (juce::String::repeatedString ("x", message["params"]["size"]), false))
                                          : juce::var();
    };
    const auto call = [] (int size) { return "{\"id\":1,\"method\":\"tools/call\",\"params\":{\"size\":" + std::to_string (size) + "}}"; };
    const auto textFor = [] (int limitOffset)
    {
        const auto overhead = (int) toJson (rpcResult (1, toolText ("", false))).getNumBytesAsUTF8();
        return maxHttpBodyBytes - overhead + limitOffset;
    };
    std::string manyCalls = "[";
    for (int i = 0; i < 5000; ++i)
        manyCalls += (i > 0 ? "," : "") + call (1);
    manyCalls += "]";

    struct Case { const char* label; std::string body; int status; std::vector<bool> standIns; int calls; };
    const Case cases[] = {
        { "one reply of the limit", call (textFor (0)), 200, { false }, 1 },
        { "one reply of the limit plus one", call (textFor (1)), 200, { true }, 1 },
        { "the reply that would cross the limit, and only it", "[" + call (600000) + "," + call (600000) + "," + call (10) + "]", 200, { false, true, false }, 3 },
        { "more requests than stand-ins can answer: nothing runs", manyCalls, 413, {}, 0 },
        { "an id too long to echo", "{\"id\":\"" + std::string ((size_t) maxHttpBodyBytes - 100, 'i') + "\",\"method\":\"ping\"}", 413, {}, 0 },
        { "notifications only", "[{\"method\":\"a\"},{\"method\":\"b\"}]", 202, {}, 2 },
    };

    for (const auto& c : cases)
    {
        HttpMessage request;
        request.method = "POST";
        request.path = "/mcp";
        request.headers.set ("authorization", "Bearer " + token);
        request.body = c.body;
        calls = 0;

        HttpMessage response;
        const auto text = answerRequest (request, token, handler).toStdString();
        EXPECT_EQ (frameHttp (text, false, true, &response).status, HttpFrame::Status::complete) << c.label;
        EXPECT_EQ (response.status, c.status) << c.label;
        EXPECT_LE (response.body.getNumBytesAsUTF8(), (size_t) maxHttpBodyBytes) << c.label;
        EXPECT_EQ (calls, c.calls) << c.label;

        juce::var replies;
        parseJson (response.body, replies);
        const auto list = replies.isArray() ? *replies.getArray() : juce::Array<juce::var> { replies };

        for (size_t i = 0; i < c.standIns.size(); ++i)
            EXPECT_EQ ((bool) list[(int) i]["result"]["isError"], c.standIns[i]) << c.label << ", reply " << i;
    }
}

TEST (Server, RanksConnectionsToShed)
{
    // Made-up connections and a fixed clock: one row a kind, and its rank (the lowest goes first)
    using Stage = OpenConnection::Stage;
    const auto now = std::chrono::steady_clock::time_point() + std::chrono::hours (1);
    const auto ago = [now] (int ms) { return now - std::chrono::milliseconds (ms); };

    struct Case { const char* label; OpenConnection connection; int rank; };
    const Case cases[] = {
        { "being refused",                                  { Stage::refusing, 0, 1, ago (500) }, 1 },
        { "half a request, in one read",                    { Stage::receiving, 300, 1, ago (1) }, 1 },
        { "half a request, its last byte too old",          { Stage::receiving, 300, 5, ago (stalledAfterMs + 1) }, 1 },
        { "half a request, its last byte stalledAfterMs ago", { Stage::receiving, 300, 5, ago (stalledAfterMs) }, 1 },
        { "nothing sent yet, however long ago",             { Stage::receiving, 0, 0, ago (1000) }, 2 },
        { "still arriving",                                 { Stage::receiving, 300000, 5, ago (stalledAfterMs - 1) }, 3 },
        { "with a worker",                                  { Stage::working, 0, 2, ago (1000) }, 0 },
        { "its answer going out",                           { Stage::sending, 0, 2, ago (1000) }, 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (shedRank (c.connection, now), c.rank) << c.label;
}

TEST (Server, AnswersAfterEveryStart)
{
    // Options > AI Assistant switched off and on again, with one Server
    Server server (answerProtocol);
    const juce::String ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
    const auto pingStatus = [&]
    {
        juce::String response;
        return postToVelto ({ server.port(), server.token() }, ping, response, 2000);
    };

    struct Step { const char* label; std::function<bool()> action; int status; };
    const Step steps[] = {
        { "first start", [&] { return server.start(); }, 200 },
        { "start again while running", [&] { return server.start(); }, 200 },
        { "stop", [&] { server.stop(); return true; }, 0 },
        { "stop twice", [&] { server.stop(); return true; }, 0 },
        { "start after stop", [&] { return server.start(); }, 200 },
        { "stop and start once more", [&] { server.stop(); return server.start(); }, 200 },
    };

    juce::String lastToken;

    for (const auto& step : steps)
    {
        ASSERT_TRUE (step.action()) << step.label;
        EXPECT_EQ (pingStatus(), step.status) << step.label;

        if (step.status == 200)
        {
            EXPECT_NE (server.token(), lastToken) << step.label << ": every start makes a new token";
            lastToken = server.token();
        }
    }
}
