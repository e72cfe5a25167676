// Helpers shared by the tests: a child process with pipes, a temporary HOME, and a scripted
// loopback host that records what it receives and answers as told.
#pragma once

#include <velto_assistant/AssistantInternal.h>   // the interface, and what only tests see

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include <sys/types.h>

namespace velto::test
{
/** Whether these tests, and the programs they run (built with the same flags), are under a
    sanitizer: AddressSanitizer keeps freed memory in quarantine on purpose, so resident memory
    says little there, and every sanitizer slows the programs down several times. */
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool underSanitizer = true;
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool underSanitizer = true;
 #else
inline constexpr bool underSanitizer = false;
 #endif
#else
inline constexpr bool underSanitizer = false;
#endif

/** Prints a line of figures, and adds it to <name>.txt in the report folder that the test
    command gives (VELTO_REPORT_DIR), for the report that the scripts print. */
void report (const std::string& name, const std::string& line);

/** The built bridge, found next to the test binary's build tree. */
std::string bridgePath();

/** Figures of a running process: on Linux from /proc, on macOS from libproc. -1 when the figure
    cannot be read (the process is gone, say): checks on them go through requireFigure. */
int openDescriptorsOf (pid_t pid);
long residentKiBOf (pid_t pid);
int threadsOf (pid_t pid);

/** The figure, after failing the test where it could not be read: a bound or a before-and-after
    comparison must never pass on two -1s. */
long requireFigure (long figure, const char* what);

struct ProcessResult
{
    std::string out;
    std::string err;
    int exitCode = -1;     // -1 when the process did not exit normally
    int signal = 0;        // the signal that ended it, if any
    bool timedOut = false;
};

/** Runs `program` with `args`, writes `input` to its stdin and closes it, and collects both
    output streams. The environment is the test's own with `env` laid over it. Kills the child
    after `timeoutMs`. */
ProcessResult runProcess (const std::string& program, const std::vector<std::string>& args,
                          const std::string& input, const std::map<std::string, std::string>& env,
                          int timeoutMs = 30000);

/** A fresh temporary folder that is removed with the object, and the home of the programs that
    the tests start in it. The first one made in a process checks that a program started there
    finds its settings folder inside it, and ends the tests with a loud message where it does not:
    they would write, then delete, the endpoint file of a Velto that runs on this machine. */
struct TempHome
{
    TempHome();
    ~TempHome();
    juce::File folder;

    /** HOME, and CFFIXED_USER_HOME for macOS, where JUCE finds ~/Library through the account
        unless CoreFoundation is told otherwise; the two are always set together. */
    std::map<std::string, std::string> env() const
    {
        const auto path = folder.getFullPathName().toStdString();
        return { { "HOME", path }, { "CFFIXED_USER_HOME", path } };
    }

    /** Where the bridge looks for the endpoint file under this HOME. */
    juce::File endpointFile() const;
};

/** Runs the bridge with HOME in `home` and the given stdin. */
ProcessResult runBridge (const TempHome& home, const std::string& input, const std::vector<std::string>& args = {},
                         int timeoutMs = 30000);

/** The bridge running with pipes on all three streams, for long sessions and fault injection. */
class BridgeProcess
{
public:
    explicit BridgeProcess (const TempHome& home);
    ~BridgeProcess();

    bool write (const std::string& bytes);   // false once the bridge has gone
    void closeInput();
    void closeOutput();                      // as a client that stops reading would
    bool readLine (std::string& line, int timeoutMs = 30000);
    std::string readError();                 // all that stderr carried so far
    int waitForExit (int timeoutMs);         // the exit status; -1 when it had to be killed
    int openDescriptors() const { return openDescriptorsOf (pid); }
    long residentKiB() const { return residentKiBOf (pid); }

private:
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string pending;

    // stderr is drained all along: a bridge blocked on a full stderr pipe would stall the test
    std::thread errReader;
    mutable std::mutex errMutex;
    std::string errText;
};

/** A loopback server on port 0 that serves each connection with a script on its own thread.
    The script gets the accepted socket and may read and write as it likes; everything the
    bridge sent is recorded by `readRequest`. */
class ScriptedHost
{
public:
    using Script = std::function<void (juce::StreamingSocket& connection, const std::string& request)>;

    explicit ScriptedHost (Script script);
    ~ScriptedHost();

    int port() const { return listener.getBoundPort(); }
    std::vector<std::string> requests() const;
    int connections() const { return connectionCount; }

    /** Answers every request with `status`, `body` and a matching Content-Length. */
    static Script answer (int status, const std::string& body);

    /** Sends these bytes as they are, then closes. */
    static Script raw (const std::string& bytes);

private:
    juce::StreamingSocket listener;
    Script script;
    std::thread acceptThread;
    std::vector<std::thread> workers;
    mutable std::mutex mutex;
    std::vector<std::string> received;
    std::atomic<int> connectionCount { 0 };
    std::atomic<bool> stopping { false };
};

/** Reads one request (head and its Content-Length body) as raw bytes, within `timeoutMs`. */
std::string readRequest (juce::StreamingSocket& connection, int timeoutMs = 5000);

/** Sends all bytes on a socket, blocking. */
void sendBytes (juce::StreamingSocket& connection, const std::string& bytes);

/** A connected pair of loopback sockets: `client` connected to `server`. */
struct SocketPair
{
    SocketPair();
    juce::StreamingSocket listener;
    juce::StreamingSocket client;
    std::unique_ptr<juce::StreamingSocket> server;
};

/** The reference host as a child process with HOME in a temporary folder, once its endpoint
    file names it; stopped with SIGTERM when the object goes. Pass another host's home to start
    a second host beside it. */
struct HostProcess
{
    explicit HostProcess (std::shared_ptr<const TempHome> inHome = std::make_shared<const TempHome>());
    ~HostProcess();

    int stop (int signalNumber = SIGTERM);   // the wait status

    /** Sends raw bytes on a new connection; the status of the answer (0: none) and its body.
        With `awaitClose`, returns only once the host has closed the connection (or 5 s have
        passed), so that its descriptor for it is gone. */
    int send (const std::string& bytes, std::string* body = nullptr, bool awaitClose = false) const;

    /** A whole request with this host's token, or another. */
    std::string request (const std::string& body, const std::string& method = "POST", const std::string& path = "/mcp",
                         const std::string& bearer = "") const;

    const std::shared_ptr<const TempHome> sharedHome;
    const TempHome& home;
    pid_t pid = -1;
    assistant::Endpoint endpoint;
};

/** Writes an endpoint file by hand, the way a host would, for the bridge to find. */
void writeEndpointFor (const TempHome& home, int port, const juce::String& token);
} // namespace velto::test
