// The reference host under a flood of local clients, on loopback, bounded in count and time:
// ten thousand connections left stalled, clients with garbage heads, clients that never read
// their answer, and meanwhile bridges relaying real MCP traffic through the host. The host must
// stay up in bounded threads and memory, answer every bridge within the bridge's own budget (no
// request falls back to the bridge's local answer), and come back to its idle descriptors and
// threads. How fast it answers meanwhile is a figure of the report, not a condition.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

using namespace velto;
using namespace velto::test;

namespace
{
constexpr int stalledConnections = 10000;
constexpr int garbageClients = 500;
constexpr int nonReadingClients = underSanitizer ? 10 : 50;   // each a large answer for the workers to build
constexpr int bridges = 4;

/** The host's threads: the main one, the waiting one and the workers, never one per client;
    and a sanitizer's own. */
constexpr int hostThreadBound = 2 + assistant::serverWorkerThreads + (underSanitizer ? 1 : 0);
/** Its memory: a head's worth for each open connection and the answers that the non-reading
    clients leave unread, with room to spare. Sanitizers keep shadow memory of their own. */
constexpr long hostResidentBoundKiB = underSanitizer ? 1024 * 1024 : 48 * 1024;
/** How long the host has to drop what the flood left: the longest of its budgets, and then some. */
constexpr int settleMs = assistant::responseWriteTimeoutMs + assistant::requestTimeoutMs + 3000;

/** A blocking loopback connection that has sent `bytes`; -1 when it could not be made. */
int connectAndSend (int port, const std::string& bytes)
{
    // Close-on-exec, for the bridges that other threads start meanwhile; macOS can only set it
    // after the socket is made
   #if defined(SOCK_CLOEXEC)
    const int handle = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
   #else
    const int handle = ::socket (AF_INET, SOCK_STREAM, 0);

    if (handle >= 0)
        ::fcntl (handle, F_SETFD, FD_CLOEXEC);
   #endif

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons ((uint16_t) port);
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

    if (handle < 0 || ::connect (handle, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0)
    {
        if (handle >= 0)
            ::close (handle);

        return -1;
    }

    if (! bytes.empty())
        (void) ::send (handle, bytes.data(), bytes.size(), MSG_NOSIGNAL);

    return handle;
}

/** Raises this process's descriptor limit as far as it may go; the number it may hold. */
long raiseDescriptorLimit()
{
    rlimit limit {};
    getrlimit (RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit (RLIMIT_NOFILE, &limit);
    getrlimit (RLIMIT_NOFILE, &limit);
    return (long) limit.rlim_cur;
}

/** Waits until `figure` of the host is back at `idle`, for at most settleMs. */
int settled (const std::function<int()>& figure, int idle)
{
    int now = figure();

    for (int waitedMs = 0; now != idle && waitedMs < settleMs; waitedMs += 100)
    {
        juce::Thread::sleep (100);
        now = figure();
    }

    return now;
}
} // namespace

TEST (HostFlood, TenThousandStalledConnectionsWhileBridgesRelay)
{
    // Every flood connection and every bridge's pipes are this process's descriptors
    const long limit = raiseDescriptorLimit();
    const int stalled = (int) std::min<long> (stalledConnections, limit - garbageClients - nonReadingClients - 200);

    HostProcess host;
    ASSERT_GT (host.endpoint.port, 0);
    const int port = host.endpoint.port;

    // Idle figures once a request has been served and its connection closed by the host: on a
    // busy machine the client can have its answer well before the host gets to closing it
    ASSERT_EQ (host.send (host.request ("{\"jsonrpc\":\"2.0\",\"id\":0,\"method\":\"ping\"}"), nullptr, true), 200);
    const int idleDescriptors = (int) requireFigure (openDescriptorsOf (host.pid), "the host's descriptors");
    const int idleThreads = (int) requireFigure (threadsOf (host.pid), "the host's threads");
    const long idleResidentKiB = requireFigure (residentKiBOf (host.pid), "the host's resident memory");
    ASSERT_TRUE (idleDescriptors >= 0 && idleThreads >= 0 && idleResidentKiB >= 0);

    std::atomic<bool> flooding { true };
    std::atomic<int> maxThreads { idleThreads };
    std::atomic<long> maxResidentKiB { idleResidentKiB };

    std::thread sampler ([&]
    {
        while (flooding)
        {
            maxThreads = std::max (maxThreads.load(), threadsOf (host.pid));
            maxResidentKiB = std::max (maxResidentKiB.load(), residentKiBOf (host.pid));
            juce::Thread::sleep (20);
        }
    });

    // Bridges relay real traffic all through the flood; every answer must come from the host
    std::mutex figuresMutex;
    std::vector<double> answerMs;
    int notFromHost = 0;
    std::vector<std::thread> bridgeThreads;

    for (int b = 0; b < bridges; ++b)
    {
        bridgeThreads.emplace_back ([&]
        {
            BridgeProcess bridge (host.home);
            std::string line;

            // Reading and moving the transport, from several bridges at once: the session's
            // state is shared by the server's workers
            const char* calls[] = { R"("describe_track","arguments":{"track":"Bass"})", R"("play","arguments":{"from_bar":1})",
                                    R"("describe_session","arguments":{})", R"("stop","arguments":{})" };

            for (int id = 1; flooding; ++id)
            {
                const auto started = std::chrono::steady_clock::now();
                bridge.write ("{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string (id) + ",\"method\":\"tools/call\",\"params\":{\"name\":"
                              + calls[id % 4] + "}}\n");
                // A host answer later than the budget would come back as the bridge's local
                // answer, which the check below counts
                const bool answered = bridge.readLine (line, 2 * assistant::veltoAnswerTimeoutMs);
                const auto elapsedMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - started).count();

                const std::lock_guard<std::mutex> lock (figuresMutex);
                answerMs.push_back (elapsedMs);
                if (! answered || line.find ("\"isError\": false") == std::string::npos)
                    ADD_FAILURE() << "not answered by the host: " << (++notFromHost, line.substr (0, 300));
            }
        });
    }

    // The flood: stalled half requests, garbage heads, and answers that nobody reads
    std::vector<int> held;
    held.reserve ((size_t) (stalled + garbageClients + nonReadingClients));
    const auto floodStarted = std::chrono::steady_clock::now();
    int opened = 0;

    for (int i = 0; i < stalled; ++i)
        if (const int handle = connectAndSend (port, "POST /mc"); handle >= 0)
            held.push_back (handle), ++opened;

    const auto floodMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - floodStarted).count();

    for (int i = 0; i < garbageClients; ++i)
        if (const int handle = connectAndSend (port, i % 2 == 0 ? std::string ("\x01\x02garbage\r\n\r\n") : std::string (20000, (char) ('a' + i % 26))); handle >= 0)
            held.push_back (handle);

    const auto bigAnswer = host.request ("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/call\",\"params\":{\"name\":\"get_notes\",\"arguments\":{\"track\":\"Keys\"}}}");

    for (int i = 0; i < nonReadingClients; ++i)
        if (const int handle = connectAndSend (port, bigAnswer); handle >= 0)
            held.push_back (handle);

    juce::Thread::sleep (1000);   // the bridges keep relaying while all of it is held
    flooding = false;

    for (auto& thread : bridgeThreads)
        thread.join();

    sampler.join();

    for (const int handle : held)
        ::close (handle);

    const bool alive = kill (host.pid, 0) == 0;
    const int descriptorsAfter = settled ([&] { return openDescriptorsOf (host.pid); }, idleDescriptors);
    const int threadsAfter = settled ([&] { return threadsOf (host.pid); }, idleThreads);
    const auto slowestMs = answerMs.empty() ? 0.0 : *std::max_element (answerMs.begin(), answerMs.end());

    EXPECT_TRUE (alive);
    EXPECT_EQ (opened, stalled);
    EXPECT_LE (maxThreads, hostThreadBound);
    EXPECT_LE (maxResidentKiB, hostResidentBoundKiB);
    EXPECT_GT (answerMs.size(), (size_t) bridges);
    EXPECT_LT (slowestMs, assistant::veltoAnswerTimeoutMs);
    EXPECT_EQ (notFromHost, 0);
    EXPECT_EQ (descriptorsAfter, idleDescriptors);
    EXPECT_EQ (threadsAfter, idleThreads);
    EXPECT_EQ (host.send (host.request ("{\"jsonrpc\":\"2.0\",\"id\":9,\"method\":\"ping\"}")), 200);

    report ("flood", "host flood: " + std::to_string (opened) + " stalled connections opened in " + std::to_string ((int) floodMs)
            + " ms, " + std::to_string (garbageClients) + " garbage heads, " + std::to_string (nonReadingClients)
            + " answers never read; " + std::to_string (answerMs.size()) + " bridge requests answered by the host, slowest in "
            + juce::String (slowestMs, 1).toStdString() + " ms (the bridge's budget " + std::to_string (assistant::veltoAnswerTimeoutMs)
            + "); host threads "
            + std::to_string (idleThreads) + " idle, at most " + std::to_string (maxThreads) + " (bound " + std::to_string (hostThreadBound)
            + "), " + std::to_string (threadsAfter) + " after; resident " + juce::String (idleResidentKiB / 1024.0, 1).toStdString()
            + " MB idle, at most " + juce::String (maxResidentKiB / 1024.0, 1).toStdString() + " MB (bound "
            + std::to_string (hostResidentBoundKiB / 1024) + "); descriptors " + std::to_string (idleDescriptors) + " idle, "
            + std::to_string (descriptorsAfter) + " after");
}
