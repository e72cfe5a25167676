// The reference host as a child process, spoken to over real sockets.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velto::test;
using namespace velto::assistant;

namespace
{
/** Starts the host with HOME in a temporary folder and waits for its endpoint file. */
struct RunningHost
{
    TempHome home;
    pid_t pid = -1;
    Endpoint endpoint;

    RunningHost()
    {
        pid = fork();

        if (pid == 0)
        {
            setenv ("HOME", home.folder.getFullPathName().toRawUTF8(), 1);
            freopen ("/dev/null", "w", stdout);
            execl (VELTO_HOST_PATH, VELTO_HOST_PATH, (char*) nullptr);
            _exit (127);
        }

        for (int i = 0; i < 500 && ! readEndpoint (home.endpointFile()); ++i)
            juce::Thread::sleep (10);

        if (const auto found = readEndpoint (home.endpointFile()))
            endpoint = *found;
    }

    ~RunningHost()
    {
        if (pid > 0)
            stop();
    }

    int stop()
    {
        kill (pid, SIGTERM);
        int status = 0;
        waitpid (pid, &status, 0);
        pid = -1;
        return status;
    }

    /** Sends raw bytes on a new connection and returns the status of the answer (0: none). */
    int send (const std::string& bytes, std::string* body = nullptr) const
    {
        juce::StreamingSocket socket;
        socket.connect ("127.0.0.1", endpoint.port, 2000);
        sendBytes (socket, bytes);
        HttpMessage answer;

        if (! readHttp (socket, answer, false, 5000))
            return 0;

        if (body != nullptr)
            *body = answer.body.toStdString();

        return answer.status;
    }

    std::string request (const std::string& body, const std::string& method = "POST", const std::string& path = "/mcp",
                         const std::string& bearer = "") const
    {
        return method + " " + path + " HTTP/1.1\r\nAuthorization: Bearer " + (bearer.empty() ? endpoint.token.toStdString() : bearer)
               + "\r\nContent-Length: " + std::to_string (body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
};
} // namespace

TEST (ReferenceHost, EndpointFileItPublishes)
{
    RunningHost host;
    ASSERT_GT (host.endpoint.port, 0);
    EXPECT_EQ (host.endpoint.token.length(), 64);

    struct stat info {};
    stat (host.home.endpointFile().getFullPathName().toRawUTF8(), &info);
    EXPECT_EQ (info.st_mode & 0777, 0600u);

    juce::StringArray lines;
    lines.addTokens (host.home.endpointFile().loadFileAsString(), "\n", "");
    EXPECT_EQ (lines.size(), 5);
    EXPECT_EQ (lines[1], "  \"port\": " + juce::String (host.endpoint.port) + ",\r");

    EXPECT_EQ (WEXITSTATUS (host.stop()), 0);
    EXPECT_FALSE (host.home.endpointFile().exists());   // removed on SIGTERM
}

TEST (ReferenceHost, RefusalsAndAnswers)
{
    RunningHost host;
    const auto ping = std::string ("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}");

    struct Case { const char* label; std::string bytes; int status; std::string body; };
    const Case cases[] = {
        { "answer", host.request (ping), 200, R"({"jsonrpc": "2.0", "id": 1, "result": {}})" },
        { "no token", "POST /mcp HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 401, "" },
        { "wrong token", host.request (ping, "POST", "/mcp", std::string (64, 'f')), 401, "" },
        { "token with one character more", host.request (ping, "POST", "/mcp", host.endpoint.token.toStdString() + "0"), 401, "" },
        { "lower-case scheme", "POST /mcp HTTP/1.1\r\nAuthorization: bearer " + host.endpoint.token.toStdString() + "\r\nContent-Length: 2\r\n\r\n{}", 401, "" },
        { "other path", host.request (ping, "POST", "/other"), 404, "" },
        { "other method", host.request (ping, "GET"), 405, "" },
        { "body over the limit", "POST /mcp HTTP/1.1\r\nAuthorization: Bearer " + host.endpoint.token.toStdString()
                                     + "\r\nContent-Length: " + std::to_string (maxHttpBodyBytes + 1) + "\r\n\r\n", 413, "" },
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
    RunningHost host;
    juce::StreamingSocket stalled;
    ASSERT_TRUE (stalled.connect ("127.0.0.1", host.endpoint.port, 2000));
    sendBytes (stalled, "POST /mcp HTTP/1.1\r\nContent-Length: 100\r\n\r\n{");   // and then nothing

    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_EQ (host.send (host.request ("{\"id\":1,\"method\":\"ping\"}")), 200);
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 1000u);
}

TEST (ReferenceHost, HostilePeersDoNotBringItDown)
{
    RunningHost host;
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
