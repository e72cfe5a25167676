// A JUCE application that serves Velto's assistant endpoint while its message loop runs, as
// Velto does. The session lives on the message thread, as a JUCE application's state does; the
// server's workers hand each tool call to the message thread and wait for its answer.
#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>

#include <velto_assistant/velto_assistant.h>

#include <atomic>
#include <csignal>

// The settings that this application's CMakeLists.txt gives it, none of them the bridge's
static_assert (JUCE_CHECK_MEMORY_LEAKS == 1 && JUCE_LOG_ASSERTIONS == 1 && JUCE_STRICT_REFCOUNTEDPOINTER == 1
                   && VELTO_APP_OWN_SETTING == 42,
               "the application's own JUCE settings reach its sources unchanged");

namespace
{
using namespace velto::assistant;

/** How long a worker waits for the message thread before it answers that Velto is busy. */
constexpr int messageThreadTimeoutMs = 10000;
/** How often the message thread looks for a stop signal. */
constexpr int signalPollMs = 50;

std::atomic<bool> stopSignalled { false };

class VeltoJuceApp final : public juce::JUCEApplicationBase, private juce::Timer
{
public:
    const juce::String getApplicationName() override    { return "Velto JUCE App"; }
    const juce::String getApplicationVersion() override { return "1.0.0"; }
    bool moreThanOneInstanceAllowed() override          { return true; }
    void anotherInstanceStarted (const juce::String&) override {}
    void suspended() override {}
    void resumed() override {}
    void systemRequestedQuit() override                 { quit(); }
    void unhandledException (const std::exception*, const juce::String&, int) override {}

    void initialise (const juce::String&) override
    {
        session.setProperty ("tempo", 96, nullptr);
        session.setProperty ("playing", false, nullptr);

        for (const auto* name : { "Piano", "Strings" })
            session.appendChild (juce::ValueTree ("Track", { { "name", name } }), nullptr);

        server = std::make_unique<Server> ([this] (const juce::var& message) { return answer (message); });

        juce::String failure = "cannot listen on 127.0.0.1";

        if (! server->start() || ! writeEndpoint (published = { server->port(), server->token() }, endpointFile(), &failure))
        {
            std::fprintf (stderr, "Velto JUCE app: %s\n", failure.toRawUTF8());
            setApplicationReturnValue (1);
            quit();
            return;
        }

        std::signal (SIGTERM, [] (int) { stopSignalled = true; });
        std::signal (SIGINT, [] (int) { stopSignalled = true; });
        startTimer (signalPollMs);
        std::printf ("Velto JUCE app on 127.0.0.1:%d\n", server->port());
        std::fflush (stdout);
    }

    void shutdown() override
    {
        stopTimer();
        closing = true;   // workers waiting for this thread give up rather than hold stop() up

        if (server != nullptr)
            server->stop();

        // Only while it is still this application's: another Velto may have written its own since
        removeEndpoint (published, endpointFile());
    }

private:
    juce::ValueTree session { "Session" };
    std::unique_ptr<Server> server;
    Endpoint published;
    std::atomic<bool> closing { false };

    void timerCallback() override
    {
        if (stopSignalled)
            quit();
    }

    /** On a worker thread: the handshake as the bridge gives it, tool calls on the message thread. */
    juce::var answer (const juce::var& message)
    {
        if (message.getProperty ("method", {}) != juce::var ("tools/call"))
            return answerProtocol (message);

        if (! message.hasProperty ("id"))
            return {};

        struct Call
        {
            juce::WaitableEvent done;
            juce::var reply;
        };

        auto call = std::make_shared<Call>();
        juce::MessageManager::callAsync ([this, call, message]
        {
            call->reply = callTool (message);
            call->done.signal();
        });

        for (int waitedMs = 0; ! call->done.wait (signalPollMs); waitedMs += signalPollMs)
            if (closing || waitedMs >= messageThreadTimeoutMs)
                return rpcResult (message["id"], toolText ("Velto is busy or closing: try again.", true));

        return call->reply;
    }

    /** On the message thread. */
    juce::var callTool (const juce::var& request)
    {
        JUCE_ASSERT_MESSAGE_THREAD

        const auto id = request["id"];
        const auto name = request["params"]["name"].toString();

        if (name == "play" || name == "stop")
            session.setProperty ("playing", name == "play", nullptr);
        else if (name != "describe_session")
            return rpcResult (id, toolText ("This application has describe_session, play and stop only.", true));

        juce::Array<juce::var> tracks;

        for (const auto& track : session)
            tracks.add (track["name"]);

        auto* summary = new juce::DynamicObject();
        summary->setProperty ("tempo", session["tempo"]);
        summary->setProperty ("playing", session["playing"]);
        summary->setProperty ("tracks", tracks);
        return rpcResult (id, toolText (toJson (juce::var (summary)), false));
    }
};
} // namespace

START_JUCE_APPLICATION (VeltoJuceApp)
