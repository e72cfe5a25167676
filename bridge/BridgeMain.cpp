// VeltoMCP: a stdio MCP server that relays every message to the running Velto and answers by
// itself when Velto cannot be reached. One thread, one line at a time.
#include "Bridge.h"

#include <velto_assistant/AssistantDetail.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace
{
using namespace velto;
using assistant::detail::retryOnInterrupt;

/** Writes all the bytes to a descriptor; false once it is gone (the client closed its end). */
bool writeAllTo (int handle, std::string_view bytes)
{
    while (! bytes.empty())
    {
        const auto count = retryOnInterrupt ([&] { return ::write (handle, bytes.data(), bytes.size()); });

        if (count > 0)
        {
            bytes.remove_prefix ((size_t) count);
        }
        else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            pollfd wait { handle, POLLOUT, 0 };   // a client may hand us a non-blocking pipe
            retryOnInterrupt ([&] { return ::poll (&wait, 1, -1); });
        }
        else
        {
            return false;
        }
    }

    return true;
}

/** Replies wait here while the lines already read are handled, and go out together, in one
    write, before the bridge waits for anything: for more input, or for Velto. */
class Replies
{
public:
    /** Past this, what waits goes out at once: a burst of large replies (tools/list) must not
        pile up in memory. */
    static constexpr size_t batchBytes = 65536;

    void add (std::string reply)
    {
        // A large reply (a tool's answer) goes out as it is, after what waits, not copied; its
        // line feed in the same write, as a client may look for it again in all it holds
        if (reply.size() >= batchBytes)
        {
            reply += '\n';
            open = flush() && writeAllTo (STDOUT_FILENO, reply);
            return;
        }

        pending.append (reply);
        pending += '\n';

        if (pending.size() >= batchBytes)
            flush();
    }

    /** False once stdout is gone. */
    bool flush()
    {
        open = open && writeAllTo (STDOUT_FILENO, pending);
        pending.clear();
        return open;
    }

    bool isOpen() const { return open; }

private:
    std::string pending;
    bool open = true;
};

/** One read of stdin into the lines, taking as much as is there; false at its end, or when
    it cannot be read. */
bool readInput (bridge::Lines& lines)
{
    static char chunk[65536];

    const auto count = retryOnInterrupt ([] { return ::read (STDIN_FILENO, chunk, sizeof (chunk)); });

    if (count <= 0)
        return false;

    lines.append ({ chunk, (size_t) count });
    return true;
}

void printDiagnostic (const juce::String& line)
{
    writeAllTo (STDERR_FILENO, std::string (line.toRawUTF8(), line.getNumBytesAsUTF8()) + "\n");
}

void printText (const std::string& text)
{
    writeAllTo (STDOUT_FILENO, text);
}
} // namespace

int main (int argc, char* argv[])
{
    // The first recognised argument wins; anything else is ignored without a word
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp (argv[i], "--version") == 0)
        {
            printText (std::string ("VeltoMCP ") + assistant::serverVersion + "\n");
            return 0;
        }

        if (std::strcmp (argv[i], "--help") == 0 || std::strcmp (argv[i], "-h") == 0)
        {
            printText ("VeltoMCP: lets an AI app (an MCP client) see and control Velto.\n"
                       "Add it to the app as a local (stdio) MCP server, then turn the connection on in\n"
                       "Velto: Options > AI Assistant. It reads "
                       + assistant::endpointFile().getFullPathName().toStdString() + "\n");
            return 0;
        }
    }

    // A client that closes our stdout must end the bridge quietly with status 0, not kill it
    // with SIGPIPE. Pipes have no per-write way to say so (sockets do, and the module uses it),
    // so this one is process-wide; a failed write then ends the loop below.
    std::signal (SIGPIPE, SIG_IGN);

    Replies replies;
    bridge::EndpointFile velto;
    bridge::Lines input;
    std::string wire;              // kept from line to line, as Velto's answer is: a large message
    bridge::VeltoAnswer answer;    // does not take fresh memory each time

    auto handleLine = [&] (std::string_view line)
    {
        const auto text = bridge::lineText (line);

        if (text.empty())
            return;

        // Velto is asked only where there is one to ask and the line holds a message: a line
        // answered locally is read once, by the local answer alone
        wire.clear();
        answer.status = 0;

        if (const auto& endpoint = velto.read(); endpoint && assistant::rewriteJson (text, wire))
        {
            replies.flush();   // what is due goes out before the bridge waits for Velto
            answer.status = assistant::postToVelto (*endpoint, wire, answer.body, assistant::veltoAnswerTimeoutMs);
        }

        auto [reply, diagnostic] = bridge::handle (text, answer);

        if (diagnostic.isNotEmpty())
            printDiagnostic (diagnostic);

        if (! reply.empty())
            replies.add (std::move (reply));
    };

    for (;;)
    {
        for (std::string_view line; replies.isOpen() && input.next (line);)
            handleLine (line);

        if (! replies.flush())
            return 0;

        if (! readInput (input))
            break;
    }

    handleLine (input.rest());
    replies.flush();
    return 0;
}
