// The bridge against the least that a program with its contract can do: two yardsticks in plain
// C (a relay and an offline answerer, bench/yardstick_*.c) run in turn with VeltoMCP, round by
// round, through the same pipes and against the same hosts. Each figure is printed beside its
// yardstick's, as a ratio whose median over the rounds is the one to quote. Figures, not pass
// or fail: the targets are printed beside them.
//
// Usage: velto_bench <VeltoMCP> <reference host> <yardstick relay> <yardstick offline> [<Node.js host script>]
#include <velto_assistant/AssistantInternal.h>
#include "../tests/support/JsonShapes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace velto::assistant;
using Clock = std::chrono::steady_clock;

namespace
{
constexpr int rounds = 5;
constexpr int spawnsPerRound = 60;
constexpr int offlinePings = 100000;
constexpr int catalogueLines = 10000;
constexpr int relayedPingsPerRound = 1000;
constexpr int describeCallsPerRound = 300;
constexpr int straceMessages = 200;
constexpr size_t shortLongLineBytes = 1000 * 1000, longLongLineBytes = 100 * 1000 * 1000;
const std::string ping = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}";
const std::string initialize = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"protocolVersion\":\"2025-06-18\"}}";

double microsecondsSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::micro> (Clock::now() - start).count();
}

double median (std::vector<double> values)
{
    std::sort (values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

/** Starts `command` (found on PATH when it has no slash) with HOME set to `home`, and
    CFFIXED_USER_HOME with it, which JUCE heeds on macOS where it ignores HOME; -1 on failure. */
pid_t spawnWithHome (const std::vector<std::string>& command, const std::string& home, const posix_spawn_file_actions_t* actions)
{
    std::vector<std::string> environment { "HOME=" + home, "CFFIXED_USER_HOME=" + home };

    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp (*entry, "HOME=", 5) != 0 && std::strncmp (*entry, "CFFIXED_USER_HOME=", 18) != 0)
            environment.emplace_back (*entry);

    std::vector<char*> argv, envp;
    for (const auto& word : command)
        argv.push_back (const_cast<char*> (word.c_str()));
    for (auto& entry : environment)
        envp.push_back (entry.data());
    argv.push_back (nullptr);
    envp.push_back (nullptr);

    pid_t pid = -1;
    return posix_spawnp (&pid, argv[0], actions, nullptr, argv.data(), envp.data()) == 0 ? pid : -1;
}

/** A child with stdin and stdout on pipes, and its peak resident memory once it has ended. */
struct Child
{
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string pending;

    Child (const std::vector<std::string>& command, const std::string& home)
    {
        int inPipe[2], outPipe[2];

        if (pipe (inPipe) != 0 || pipe (outPipe) != 0)
            return;

        for (const int fd : { inPipe[1], outPipe[0] })
            fcntl (fd, F_SETFD, FD_CLOEXEC);

        // posix_spawn, not fork: the child neither copies this process's pages (which would
        // count in its peak memory) nor takes the time to
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_adddup2 (&actions, inPipe[0], 0);
        posix_spawn_file_actions_adddup2 (&actions, outPipe[1], 1);
        posix_spawn_file_actions_addclose (&actions, inPipe[0]);
        posix_spawn_file_actions_addclose (&actions, outPipe[1]);
        pid = spawnWithHome (command, home, &actions);
        posix_spawn_file_actions_destroy (&actions);

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

    bool readLine (std::string* line = nullptr)
    {
        char buffer[65536];

        for (;;)
        {
            if (const auto lf = pending.find ('\n'); lf != std::string::npos)
            {
                if (line != nullptr)
                    *line = pending.substr (0, lf);
                pending.erase (0, lf + 1);
                return true;
            }

            const auto n = ::read (out, buffer, sizeof (buffer));
            if (n <= 0)
                return false;
            pending.append (buffer, (size_t) n);
        }
    }

    /** Closes stdin, drains stdout; the peak resident memory in KiB. */
    long finish()
    {
        const auto peakKiB = peakResidentKiB();

        if (in >= 0)
            close (in);
        char buffer[65536];
        while (::read (out, buffer, sizeof (buffer)) > 0) {}
        close (out);
        int status = 0;
        rusage usage {};
        wait4 (pid, &status, 0, &usage);

        // The kernel's own figure counts the memory of the process that started the child, as
        // the child had it until its exec; /proc has the high-water mark of its own
        if (peakKiB >= 0)
            return peakKiB;

       #if defined(__APPLE__)
        return usage.ru_maxrss / 1024;   // bytes there, KiB on Linux
       #else
        return usage.ru_maxrss;
       #endif
    }

    /** VmHWM from /proc, while the child still runs; -1 where there is none. */
    long peakResidentKiB() const
    {
        const auto status = juce::File ("/proc/" + juce::String (pid) + "/status").loadFileAsString();
        return status.contains ("VmHWM:") ? status.fromFirstOccurrenceOf ("VmHWM:", false, false).trim().getLargeIntValue() : -1;
    }
};

struct Figures
{
    long peakKiB = 0;
};

/** From the fork to the first reply to `line`, or to the exit when `line` is empty. */
double spawnMicroseconds (const std::vector<std::string>& command, const std::string& home, const std::string& line, Figures& figures)
{
    const auto start = Clock::now();
    Child child (command, home);

    if (! line.empty())
    {
        child.write (line + "\n");
        child.readLine();
        const auto elapsed = microsecondsSince (start);
        figures.peakKiB = std::max (figures.peakKiB, child.finish());
        return elapsed;
    }

    // It is gone before its memory can be read: only its time counts
    close (child.in);
    child.in = -1;
    child.finish();
    return microsecondsSince (start);
}

/** `lines` copies of `line` written at once through a fresh child; lines answered per second. */
double throughput (const std::vector<std::string>& command, const std::string& home, const std::string& line, int lines, Figures& figures)
{
    Child child (command, home);
    std::string input;
    input.reserve ((line.size() + 1) * (size_t) lines);
    for (int i = 0; i < lines; ++i)
        input += line + "\n";

    const auto start = Clock::now();
    // stdin stays open until finish(), so that the child is still there to have its memory read
    std::thread writer ([&] { child.write (input); });
    int replies = 0;
    while (replies < lines && child.readLine())
        ++replies;
    const double seconds = microsecondsSince (start) / 1e6;
    writer.join();
    figures.peakKiB = std::max (figures.peakKiB, child.finish());
    return replies / seconds;
}

/** One ping line of `bytes` with LF, padded in its params by one string. */
std::string paddedPing (size_t bytes)
{
    const std::string head = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")", tail = "\"}}\n";
    std::string line = head;
    line.append (bytes - head.size() - tail.size(), 'x');
    return line + tail;
}

/** One ping line with LF whose params have `members` members. */
std::string widePing (int members)
{
    std::string line = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{)";

    for (int i = 0; i < members; ++i)
        line.append (i > 0 ? ",\"" : "\"").append (std::to_string (i)).append ("\":").append (std::to_string (i));

    return line + "}}\n";
}

/** Seconds from the first byte of `line` to its reply, in a bridge that has started and answered
    a ping already: the line alone, not the start-up. */
double lineSeconds (const std::vector<std::string>& command, const std::string& home, const std::string& line)
{
    Child child (command, home);
    child.write (ping + "\n");
    child.readLine();

    const auto start = Clock::now();
    std::thread writer ([&] { child.write (line); });
    child.readLine();
    const double seconds = microsecondsSince (start) / 1e6;
    writer.join();
    child.finish();
    return seconds;
}

/** One POST straight to the host, the floor under both relays: the same connection, request
    and reading of the answer by its length, without a pipe or a process in between. */
bool postDirectly (const Endpoint& endpoint, const std::string& body)
{
    // Not close-on-exec: no child is started while one of these is open
    const int handle = ::socket (AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons ((uint16_t) endpoint.port);
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

    if (::connect (handle, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0)
    {
        close (handle);
        return false;
    }

    const auto request = "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string (endpoint.port) + "\r\nAuthorization: Bearer "
                         + endpoint.token.toStdString() + "\r\nContent-Type: application/json\r\nContent-Length: "
                         + std::to_string (body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    (void) ::send (handle, request.data(), request.size(), MSG_NOSIGNAL);

    char buffer[8192];
    std::string received;
    HttpMessage answer;
    HttpFrame frame;

    while (frame.status == HttpFrame::Status::readMore)
    {
        const auto n = ::recv (handle, buffer, sizeof (buffer), 0);
        if (n > 0)
            received.append (buffer, (size_t) n);
        frame = frameHttp (received, false, n <= 0, &answer, frame);
    }

    close (handle);
    return frame.status == HttpFrame::Status::complete && answer.status == 200;
}

/** Sequential pings, in turn straight to the host and through each relay, so that whatever the
    machine or the host does meanwhile falls on all of them alike. The median round trip of each,
    the direct one first. */
std::vector<double> roundTrips (const Endpoint& endpoint, const std::vector<std::vector<std::string>>& relays, const std::string& home,
                                int pings, std::vector<Figures*> figures, const std::string& message = ping)
{
    std::vector<std::unique_ptr<Child>> children;
    std::vector<std::vector<double>> samples (relays.size() + 1);

    for (const auto& relay : relays)
        children.push_back (std::make_unique<Child> (relay, home));

    for (int i = 0; i < pings; ++i)
    {
        auto start = Clock::now();
        postDirectly (endpoint, message);
        samples[0].push_back (microsecondsSince (start));

        for (size_t r = 0; r < children.size(); ++r)
        {
            start = Clock::now();
            children[r]->write (message + "\n");
            if (children[r]->readLine())
                samples[r + 1].push_back (microsecondsSince (start));
        }
    }

    for (size_t r = 0; r < children.size(); ++r)
        figures[r]->peakKiB = std::max (figures[r]->peakKiB, children[r]->finish());

    std::vector<double> medians;
    for (const auto& set : samples)
        medians.push_back (median (set));
    return medians;
}

/** A host on a thread of this process that reads each request whole by its length and answers
    every one with the same pong, reading nothing into a value: what the bridge does with a line
    on its way to a host, without the host's own work. Its endpoint file is in `home`. */
struct PongHost
{
    static constexpr int pongHostReadTimeoutMs = 20000;

    juce::StreamingSocket listener;
    std::thread thread;
    std::atomic<bool> stopping { false };

    /** Answers every request with `answer`, the ping's reply unless another is given. */
    explicit PongHost (const std::string& home, const std::string& answer = "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{}}")
    {
        listener.createListener (0, "127.0.0.1");
        const auto userHome = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
        writeEndpoint ({ listener.getBoundPort(), "0123456789abcdef0123456789abcdef" },
                       juce::File (home).getChildFile (endpointFile().getRelativePathFrom (userHome)));

        thread = std::thread ([this, answer]
        {
            const std::string pong = httpResponse (200, answer, "application/json").toStdString();

            while (! stopping)
            {
                std::unique_ptr<juce::StreamingSocket> connection (listener.waitForNextConnection());

                if (connection == nullptr)
                    continue;

                // Framed here by its length alone: frameHttp keeps a host's limit on the body,
                // which both lines of the wide-object figure pass, and a host that answered at
                // their heads would time only what fits the socket's buffers
                std::string received;
                size_t wanted = std::string::npos;
                char buffer[65536];

                while (received.size() < wanted)
                {
                    // An accepted socket does not block here: without the wait, a read that
                    // came before the request's first bytes would end it unread
                    if (connection->waitUntilReady (true, pongHostReadTimeoutMs) != 1)
                        break;

                    const auto n = connection->read (buffer, sizeof (buffer), false);
                    if (n <= 0)
                        break;

                    received.append (buffer, (size_t) n);

                    if (const auto headEnd = received.find ("\r\n\r\n"); wanted == std::string::npos && headEnd != std::string::npos)
                    {
                        const auto length = received.find ("Content-Length: ");
                        wanted = headEnd + 4 + (length < headEnd ? std::stoull (received.substr (length + 16, 20)) : 0);
                    }
                }

                // The socket does not block: a large answer goes in as many writes as it takes
                for (size_t sent = 0; sent < pong.size() && connection->waitUntilReady (false, pongHostReadTimeoutMs) == 1;)
                {
                    const auto n = connection->write (pong.data() + sent, (int) (pong.size() - sent));
                    if (n < 0)
                        break;
                    sent += (size_t) n;
                }
            }
        });
    }

    ~PongHost()
    {
        stopping = true;
        listener.close();
        thread.join();
    }
};

/** A host as a child process with its own HOME, until the object goes. */
struct Host
{
    pid_t pid = -1;
    std::string home;
    std::optional<Endpoint> endpoint;

    explicit Host (const std::vector<std::string>& command)
    {
        const auto folder = juce::File::createTempFile ("velto-bench-host");
        folder.createDirectory();
        home = folder.getFullPathName().toStdString();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addopen (&actions, 1, "/dev/null", O_WRONLY, 0);
        pid = spawnWithHome (command, home, &actions);
        posix_spawn_file_actions_destroy (&actions);

        const auto userHome = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
        const auto file = folder.getChildFile (endpointFile().getRelativePathFrom (userHome));

        for (int i = 0; i < 1000 && ! (endpoint = readEndpoint (file)); ++i)
            juce::Thread::sleep (10);
    }

    ~Host()
    {
        kill (pid, SIGTERM);
        waitpid (pid, nullptr, 0);
        juce::File (home).deleteRecursively();
    }
};

/** System calls that `command` makes for `lines` lines beyond its start-up, from strace -c. */
double systemCallsPerLine (const std::vector<std::string>& command, const std::string& home, const std::string& line, int lines)
{
    const auto count = [&] (int n)
    {
        const auto out = juce::File::createTempFile ("velto-strace");
        std::vector<std::string> traced { "strace", "-f", "-c", "-o", out.getFullPathName().toStdString() };
        traced.insert (traced.end(), command.begin(), command.end());
        Child child (traced, home);
        for (int i = 0; i < n; ++i)
        {
            child.write (line + "\n");
            child.readLine();
        }
        child.finish();
        const auto summary = out.loadFileAsString();
        out.deleteFile();
        // The last line: "100.00 <seconds> <usecs/call> <calls> <errors> total"
        juce::StringArray words;
        words.addTokens (summary.fromLastOccurrenceOf ("------", false, false).upToFirstOccurrenceOf ("total", false, false), " \n", "");
        words.removeEmptyStrings();
        return words.size() >= 4 ? words[3].getDoubleValue() : -1.0;
    };

    const auto startUp = count (0), all = count (lines);
    return startUp < 0 || all < 0 ? -1.0 : (all - startUp) / lines;
}

std::string number (double value, int decimals)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%.*f", decimals, value);
    return text;
}

/** Per-round ratios, summarised: median, and the spread across the rounds. */
std::string ratioOf (std::vector<double> ratios)
{
    std::sort (ratios.begin(), ratios.end());
    return number (median (ratios), 2) + " (" + number (ratios.front(), 2) + " to " + number (ratios.back(), 2) + ")";
}

void row (const std::string& figure, const std::string& bridge, const std::string& yardstick, const std::string& ratio, const std::string& target)
{
    std::printf ("%-48s %14s %14s %22s   %s\n", figure.c_str(), bridge.c_str(), yardstick.c_str(), ratio.c_str(), target.c_str());
}

bool haveProgram (const char* name)
{
    return std::system ((std::string ("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}
} // namespace

/** A get_notes answer of `count` notes as a host sends it: the notes as the tool's text, and
    where `structured`, beside it as structuredContent too, as MCP's structured tool output. */
std::string notesAnswer (int count, bool structured)
{
    juce::Array<juce::var> notes;

    for (int i = 0; i < count; ++i)
    {
        const double beat = i * 0.5;
        notes.add (jsonObject ({ { "clip", 1 + i / 500 }, { "pitch", 36 + i * 7 % 48 }, { "name", "C" + juce::String (i % 8) },
                                 { "start_bar", 1 + beat / 4 }, { "start_beats", beat }, { "length_beats", 0.25 + i % 4 * 0.125 },
                                 { "velocity", 64 + i % 64 } }));
    }

    const auto payload = jsonObject ({ { "track", "Keys" }, { "total", count }, { "notes", notes } });
    auto result = toolText (toJson (payload), false);

    if (structured)
        result.getDynamicObject()->setProperty ("structuredContent", payload);

    return toJson (rpcResult (1, result)).toStdString();
}

/** A tool's answer of plain text, of `bytes` in all. */
std::string plainAnswer (size_t bytes)
{
    const auto empty = toJson (rpcResult (1, toolText ({}, false))).toStdString();
    return toJson (rpcResult (1, toolText (juce::String::repeatedString ("x", (int) (bytes - empty.size())), false))).toStdString();
}

/** The time that VeltoMCP takes to relay each answer, whole, in a running bridge, against a plain
    text answer of the same bytes, round by round, in turn. */
void printAnswerRelays (const std::vector<std::string>& bridge, const juce::File& scratch)
{
    const std::string call = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"get_notes","arguments":{"track":"Keys"}}})" "\n";

    for (const bool structured : { true, false })
    {
        const auto answer = notesAnswer (2000, structured), plain = plainAnswer (answer.size());
        const auto answerHome = scratch.getChildFile (structured ? "notes-structured" : "notes-text"), plainHome = scratch.getChildFile ("plain-answer");
        answerHome.createDirectory();
        plainHome.createDirectory();
        std::vector<double> answerTimes, ratios;

        // A line is a few milliseconds, and a figure of one spread wide: more rounds than elsewhere,
        // the two taking turns at going first
        constexpr int answerRounds = 3 * rounds;

        for (int round = 0; round < answerRounds; ++round)
        {
            double answerSeconds = 0, plainSeconds = 0;
            const auto relayAnswer = [&]
            {
                const PongHost host (answerHome.getFullPathName().toStdString(), answer);
                answerSeconds = lineSeconds (bridge, answerHome.getFullPathName().toStdString(), call);
            };
            const auto relayPlain = [&]
            {
                const PongHost host (plainHome.getFullPathName().toStdString(), plain);
                plainSeconds = lineSeconds (bridge, plainHome.getFullPathName().toStdString(), call);
            };

            if (round % 2 == 0)
                relayAnswer(), relayPlain();
            else
                relayPlain(), relayAnswer();

            answerTimes.push_back (answerSeconds * 1000);
            ratios.push_back (answerSeconds / plainSeconds);
        }

        row (std::string ("a 2,000-note answer, ") + (structured ? "with structuredContent" : "as text alone") + " ("
                 + number ((double) answer.size() / 1000, 0) + " KB), relayed",
             number (median (answerTimes), 1) + " ms", "", "", "");
        row ("  over a plain text answer of the same bytes", "", "", ratioOf (ratios), "at most 1.5");
    }
}

/** The JSON scaling table: each shape of line at n and at 4n bytes on each path that a line
    takes. The bridge's two, as an AI app meets them (from the line's first byte to its reply, in
    a running bridge, the median of a few): offline, where it reads the envelopes, and relayed,
    where it rewrites the request for a host that reads it whole and answers a pong; and a
    host's parse, in this process (the fastest of a few). Time in proportion to the bytes makes
    4n about 4 times n; a plain string of the same bytes is the floor under every shape. The
    shape at n, at 4n and its plain string are run in turn, and a whole process's ratios are the
    medians of each turn's: on a busy machine the times compared then meet the same moments. */
void printJsonScaling (const std::vector<std::string>& bridge, const std::string& offlineHome, const std::string& relayHome)
{
    constexpr size_t smallBytes = 200 * 1000;
    constexpr int runs = 7;

    struct Path { const char* label; std::function<double (const std::string&)> run; bool inProcess; };
    const Path paths[] = {
        { "offline", [&] (const std::string& line) { return lineSeconds (bridge, offlineHome, line + "\n") * 1e6; }, false },
        { "relayed", [&] (const std::string& line) { return lineSeconds (bridge, relayHome, line + "\n") * 1e6; }, false },
        { "host's parse", [] (const std::string& line)
          {
              const auto start = Clock::now();
              juce::var value;
              parseJson (std::string_view (line), value);
              return microsecondsSince (start);
          }, true },
    };

    std::printf ("\nJSON scaling: a tool call whose arguments hold each shape, at %zu KB and 4 times that; the bridge's paths as a\n"
                 "whole process (median of %d), a host's parse in one (fastest of %d)\n", smallBytes / 1000, runs, runs);
    std::printf ("%-48s %-14s %12s %12s %8s %10s   %s\n", "shape", "path", "n", "4n", "4n / n", "4n / plain", "target");

    for (const auto& shape : velto::shapes::all())
    {
        const auto largeValue = shape.make (4 * smallBytes);
        const auto small = velto::shapes::toolCall (shape.make (smallBytes)), large = velto::shapes::toolCall (largeValue);
        const auto plain = velto::shapes::toolCall (velto::shapes::text (largeValue.size(), "abcdefgh"));   // the same bytes, within a unit
        const auto label = std::string (shape.label);
        const bool numbers = label.find ("array of") != std::string::npos && label.find ("strings") == std::string::npos;

        for (const auto& path : paths)
        {
            std::vector<double> atSmall, atLarge, atPlain, overSmall, overPlain;

            for (int i = 0; i < runs; ++i)
            {
                atSmall.push_back (path.run (small));
                atLarge.push_back (path.run (large));
                atPlain.push_back (path.run (plain));
                overSmall.push_back (atLarge.back() / atSmall.back());
                overPlain.push_back (atLarge.back() / atPlain.back());
            }

            // In one process the fastest is the code's own time; a whole process's is its median
            const auto figure = [&path] (const std::vector<double>& times)
            { return path.inProcess ? *std::min_element (times.begin(), times.end()) : median (times); };
            const auto target = ! path.inProcess ? (numbers ? "4n/n at most 5; at most 2 x plain" : "4n/n at most 5; at most 5 x plain")
                              : shape.wideObject ? "none: a DynamicObject takes n squared" : "4n/n at most 5";
            const auto ratio = [&] (const std::vector<double>& pairs, const std::vector<double>& below)
            { return path.inProcess ? figure (atLarge) / figure (below) : median (pairs); };
            std::printf ("%-48s %-14s %9.0f us %9.0f us %8.2f %10.2f   %s\n", shape.label, path.label, figure (atSmall), figure (atLarge),
                         ratio (overSmall, atSmall), ratio (overPlain, atPlain), target);
        }
    }

    std::printf ("\n");
}

int main (int argc, char* argv[])
{
    if (argc < 5)
    {
        std::fprintf (stderr, "usage: %s <VeltoMCP> <reference host> <yardstick relay> <yardstick offline> [<Node.js host>]\n", argv[0]);
        return 2;
    }

    signal (SIGPIPE, SIG_IGN);
    std::setvbuf (stdout, nullptr, _IOLBF, 0);   // nothing left in the buffer for a child to copy
    const std::vector<std::string> bridge { argv[1] }, referenceHost { argv[2] }, relay { argv[3] }, offline { argv[4] };
    const auto scratch = juce::File::createTempFile ("velto-bench");
    scratch.createDirectory();
    const std::string home = scratch.getFullPathName().toStdString();   // no endpoint file: offline
    Figures bridgeFigures, yardstickFigures;

    // The JSON figures: the scaling table and the relay of a large answer
    const auto printJsonFigures = [&]
    {
        const auto relayHome = scratch.getChildFile ("scaling");
        relayHome.createDirectory();
        {
            const PongHost pongHost (relayHome.getFullPathName().toStdString());
            printJsonScaling (bridge, home, relayHome.getFullPathName().toStdString());
        }
        printAnswerRelays (bridge, scratch);
    };

    if (std::getenv ("VELTO_BENCH_ONLY_JSON") != nullptr)   // those alone, for a quick look
    {
        printJsonFigures();
        scratch.deleteRecursively();
        return 0;
    }

    std::printf ("VeltoMCP against the least a program with its contract can do (plain C), %d rounds in turn, %u cores\n\n",
                 rounds, std::thread::hardware_concurrency());
    row ("figure (medians)", "VeltoMCP", "yardstick", "ratio, median (range)", "target");

    // 1. Start-up: from the fork to the first reply, and to the exit of --version
    for (const auto& [label, line, arguments] : { std::tuple<std::string, std::string, std::string> { "spawn to first reply (initialize)", initialize, "" },
                                                  { "spawn to exit (--version)", "", "--version" } })
    {
        std::vector<double> ratios, bridgeMedians, yardstickMedians;
        // A copy: C++17 cannot capture a structured binding
        auto withArguments = [extra = arguments] (std::vector<std::string> command) { if (! extra.empty()) command.push_back (extra); return command; };

        for (int round = 0; round < rounds; ++round)
        {
            std::vector<double> a, b;
            for (int i = 0; i < spawnsPerRound; ++i)
            {
                a.push_back (spawnMicroseconds (withArguments (bridge), home, line, bridgeFigures));
                b.push_back (spawnMicroseconds (withArguments (offline), home, line, yardstickFigures));
            }
            bridgeMedians.push_back (median (a));
            yardstickMedians.push_back (median (b));
            ratios.push_back (median (a) / median (b));
        }

        row (label, number (median (bridgeMedians) / 1000, 2) + " ms", number (median (yardstickMedians) / 1000, 2) + " ms", ratioOf (ratios), "at most 1.5");
    }

    // 2. Offline: every line written at once, one stat of the endpoint path per line at least
    {
        std::vector<double> ratios, bridgeRates, yardstickRates;

        for (int round = 0; round < rounds; ++round)
        {
            bridgeRates.push_back (throughput (bridge, home, ping, offlinePings, bridgeFigures));
            yardstickRates.push_back (throughput (offline, home, ping, offlinePings, yardstickFigures));
            ratios.push_back (bridgeRates.back() / yardstickRates.back());
        }

        row ("offline pings per second", number (median (bridgeRates), 0), number (median (yardstickRates), 0), ratioOf (ratios), "at least 0.6");

        std::vector<double> catalogue;
        for (int round = 0; round < rounds; ++round)
            catalogue.push_back (throughput (bridge, home, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/list\"}", catalogueLines, bridgeFigures));

        row ("offline tools/list per second", number (median (catalogue), 0), "", "", "at least 40000 (twice 20000)");
    }

    // 3. One long line: the time must grow with its bytes, not with their square
    {
        std::vector<double> shortLine, longLine, ratios;

        for (int round = 0; round < rounds; ++round)
        {
            shortLine.push_back (lineSeconds (bridge, home, paddedPing (shortLongLineBytes)));
            longLine.push_back (lineSeconds (bridge, home, paddedPing (longLongLineBytes)));
            ratios.push_back (longLine.back() / shortLine.back());
        }

        const auto sizeRatio = (double) longLongLineBytes / (double) shortLongLineBytes;
        row ("one line of 1 MB, offline", number (median (shortLine) * 1000, 1) + " ms", "", "", "");
        row ("one line of 100 MB, offline", number (median (longLine) * 1000, 0) + " ms", "", "", "");
        row ("  100 MB over 1 MB", "", "", ratioOf (ratios), "at most " + number (sizeRatio * 1.5, 0) + " (1.5 x the sizes' " + number (sizeRatio, 0) + ")");
    }

    // 4. One wide object: the time must grow with its members, not with their square. A line of
    //    80,000 members against one of a single string, of the same bytes, offline and relayed.
    {
        const auto wide = widePing (80000), narrow = paddedPing (wide.size());
        const auto relayHome = scratch.getChildFile ("relayed");
        relayHome.createDirectory();
        const PongHost pongHost (relayHome.getFullPathName().toStdString());

        for (const auto& [path, pathHome] : { std::pair<std::string, std::string> { "offline", home },
                                              { "relayed", relayHome.getFullPathName().toStdString() } })
        {
            std::vector<double> wideLine, narrowLine, ratios;

            for (int round = 0; round < rounds; ++round)
            {
                wideLine.push_back (lineSeconds (bridge, pathHome, wide));
                narrowLine.push_back (lineSeconds (bridge, pathHome, narrow));
                ratios.push_back (wideLine.back() / narrowLine.back());
            }

            row ("one line of " + number ((double) wide.size() / 1e6, 2) + " MB, 80,000 members, " + path,
                 number (median (wideLine) * 1000, 1) + " ms", "", "", "");
            row ("  over one string of the same bytes", "", "", ratioOf (ratios), "at most 5");
        }
    }

    printJsonFigures();

    // 5. The time a relay adds to a ping over a direct POST to the same host
    std::vector<std::pair<std::string, std::vector<std::string>>> hosts { { "the reference host", referenceHost } };

    if (argc > 5 && haveProgram ("node"))
        hosts.push_back ({ "a Node.js host", { "node", argv[5] } });

    for (const auto& [name, command] : hosts)
    {
        Host host (command);

        if (! host.endpoint)
        {
            std::printf ("%s did not start: no relay figures for it\n", name.c_str());
            continue;
        }

        std::vector<double> ratios, bridgeAdded, yardstickAdded, direct;

        for (int round = 0; round < rounds; ++round)
        {
            const auto medians = roundTrips (*host.endpoint, { relay, bridge }, host.home, relayedPingsPerRound, { &yardstickFigures, &bridgeFigures });
            direct.push_back (medians[0]);
            yardstickAdded.push_back (medians[1] - medians[0]);
            bridgeAdded.push_back (medians[2] - medians[0]);
            ratios.push_back (bridgeAdded.back() / yardstickAdded.back());
        }

        row ("time a relay adds to a ping, " + name, "+" + number (median (bridgeAdded), 0) + " us", "+" + number (median (yardstickAdded), 0) + " us",
             ratioOf (ratios), "at most 1.10");
        std::printf ("%-48s %14s\n", ("   (a direct POST to " + name + ")").c_str(), (number (median (direct), 0) + " us").c_str());

        // A tool's answer of a few kilobytes of escaped text, as the reference host gives it
        if (name == hosts.front().first)
        {
            const std::string describe = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"describe_session","arguments":{}}})";
            std::vector<double> describeRatios, describeAdded, describeYardstick;

            for (int round = 0; round < rounds; ++round)
            {
                const auto medians = roundTrips (*host.endpoint, { relay, bridge }, host.home, describeCallsPerRound,
                                                 { &yardstickFigures, &bridgeFigures }, describe);
                describeYardstick.push_back (medians[1] - medians[0]);
                describeAdded.push_back (medians[2] - medians[0]);
                describeRatios.push_back (describeAdded.back() / describeYardstick.back());
            }

            row ("time a relay adds to describe_session, " + name, "+" + number (median (describeAdded), 0) + " us",
                 "+" + number (median (describeYardstick), 0) + " us", ratioOf (describeRatios), "at most 1.15");
        }

        // Both must do the same work a message, or the ratio above says nothing
        if (name == hosts.front().first && haveProgram ("strace"))
        {
            const auto bridgeCalls = systemCallsPerLine (bridge, host.home, ping, straceMessages);
            const auto yardstickCalls = systemCallsPerLine (relay, host.home, ping, straceMessages);
            row ("system calls per relayed message", number (bridgeCalls, 1), number (yardstickCalls, 1), "", "the same");
        }
        else if (name == hosts.front().first)
        {
            std::printf ("system calls per relayed message: not counted, as strace is not installed\n");
        }
    }

    if (haveProgram ("strace"))
        row ("system calls per offline line (sent one by one)", number (systemCallsPerLine (bridge, home, ping, straceMessages), 1),
             number (systemCallsPerLine (offline, home, ping, straceMessages), 1), "", "");

    row ("peak resident memory", number (bridgeFigures.peakKiB / 1024.0, 1) + " MB", number (yardstickFigures.peakKiB / 1024.0, 1) + " MB", "",
         "at most 4.3 MB");

    scratch.deleteRecursively();
    return 0;
}
