// A reference host: what an application does, with velto::assistant, to serve VeltoMCP.
//
//   1. start a Server: it listens on 127.0.0.1 (the system picks the port) with a new token,
//      and answers each request with the application's own handler, in fixed resources;
//   2. publish the port and token with writeEndpoint to endpointFile();
//   3. when the connection is switched off (here: any signal that would end the process), and on
//      every other way out that the application controls, take the file back with
//      removeEndpoint, which leaves it alone once another host has written its own.
//
// Behind it stands a small in-memory session (DemoSession) so that the six tools do something.
#include "DemoSession.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace
{
using namespace velto::assistant;

/** Signals that end a process unless it catches them, and that come from outside rather than
    from a fault of its own: each one switches the connection off. SIGPIPE is not among them:
    the server never needs it (its sockets say so per write), so it is ignored. */
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset (&set);

    for (const int number : { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                              SIGXCPU, SIGXFSZ })
        sigaddset (&set, number);

   #if defined(__linux__)
    // Linux ends a process on these too; macOS ignores SIGIO and has none of the others
    for (const int number : { SIGIO, SIGPWR, SIGSTKFLT })
        sigaddset (&set, number);

    for (int number = SIGRTMIN; number <= SIGRTMAX; ++number)
        sigaddset (&set, number);
   #endif

    return set;
}

/** The endpoint as published, for the exit handlers. */
Endpoint published;
juce::File publishedFile;

/** What a fault's handler needs, set up before any fault can come: it may not allocate. */
char endpointPath[4096] = {};
char endpointToken[128] = {};

/** Faults of the host's own: the process cannot go on, but its handler runs first. */
constexpr int faultSignals[] = { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS,
                                #ifdef SIGEMT
                                 SIGEMT,
                                #endif
                               };

/** A fault still leaves no endpoint file behind that names a dead port, and never removes
    another host's: the file is removed only when it holds this host's token. The check and the
    unlink are two steps here, where removeEndpoint's lock cannot be taken safely; every other
    way out goes through removeEndpoint. */
void removeEndpointFileAndDie (int signalNumber)
{
    static char text[65536];
    const int handle = ::open (endpointPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (handle >= 0)
    {
        const auto size = ::read (handle, text, sizeof (text) - 1);
        ::close (handle);
        text[size > 0 ? size : 0] = 0;

        if (endpointToken[0] != 0 && std::strstr (text, endpointToken) != nullptr)
            ::unlink (endpointPath);
    }

    std::signal (signalNumber, SIG_DFL);
    std::raise (signalNumber);
}

/** Waits for a signal that switches the connection off. They are blocked in every thread, the
    server's included, so that none of them is taken by a thread that would let it end the
    process at once. */
int waitForStopSignal (const sigset_t& signals)
{
    int received = 0;

    while (sigwait (&signals, &received) != 0) {}

    return received;
}
} // namespace

int main()
{
    std::signal (SIGPIPE, SIG_IGN);
    const auto signals = stopSignals();
    pthread_sigmask (SIG_BLOCK, &signals, nullptr);

    velto::host::DemoSession session;
    Server server ([&session] (const juce::var& message) { return session.answer (message); });

    if (! server.start())
    {
        std::fprintf (stderr, "reference host: cannot listen on 127.0.0.1\n");
        return 1;
    }

    published = { server.port(), server.token() };
    publishedFile = endpointFile();
    const auto path = publishedFile.getFullPathName();

    if ((size_t) path.getNumBytesAsUTF8() >= sizeof (endpointPath))
    {
        std::fprintf (stderr, "reference host: the path %s is too long\n", path.toRawUTF8());
        return 1;
    }

    if (juce::String failure; ! writeEndpoint (published, publishedFile, &failure))
    {
        std::fprintf (stderr, "reference host: cannot publish the endpoint: %s\n", failure.toRawUTF8());
        return 1;
    }

    std::strcpy (endpointPath, path.toRawUTF8());
    std::strncpy (endpointToken, published.token.toRawUTF8(), sizeof (endpointToken) - 1);
    std::atexit ([] { removeEndpoint (published, publishedFile); });
    std::set_terminate ([] { removeEndpoint (published, publishedFile); std::abort(); });

    for (const int number : faultSignals)
        std::signal (number, removeEndpointFileAndDie);

    std::printf ("Velto reference host on 127.0.0.1:%d, endpoint in %s\n", server.port(), path.toRawUTF8());
    std::fflush (stdout);

    waitForStopSignal (signals);

    removeEndpoint (published, publishedFile);
    server.stop();
    std::printf ("Velto reference host stopped\n");
    return 0;
}
