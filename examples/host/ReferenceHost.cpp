// A reference host: what an application has to do, with velto::assistant, to serve VeltoMCP.
//
//   1. listen on 127.0.0.1 (the system picks the port),
//   2. make a token and publish port and token with writeEndpoint to endpointFile(),
//   3. for each connection: readHttp, check the Bearer token with tokensMatch, answer with
//      httpResponse sent by writeAll, close,
//   4. remove the endpoint file when the connection is switched off (here: SIGINT, SIGTERM).
//
// Behind it stands a small in-memory session (DemoSession) so that the six tools do something.
#include "DemoSession.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include <unistd.h>

namespace
{
using namespace velto::assistant;

/** A client gets this long to send its whole request; a stalled one holds only its own thread. */
constexpr int requestTimeoutMs = 10000;
/** How often the accept loop looks at the stop flag. */
constexpr int acceptPollMs = 100;
/** How long shutdown waits for connections still being served. */
constexpr int shutdownGraceMs = 12000;

std::atomic<bool> stopRequested { false };
std::atomic<int> activeConnections { 0 };

void requestStop (int)
{
    stopRequested = true;
}

juce::String jsonResponse (int status, const juce::var& body)
{
    return httpResponse (status, toJson (body), "application/json");
}

/** The response to one request, decided from what was read. Empty when the client went away
    or stalled before its head was complete: there is nobody to answer. */
juce::String respond (const HttpMessage& request, bool readWhole, const juce::String& token, velto::host::DemoSession& session)
{
    if (request.method.isEmpty() && request.path.isEmpty())
        return {};

    const auto authorization = request.header ("authorization");
    const auto presented = authorization.startsWith ("Bearer ") ? authorization.substring (7) : juce::String();

    if (! tokensMatch (token, presented))
        return httpResponse (401, {}, {});

    if (request.path != "/mcp")
        return httpResponse (404, {}, {});

    if (request.method != "POST")
        return httpResponse (405, {}, {});

    if (! readWhole)
    {
        // The head was read; the body was refused for its size or never arrived in full
        if (request.header ("content-length").getLargeIntValue() > maxHttpBodyBytes)
            return httpResponse (413, {}, {});

        return httpResponse (400, {}, {});
    }

    juce::var message;

    if (! parseJson (request.body, message))
        return jsonResponse (400, rpcError ({}, -32700, "Parse error"));

    // A batch is answered as one array; nothing to answer (notifications only) is 202
    const auto reply = answerMessage (message, [&session] (const juce::var& one) { return session.answer (one); });
    return reply.isVoid() ? httpResponse (202, {}, {}) : jsonResponse (200, reply);
}

void serve (std::unique_ptr<juce::StreamingSocket> connection, juce::String token, velto::host::DemoSession& session)
{
    HttpMessage request;
    const bool readWhole = readHttp (*connection, request, true, requestTimeoutMs);
    const auto response = respond (request, readWhole, token, session);

    if (response.isNotEmpty())
        writeAll (*connection, response);

    connection->close();
    --activeConnections;
}
} // namespace

int main()
{
    std::signal (SIGINT, requestStop);
    std::signal (SIGTERM, requestStop);

    juce::StreamingSocket listener;

    if (! listener.createListener (0, "127.0.0.1"))
    {
        std::fprintf (stderr, "reference host: cannot listen on 127.0.0.1\n");
        return 1;
    }

    const auto token = makeToken();
    const auto file = endpointFile();

    if (! writeEndpoint ({ listener.getBoundPort(), token }, file))
    {
        std::fprintf (stderr, "reference host: cannot write %s\n", file.getFullPathName().toRawUTF8());
        return 1;
    }

    std::printf ("Velto reference host on 127.0.0.1:%d, endpoint in %s\n", listener.getBoundPort(), file.getFullPathName().toRawUTF8());
    std::fflush (stdout);

    velto::host::DemoSession session;

    while (! stopRequested)
    {
        if (listener.waitUntilReady (true, acceptPollMs) != 1)
            continue;

        std::unique_ptr<juce::StreamingSocket> connection (listener.waitForNextConnection());

        if (connection == nullptr)
            continue;

        // One thread per connection, so that a slow or stalled client holds up nobody else
        ++activeConnections;
        std::thread (serve, std::move (connection), token, std::ref (session)).detach();
    }

    listener.close();
    file.deleteFile();

    for (int waitedMs = 0; activeConnections > 0 && waitedMs < shutdownGraceMs; waitedMs += 10)
        juce::Thread::sleep (10);

    std::printf ("Velto reference host stopped\n");
    return 0;
}
