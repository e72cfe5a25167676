// A reference host: what an application does, with velto::assistant, to serve VeltoMCP.
//
//   1. start a Server: it listens on 127.0.0.1 (the system picks the port) with a new token,
//      and answers each request with the application's own handler, in fixed resources;
//   2. publish the port and token with writeEndpoint to endpointFile();
//   3. remove the endpoint file when the connection is switched off (here: SIGINT, SIGTERM or
//      SIGHUP), and on every other way out that the application controls.
//
// Behind it stands a small in-memory session (DemoSession) so that the six tools do something.
#include "DemoSession.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include <signal.h>
#include <unistd.h>

namespace
{
using namespace velto::assistant;

/** The endpoint file's path, where a fatal signal's handler can reach it without allocating. */
char endpointPath[4096] = {};

void removeEndpointFile()
{
    if (endpointPath[0] != 0)
        ::unlink (endpointPath);   // async-signal-safe
}

/** A crash still leaves no endpoint file behind that names a dead port. */
void removeEndpointFileAndDie (int signalNumber)
{
    removeEndpointFile();
    std::signal (signalNumber, SIG_DFL);
    std::raise (signalNumber);
}

/** Waits for a signal that switches the connection off. They are blocked in every thread, the
    server's included, so that none of them is taken by a thread that would ignore it. */
int waitForStopSignal (const sigset_t& stopSignals)
{
    int received = 0;

    while (sigwait (&stopSignals, &received) != 0) {}

    return received;
}
} // namespace

int main()
{
    sigset_t stopSignals;
    sigemptyset (&stopSignals);

    for (const int number : { SIGINT, SIGTERM, SIGHUP })
        sigaddset (&stopSignals, number);

    pthread_sigmask (SIG_BLOCK, &stopSignals, nullptr);

    velto::host::DemoSession session;
    Server server ([&session] (const juce::var& message) { return session.answer (message); });

    if (! server.start())
    {
        std::fprintf (stderr, "reference host: cannot listen on 127.0.0.1\n");
        return 1;
    }

    const auto file = endpointFile();
    const auto path = file.getFullPathName();

    if ((size_t) path.getNumBytesAsUTF8() >= sizeof (endpointPath) || ! writeEndpoint ({ server.port(), server.token() }, file))
    {
        std::fprintf (stderr, "reference host: cannot write %s\n", path.toRawUTF8());
        return 1;
    }

    std::strcpy (endpointPath, path.toRawUTF8());
    std::atexit (removeEndpointFile);
    std::set_terminate ([] { removeEndpointFile(); std::abort(); });

    for (const int number : { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT })
        std::signal (number, removeEndpointFileAndDie);

    std::printf ("Velto reference host on 127.0.0.1:%d, endpoint in %s\n", server.port(), path.toRawUTF8());
    std::fflush (stdout);

    waitForStopSignal (stopSignals);

    removeEndpointFile();
    server.stop();
    std::printf ("Velto reference host stopped\n");
    return 0;
}
