// Figures for the bridge: start-up time, offline throughput, peak memory, and the time the
// bridge adds to a round trip over a direct loopback client. Prints figures; asserts nothing.
//
// Usage: velto_bench <path to VeltoMCP> [<path to the reference host>]
#include "AssistantShared.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velto::assistant;
using Clock = std::chrono::steady_clock;

namespace
{
/** A child with its stdin and stdout on pipes. */
struct Child
{
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string pending;

    Child (const std::string& program, const std::string& home)
    {
        // Children started from several threads must not inherit each other's pipes, or one
        // never sees the end of its input: close-on-exec, set before any other fork can run
        static std::mutex forkMutex;
        std::lock_guard<std::mutex> lock (forkMutex);
        int inPipe[2], outPipe[2];
        if (pipe (inPipe) != 0 || pipe (outPipe) != 0)
            return;

        for (const int fd : { inPipe[0], inPipe[1], outPipe[0], outPipe[1] })
            fcntl (fd, F_SETFD, FD_CLOEXEC);

        pid = fork();
        if (pid == 0)
        {
            dup2 (inPipe[0], 0);
            dup2 (outPipe[1], 1);
            close (inPipe[1]);
            close (outPipe[0]);
            setenv ("HOME", home.c_str(), 1);
            execl (program.c_str(), program.c_str(), (char*) nullptr);
            _exit (127);
        }

        close (inPipe[0]);
        close (outPipe[1]);
        in = inPipe[1];
        out = outPipe[0];
    }

    void write (const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();)
        {
            const auto n = ::write (in, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += (size_t) n;
        }
    }

    std::string readLine()
    {
        char buffer[65536];
        for (;;)
        {
            if (const auto lf = pending.find ('\n'); lf != std::string::npos)
            {
                auto line = pending.substr (0, lf);
                pending.erase (0, lf + 1);
                return line;
            }
            const auto n = ::read (out, buffer, sizeof (buffer));
            if (n <= 0)
                return {};
            pending.append (buffer, (size_t) n);
        }
    }

    /** Closes stdin, drains stdout, and returns the child's peak resident memory in KiB. */
    long finish()
    {
        close (in);
        char buffer[65536];
        while (::read (out, buffer, sizeof (buffer)) > 0) {}
        close (out);
        int status = 0;
        rusage usage {};
        wait4 (pid, &status, 0, &usage);
       #if defined(__APPLE__)
        return usage.ru_maxrss / 1024;   // bytes there, KiB on Linux
       #else
        return usage.ru_maxrss;
       #endif
    }
};

double median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values[values.size() / 2];
}

double percentile99 (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values[(values.size() * 99) / 100];
}

double microsecondsSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::micro> (Clock::now() - start).count();
}

/** Pipes `lines` copies of `line` through a fresh bridge; returns lines per second. */
double throughput (const std::string& bridge, const std::string& home, const std::string& line, int lines, long& peakKiB)
{
    Child child (bridge, home);
    std::string input;
    for (int i = 0; i < lines; ++i)
        input += line;

    const auto start = Clock::now();
    std::thread writer ([&] { child.write (input); close (child.in); child.in = -1; });
    int replies = 0;
    while (replies < lines && ! child.readLine().empty())
        ++replies;
    const double seconds = microsecondsSince (start) / 1e6;
    writer.join();
    peakKiB = std::max (peakKiB, child.finish());
    return replies / seconds;
}

/** A host that answers every request at once, one connection after the other. */
struct InstantHost
{
    juce::StreamingSocket listener;
    std::atomic<bool> stop { false };
    std::thread thread;

    InstantHost()
    {
        listener.createListener (0, "127.0.0.1");
        thread = std::thread ([this]
        {
            while (! stop)
            {
                if (listener.waitUntilReady (true, 20) != 1)
                    continue;
                std::unique_ptr<juce::StreamingSocket> connection (listener.waitForNextConnection());
                HttpMessage request;
                if (connection != nullptr && readHttp (*connection, request, true, 2000))
                    writeAll (*connection, httpResponse (200, "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{}}", "application/json"));
            }
        });
    }

    ~InstantHost()
    {
        stop = true;
        thread.join();
    }
};
} // namespace

int main (int argc, char* argv[])
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: %s <VeltoMCP> [<reference host>]\n", argv[0]);
        return 2;
    }

    signal (SIGPIPE, SIG_IGN);
    const std::string bridge = argv[1];
    const auto home = juce::File::createTempFile ("velto-bench");
    home.createDirectory();
    const std::string homePath = home.getFullPathName().toStdString();
    const std::string initialize = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":\"2025-06-18\"}}\n";
    long peakKiB = 0;

    std::printf ("VeltoMCP benchmark (%u cores)\n", std::thread::hardware_concurrency());

    // 1. From process start to the first reply
    {
        std::vector<double> samples;
        for (int i = 0; i < 100; ++i)
        {
            const auto start = Clock::now();
            Child child (bridge, homePath);
            child.write (initialize);
            child.readLine();
            samples.push_back (microsecondsSince (start));
            peakKiB = std::max (peakKiB, child.finish());
        }
        std::printf ("start to first reply (initialize), median of 100: %.2f ms   (target: within 5 ms)\n", median (samples) / 1000);
    }

    // 2. Offline throughput and memory
    const auto pings = throughput (bridge, homePath, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n", 100000, peakKiB);
    std::printf ("ping, 100,000 lines: %.0f lines/s   (target: at least 100,000)\n", pings);
    const auto lists = throughput (bridge, homePath, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/list\"}\n", 10000, peakKiB);
    std::printf ("tools/list, 10,000 lines: %.0f lines/s   (target: at least 10,000)\n", lists);
    std::printf ("peak resident memory of the bridge: %.1f MB   (target: under 10 MB)\n", peakKiB / 1024.0);

    // 3. Round trip through the bridge against the direct floor
    {
        InstantHost host;
        const Endpoint endpoint { host.listener.getBoundPort(), makeToken() };
        constexpr int requests = 10000;

        std::vector<double> direct, bridged;
        for (int i = 0; i < requests; ++i)
        {
            juce::String response;
            const auto start = Clock::now();
            postToVelto (endpoint, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}", response, 20000);
            direct.push_back (microsecondsSince (start));
        }

        // The endpoint file where the bridge, with HOME set to our folder, will look
        const auto userHome = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
        writeEndpoint (endpoint, home.getChildFile (endpointFile().getRelativePathFrom (userHome)));
        Child child (bridge, homePath);
        for (int i = 0; i < requests; ++i)
        {
            const auto start = Clock::now();
            child.write ("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n");
            child.readLine();
            bridged.push_back (microsecondsSince (start));
        }
        child.finish();

        std::printf ("round trip, 10,000 sequential pings: direct client median %.0f us, p99 %.0f us\n", median (direct), percentile99 (direct));
        std::printf ("                                     through the bridge median %.0f us, p99 %.0f us\n", median (bridged), percentile99 (bridged));
        std::printf ("time the bridge adds: median %.0f us, p99 %.0f us   (target: at most 100 us)\n",
                     median (bridged) - median (direct), percentile99 (bridged) - percentile99 (direct));
    }

    // 4. The reference host: requests per second, directly and through 1, 4 and 16 bridges
    if (argc > 2)
    {
        const auto hostHome = juce::File::createTempFile ("velto-bench-host");
        hostHome.createDirectory();
        const std::string hostHomePath = hostHome.getFullPathName().toStdString();
        const pid_t host = fork();

        if (host == 0)
        {
            setenv ("HOME", hostHomePath.c_str(), 1);
            freopen ("/dev/null", "w", stdout);
            execl (argv[2], argv[2], (char*) nullptr);
            _exit (127);
        }

        const auto userHome = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
        const auto file = hostHome.getChildFile (endpointFile().getRelativePathFrom (userHome));
        for (int i = 0; i < 500 && ! readEndpoint (file); ++i)
            juce::Thread::sleep (10);

        if (const auto endpoint = readEndpoint (file))
        {
            constexpr double secondsEach = 2.0;
            int direct = 0;
            for (const auto start = Clock::now(); microsecondsSince (start) < secondsEach * 1e6; ++direct)
            {
                juce::String response;
                postToVelto (*endpoint, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}", response, 20000);
            }
            std::printf ("reference host, direct client: %.0f requests/s\n", direct / secondsEach);

            for (const int bridges : { 1, 4, 16 })
            {
                std::atomic<int> answered { 0 };
                std::vector<std::thread> clients;
                for (int b = 0; b < bridges; ++b)
                    clients.emplace_back ([&]
                    {
                        Child child (bridge, hostHomePath);
                        for (const auto start = Clock::now(); microsecondsSince (start) < secondsEach * 1e6;)
                        {
                            child.write ("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n");
                            if (! child.readLine().empty())
                                ++answered;
                        }
                        child.finish();
                    });
                for (auto& client : clients)
                    client.join();
                std::printf ("reference host through %2d concurrent bridges: %.0f requests/s\n", bridges, answered / secondsEach);
            }
        }

        kill (host, SIGTERM);
        waitpid (host, nullptr, 0);
        hostHome.deleteRecursively();
    }

    home.deleteRecursively();
    return 0;
}
