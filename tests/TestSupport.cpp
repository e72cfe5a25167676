#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <csignal>
#include <chrono>
#include <cstring>

#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
 #include <libproc.h>
#endif

extern char** environ;

namespace velto::test
{
void report (const std::string& name, const std::string& line)
{
    std::printf ("%s\n", line.c_str());

    if (const char* folder = std::getenv ("VELTO_REPORT_DIR"))
    {
        juce::File (folder).createDirectory();
        std::ofstream (std::string (folder) + "/" + name + ".txt", std::ios::app) << line << "\n";
    }
}

std::string bridgePath()
{
    return VELTO_BRIDGE_PATH;
}

#if defined(__APPLE__)
int openDescriptorsOf (pid_t pid)
{
    // The first call tells how much room the list may need, the second how much it took
    const int room = proc_pidinfo (pid, PROC_PIDLISTFDS, 0, nullptr, 0);

    if (room <= 0)
        return -1;

    std::vector<proc_fdinfo> descriptors ((size_t) room / sizeof (proc_fdinfo) + 16);
    const int filled = proc_pidinfo (pid, PROC_PIDLISTFDS, 0, descriptors.data(), (int) (descriptors.size() * sizeof (proc_fdinfo)));
    return filled <= 0 ? -1 : filled / (int) sizeof (proc_fdinfo);
}

namespace
{
std::optional<proc_taskinfo> taskInfoOf (pid_t pid)
{
    proc_taskinfo info {};
    return proc_pidinfo (pid, PROC_PIDTASKINFO, 0, &info, sizeof (info)) == (int) sizeof (info) ? std::optional (info) : std::nullopt;
}
} // namespace

long residentKiBOf (pid_t pid)
{
    const auto info = taskInfoOf (pid);
    return info ? (long) (info->pti_resident_size / 1024) : -1;
}

int threadsOf (pid_t pid)
{
    const auto info = taskInfoOf (pid);
    return info ? info->pti_threadnum : -1;
}
#else
int openDescriptorsOf (pid_t pid)
{
    auto* folder = opendir (("/proc/" + std::to_string (pid) + "/fd").c_str());

    if (folder == nullptr)
        return -1;

    int count = 0;

    while (const auto* entry = readdir (folder))
        count += entry->d_name[0] != '.';

    closedir (folder);
    return count;
}

namespace
{
long statusFigure (pid_t pid, const char* name)
{
    const auto status = juce::File ("/proc/" + juce::String (pid) + "/status").loadFileAsString();
    return status.contains (name) ? status.fromFirstOccurrenceOf (name, false, false).trim().getLargeIntValue() : -1;
}
} // namespace

long residentKiBOf (pid_t pid)
{
    return statusFigure (pid, "VmRSS:");
}

int threadsOf (pid_t pid)
{
    return (int) statusFigure (pid, "Threads:");
}
#endif

long requireFigure (long figure, const char* what)
{
    if (figure < 0)
        ADD_FAILURE() << what << " could not be read on this platform, so nothing about it was checked";

    return figure;
}

namespace
{
/** The three pipe ends a parent keeps: the child's stdin, stdout and stderr. */
struct ChildPipes
{
    pid_t pid = -1;
    int in = -1, out = -1, err = -1;
};

/** Starts `program` with its three standard streams on pipes and `env` laid over this process's
    environment. The parent's ends are close-on-exec, so children started from other threads do
    not inherit them and hold a pipe open behind our back. */
ChildPipes spawn (const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env)
{
    // A child that exits before reading all its input (--version) must not kill the test
    std::signal (SIGPIPE, SIG_IGN);
    int inPipe[2], outPipe[2], errPipe[2];

    if (pipe (inPipe) != 0 || pipe (outPipe) != 0 || pipe (errPipe) != 0)
        return {};

    for (const int fd : { inPipe[1], outPipe[0], errPipe[0] })
        fcntl (fd, F_SETFD, FD_CLOEXEC);

    std::vector<std::string> environment;

    for (char** e = environ; *e != nullptr; ++e)
    {
        const std::string entry (*e);

        if (env.count (entry.substr (0, entry.find ('='))) == 0)
            environment.push_back (entry);
    }

    for (const auto& [name, value] : env)
        environment.push_back (name + "=" + value);

    std::vector<char*> argv { const_cast<char*> (program.c_str()) };

    for (const auto& arg : args)
        argv.push_back (const_cast<char*> (arg.c_str()));

    argv.push_back (nullptr);

    std::vector<char*> envp;

    for (auto& entry : environment)
        envp.push_back (entry.data());

    envp.push_back (nullptr);

    const pid_t pid = fork();

    if (pid == 0)
    {
        dup2 (inPipe[0], 0);
        dup2 (outPipe[1], 1);
        dup2 (errPipe[1], 2);

        for (int fd : { inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1] })
            close (fd);

        signal (SIGPIPE, SIG_DFL);
        execve (program.c_str(), argv.data(), envp.data());
        _exit (127);
    }

    close (inPipe[0]);
    close (outPipe[1]);
    close (errPipe[1]);
    return { pid, inPipe[1], outPipe[0], errPipe[0] };
}
} // namespace

ProcessResult runProcess (const std::string& program, const std::vector<std::string>& args,
                          const std::string& input, const std::map<std::string, std::string>& env,
                          int timeoutMs)
{
    const auto child = spawn (program, args, env);
    const pid_t pid = child.pid;

    if (pid < 0)
        return {};

    for (int fd : { child.in, child.out, child.err })
        fcntl (fd, F_SETFL, fcntl (fd, F_GETFL) | O_NONBLOCK);

    ProcessResult result;
    size_t written = 0;
    int inFd = child.in;

    if (input.empty())
    {
        close (inFd);
        inFd = -1;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    bool outOpen = true, errOpen = true;

    while (outOpen || errOpen)
    {
        pollfd fds[3] = { { child.out, POLLIN, 0 }, { child.err, POLLIN, 0 }, { inFd, POLLOUT, 0 } };
        const int count = inFd >= 0 ? 3 : 2;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();

        if (left <= 0)
        {
            result.timedOut = true;
            kill (pid, SIGKILL);
            break;
        }

        if (poll (fds, (nfds_t) count, (int) left) < 0 && errno != EINTR)
            break;

        char buffer[65536];

        auto drain = [&] (int fd, std::string& into, bool& open)
        {
            const auto n = read (fd, buffer, sizeof (buffer));

            if (n > 0)
                into.append (buffer, (size_t) n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                open = false;
        };

        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            drain (child.out, result.out, outOpen);

        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            drain (child.err, result.err, errOpen);

        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)))
        {
            const auto n = write (inFd, input.data() + written, input.size() - written);

            if (n > 0)
                written += (size_t) n;

            if (n < 0 && errno != EAGAIN && errno != EINTR)
                written = input.size();

            if (written == input.size())
            {
                close (inFd);
                inFd = -1;
            }
        }
    }

    if (inFd >= 0)
        close (inFd);

    close (child.out);
    close (child.err);

    int status = 0;
    waitpid (pid, &status, 0);

    if (WIFEXITED (status))
        result.exitCode = WEXITSTATUS (status);
    else if (WIFSIGNALED (status))
        result.signal = WTERMSIG (status);

    return result;
}

namespace
{
/** Ends the tests, loudly, unless the bridge started with this home finds its settings folder
    inside it: JUCE's settings folder on macOS comes from the account, not from HOME, and the
    tests would otherwise use a running Velto's. */
void requireSettingsInside (const TempHome& home)
{
    const auto help = runProcess (bridgePath(), { "--help" }, {}, home.env());
    const auto folder = home.folder.getFullPathName() + "/";

    if (help.exitCode == 0 && juce::String (help.out).contains ("It reads " + folder))
        return;

    std::fprintf (stderr, "\nThe bridge started with HOME and CFFIXED_USER_HOME at %s does not look for its endpoint file "
                          "there:\n%s\nThe tests would use the real settings folder, and a running Velto's endpoint file: "
                          "they stop here.\n", folder.toRawUTF8(), help.out.c_str());
    std::exit (1);
}
} // namespace

namespace
{
/** A new folder of this process's own in the temporary folder (TMPDIR), made by mkdtemp, so that
    no other test, run or process can be given the same one. */
juce::File makeOwnFolder (const char* prefix)
{
    auto path = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile (prefix).getFullPathName().toStdString()
              + "-XXXXXX";

    if (mkdtemp (path.data()) == nullptr)
    {
        std::fprintf (stderr, "\nCould not make a temporary folder %s: %s\n", path.c_str(), std::strerror (errno));
        std::exit (1);
    }

    return juce::File (path);
}
} // namespace

TempHome::TempHome()
    : folder (makeOwnFolder ("velto-home"))
{

    static std::once_flag checked;
    std::call_once (checked, [this] { requireSettingsInside (*this); });
}

TempHome::~TempHome()
{
    folder.deleteRecursively();
}

juce::File TempHome::endpointFile() const
{
   #if JUCE_MAC
    return folder.getChildFile ("Library/Application Support/Velto/assistant.json");
   #else
    return folder.getChildFile (".config/Application Support/Velto/assistant.json");
   #endif
}

ProcessResult runBridge (const TempHome& home, const std::string& input, const std::vector<std::string>& args,
                         int timeoutMs)
{
    return runProcess (bridgePath(), args, input, home.env(), timeoutMs);
}

//==============================================================================
BridgeProcess::BridgeProcess (const TempHome& home)
{
    const auto child = spawn (bridgePath(), {}, home.env());

    if (child.pid < 0)
        return;

    pid = child.pid;
    in = child.in;
    out = child.out;

    errReader = std::thread ([this, err = child.err]
    {
        char buffer[4096];

        for (ssize_t n; (n = ::read (err, buffer, sizeof (buffer))) > 0;)
        {
            std::lock_guard<std::mutex> lock (errMutex);
            errText.append (buffer, (size_t) n);
        }

        close (err);
    });
}

BridgeProcess::~BridgeProcess()
{
    closeInput();
    closeOutput();
    waitForExit (5000);

    if (errReader.joinable())
        errReader.join();
}

bool BridgeProcess::write (const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();)
    {
        const auto n = ::write (in, bytes.data() + done, bytes.size() - done);

        if (n <= 0)
            return false;

        done += (size_t) n;
    }

    return true;
}

void BridgeProcess::closeInput()
{
    if (in >= 0)
        close (in);

    in = -1;
}

void BridgeProcess::closeOutput()
{
    if (out >= 0)
        close (out);

    out = -1;
}

bool BridgeProcess::readLine (std::string& line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

    for (;;)
    {
        if (const auto lf = pending.find ('\n'); lf != std::string::npos)
        {
            line = pending.substr (0, lf);
            pending.erase (0, lf + 1);
            return true;
        }

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();
        pollfd fd { out, POLLIN, 0 };

        if (left <= 0 || poll (&fd, 1, (int) left) <= 0)
            return false;

        char buffer[65536];
        const auto n = ::read (out, buffer, sizeof (buffer));

        if (n <= 0)
            return false;

        pending.append (buffer, (size_t) n);
    }
}

std::string BridgeProcess::readError()
{
    std::lock_guard<std::mutex> lock (errMutex);
    return errText;
}

int BridgeProcess::waitForExit (int timeoutMs)
{
    if (pid <= 0)
        return -1;

    for (int waitedMs = 0; waitedMs < timeoutMs; waitedMs += 5)
    {
        int status = 0;

        if (waitpid (pid, &status, WNOHANG) == pid)
        {
            pid = -1;
            return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
        }

        usleep (5000);
    }

    kill (pid, SIGKILL);
    waitpid (pid, nullptr, 0);
    pid = -1;
    return -1;
}

//==============================================================================
std::string readRequest (juce::StreamingSocket& connection, int timeoutMs)
{
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);

    for (;;)
    {
        const auto headEnd = bytes.find ("\r\n\r\n");

        if (headEnd != std::string::npos)
        {
            const auto lengthAt = juce::String (bytes.substr (0, headEnd)).toLowerCase().indexOf ("content-length:");
            const auto length = lengthAt < 0 ? 0 : juce::String (bytes.substr ((size_t) lengthAt + 15)).getLargeIntValue();

            if (bytes.size() >= headEnd + 4 + (size_t) length)
                return bytes;
        }

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();

        if (left <= 0 || connection.waitUntilReady (true, (int) left) != 1)
            return bytes;

        char buffer[8192];
        const int n = connection.read (buffer, sizeof (buffer), false);

        if (n <= 0)
            return bytes;

        bytes.append (buffer, (size_t) n);
    }
}

void sendBytes (juce::StreamingSocket& connection, const std::string& bytes)
{
    // Raw bytes, NULs and invalid UTF-8 included: a scripted host must be able to send anything
    for (size_t sent = 0; sent < bytes.size();)
    {
        const auto n = ::send (connection.getRawSocketHandle(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);

        if (n > 0)
            sent += (size_t) n;
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            connection.waitUntilReady (false, 1000);
        else
            return;
    }
}

ScriptedHost::ScriptedHost (Script s)
    : script (std::move (s))
{
    listener.createListener (0, "127.0.0.1");

    acceptThread = std::thread ([this]
    {
        while (! stopping)
        {
            if (listener.waitUntilReady (true, 50) != 1)
                continue;

            std::shared_ptr<juce::StreamingSocket> connection (listener.waitForNextConnection());

            if (connection == nullptr || stopping)
                continue;

            ++connectionCount;
            std::lock_guard<std::mutex> lock (mutex);
            workers.emplace_back ([this, connection]
            {
                const auto request = readRequest (*connection);

                {
                    std::lock_guard<std::mutex> requestLock (mutex);
                    received.push_back (request);
                }

                script (*connection, request);
            });
        }
    });
}

ScriptedHost::~ScriptedHost()
{
    stopping = true;
    acceptThread.join();

    for (auto& worker : workers)
        worker.join();

    listener.close();
}

std::vector<std::string> ScriptedHost::requests() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return received;
}

ScriptedHost::Script ScriptedHost::answer (int status, const std::string& body)
{
    return [status, body] (juce::StreamingSocket& connection, const std::string&)
    {
        sendBytes (connection, "HTTP/1.1 " + std::to_string (status) + " X\r\nContent-Length: "
                                   + std::to_string (body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    };
}

ScriptedHost::Script ScriptedHost::raw (const std::string& bytes)
{
    return [bytes] (juce::StreamingSocket& connection, const std::string&) { sendBytes (connection, bytes); };
}

SocketPair::SocketPair()
{
    listener.createListener (0, "127.0.0.1");
    client.connect ("127.0.0.1", listener.getBoundPort(), 2000);
    server.reset (listener.waitForNextConnection());
}

//==============================================================================
HostProcess::HostProcess (std::shared_ptr<const TempHome> inHome)
    : sharedHome (std::move (inHome)), home (*sharedHome)
{
    // Another host's file may stand there already: this one's is the file with a new token
    const auto before = assistant::readEndpoint (home.endpointFile());
    const auto isNew = [&before] (const std::optional<assistant::Endpoint>& found)
    {
        return found && (! before || found->token != before->token);
    };

    const auto env = home.env();
    pid = fork();

    if (pid == 0)
    {
        for (const auto& [name, value] : env)
            setenv (name.c_str(), value.c_str(), 1);

        freopen ("/dev/null", "w", stdout);
        execl (VELTO_HOST_PATH, VELTO_HOST_PATH, (char*) nullptr);
        _exit (127);
    }

    for (int i = 0; i < 500 && ! isNew (assistant::readEndpoint (home.endpointFile())); ++i)
        juce::Thread::sleep (10);

    if (const auto found = assistant::readEndpoint (home.endpointFile()); isNew (found))
        endpoint = *found;
}

HostProcess::~HostProcess()
{
    // A host that a signal or a sanitizer ended, or that did not stop cleanly, fails the test
    if (const auto status = pid > 0 ? stop() : 0; ! WIFEXITED (status) || WEXITSTATUS (status) != 0)
        ADD_FAILURE() << "the reference host ended with wait status " << status;
}

int HostProcess::stop (int signalNumber)
{
    kill (pid, signalNumber);
    int status = 0;
    waitpid (pid, &status, 0);
    pid = -1;
    return status;
}

int HostProcess::send (const std::string& bytes, std::string* body, bool awaitClose) const
{
    juce::StreamingSocket socket;
    socket.connect ("127.0.0.1", endpoint.port, 2000);
    sendBytes (socket, bytes);
    assistant::HttpMessage answer;

    if (! assistant::readHttp (socket, answer, false, 5000))
        return 0;

    // The host sends no FIN before it closes its descriptor: the end of the stream means it is gone
    for (char byte; awaitClose && socket.waitUntilReady (true, 5000) == 1 && socket.read (&byte, 1, false) > 0;) {}

    if (body != nullptr)
        *body = answer.body.toStdString();

    return answer.status;
}

std::string HostProcess::request (const std::string& body, const std::string& method, const std::string& path,
                                  const std::string& bearer) const
{
    return method + " " + path + " HTTP/1.1\r\nAuthorization: Bearer " + (bearer.empty() ? endpoint.token.toStdString() : bearer)
           + "\r\nContent-Length: " + std::to_string (body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void writeEndpointFor (const TempHome& home, int port, const juce::String& token)
{
    assistant::writeEndpoint ({ port, token }, home.endpointFile());
}
} // namespace velto::test
