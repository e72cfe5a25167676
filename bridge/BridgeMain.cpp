// VeltoMCP: a stdio MCP server that relays every message to the running Velto and answers by
// itself when Velto cannot be reached. One thread, one line at a time.
#include "Bridge.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

namespace
{
using namespace velto;

/** Writes one reply as one line and flushes it, so the client never waits on a buffer. */
void send (const juce::var& value)
{
    const auto text = assistant::toJson (value);
    std::cout.write (text.toRawUTF8(), (std::streamsize) text.getNumBytesAsUTF8());
    std::cout.put ('\n');
    std::cout.flush();
}

void printDiagnostic (const juce::String& line)
{
    std::cerr.write (line.toRawUTF8(), (std::streamsize) line.getNumBytesAsUTF8());
    std::cerr.put ('\n');
    std::cerr.flush();
}

void printHelp()
{
    std::cout << "VeltoMCP: lets an AI app (an MCP client) see and control Velto.\n"
                 "Add it to the app as a local (stdio) MCP server, then turn the connection on in\n"
                 "Velto: Options > AI Assistant. It reads "
              << assistant::endpointFile().getFullPathName().toRawUTF8() << "\n";
}
} // namespace

int main (int argc, char* argv[])
{
    // The first recognised argument wins; anything else is ignored without a word
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp (argv[i], "--version") == 0)
        {
            std::cout << "VeltoMCP " << assistant::serverVersion << "\n" << std::flush;
            return 0;
        }

        if (std::strcmp (argv[i], "--help") == 0 || std::strcmp (argv[i], "-h") == 0)
        {
            printHelp();
            return 0;
        }
    }

    std::ios::sync_with_stdio (false);

    // A client that closes our stdout must end the bridge quietly with status 0, not kill it
    // with SIGPIPE. Pipes have no per-write way to say so (sockets do, and writeAll uses it),
    // so this one is process-wide; a failed write then ends the loop below.
    std::signal (SIGPIPE, SIG_IGN);

    const bridge::Output output { send, printDiagnostic };
    const auto forward = bridge::hostForwarder();
    std::string line;

    while (std::getline (std::cin, line) && std::cout.good())
        if (const auto text = bridge::lineText (line); ! text.empty())
            bridge::handle (text, forward, output);

    return 0;
}
