// The host's server: one thread waits with poll() on every connection and on the listener, and
// workers answer whole requests with answerRequest. Here: the rank of a connection to shed, and
// the loop, which keeps the poll set, accepts, and hands requests to the workers; the listener,
// the work queue and a connection with its socket and stages are AssistantServerParts.h.
#include "AssistantInternal.h"
#include "AssistantServerParts.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/resource.h>

namespace velto::assistant
{
int shedRank (const OpenConnection& connection, std::chrono::steady_clock::time_point now)
{
    if (connection.stage == OpenConnection::Stage::refusing)
        return 1;

    if (connection.stage != OpenConnection::Stage::receiving)
        return 0;

    if (connection.bytesReceived == 0)
        return 2;

    const bool arrivingNow = connection.reads > 1 && connection.lastReceived > now - std::chrono::milliseconds (stalledAfterMs);
    return arrivingNow ? 3 : 1;
}

namespace
{
using namespace detail;
using namespace server;

/** Connections taken from the listener in one turn of the loop, so that a flood of them cannot
    keep the loop from the connections it has. */
constexpr int acceptsPerTurn = 256;
/** The longest poll() waits without a deadline due, to look at the stop flag even so. */
constexpr int longestWaitMs = 1000;


/** A connection limit that leaves most descriptors to the application that runs the server. */
int connectionLimitForThisProcess()
{
    rlimit limit {};

    if (::getrlimit (RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return maxOpenConnections;

    return (int) std::clamp<rlim_t> (limit.rlim_cur / 4, 8, (rlim_t) maxOpenConnections);
}

/** The answer to a whole request. Nothing that a handler throws may end the server: the client
    gets a 500 instead, or, when not even that can be made, nothing (the connection is closed). */
std::string respondTo (const HttpMessage& request, const juce::String& token, const MessageHandler& answerOne)
{
    try
    {
        return utf8Of (answerRequest (request, token, answerOne));
    }
    catch (...)
    {
        try
        {
            return utf8Of (httpResponse (500, {}, {}));
        }
        catch (...)
        {
            return {};
        }
    }
}

/** The oldest connection of the lowest shedRank, or the end when every one ranks 0. */
Connections::iterator connectionToShed (Connections& connections, Clock::time_point now)
{
    auto shed = connections.end();
    int lowestRank = 0;

    for (auto it = connections.begin(); it != connections.end(); ++it)
    {
        if (const auto rank = shedRank (it->stateForShedding(), now); rank > 0 && (lowestRank == 0 || rank < lowestRank))
        {
            shed = it;
            lowestRank = rank;
        }
    }

    return shed;
}

/** What one turn of the loop waits on: the wake pipe, the listener, then each connection that
    is not with a worker, in slots that stay put for the turn. */
struct Waits
{
    static constexpr size_t wakeSlot = 0, listenerSlot = 1, firstConnectionSlot = 2;

    std::vector<pollfd> slots;
    std::vector<Connections::iterator> polled;   // polled[i] is in slot firstConnectionSlot + i

    short readyEvents (size_t slot) const { return slots[slot].revents; }
};
} // namespace

//==============================================================================
struct Server::Impl
{
    explicit Impl (MessageHandler handler) : answerOne (std::move (handler)) {}

    const MessageHandler answerOne;
    juce::String token;
    Listener listener;
    WakePipe wakePipe;
    int connectionLimit = maxOpenConnections;
    std::atomic<bool> stopping { false };
    std::thread loopThread;
    std::vector<std::thread> workers;
    WorkQueue queue;

    // The loop's own
    Connections connections;
    std::unordered_map<std::uint64_t, Connections::iterator> beingAnswered;
    std::uint64_t nextSerial = 0;

    //==============================================================================
    /** Listens anew, with a new token, and starts the threads, on a server that stop() left
        clean. */
    bool start()
    {
        stopping = false;

        if (! listener.open() || ! wakePipe.open())
            return false;

        try
        {
            token = makeToken();
        }
        catch (const std::exception&)
        {
            return false;
        }

        connectionLimit = connectionLimitForThisProcess();

        try
        {
            loopThread = std::thread ([this] { loop(); });
        }
        catch (const std::system_error&)
        {
            return false;
        }

        // As many workers as can be had: with none, the loop answers requests itself
        for (int i = 0; i < serverWorkerThreads; ++i)
        {
            try
            {
                workers.emplace_back ([this] { work(); });
                queue.workerStarted();
            }
            catch (const std::system_error&)
            {
                break;
            }
        }

        return true;
    }

    /** Ends the threads and closes everything, and clears what a start() must find clear: a
        server switched off and on again answers again. */
    void stop()
    {
        stopping = true;
        queue.stop();
        wakePipe.wake();

        if (loopThread.joinable())
            loopThread.join();

        for (auto& worker : workers)
            worker.join();

        workers.clear();
        queue.reset();
        listener.close();
        wakePipe.close();
    }

    //==============================================================================
    // Workers

    void work()
    {
        for (WorkQueue::Job job; queue.take (job);)
        {
            queue.finish ({ job.serial, respondTo (job.request, token, answerOne) });
            wakePipe.wake();
        }
    }

    //==============================================================================
    // The loop

    void loop()
    {
        Waits waits;

        while (! stopping)
        {
            try
            {
                turn (waits);
            }
            catch (const std::bad_alloc&)
            {
                // No memory for the loop's own lists: give up the newest connection, which had the
                // least invested in it, and go on
                if (! connections.empty())
                    close (std::prev (connections.end()));
            }
        }

        while (! connections.empty())
            close (connections.begin());
    }

    void turn (Waits& waits)
    {
        auto now = Clock::now();
        const int listening = listener.descriptorToPoll (now);
        waits.slots.clear();
        waits.polled.clear();
        waits.slots.push_back ({ wakePipe.readEnd(), POLLIN, 0 });
        waits.slots.push_back ({ listening, POLLIN, 0 });
        auto nextDeadline = now + std::chrono::milliseconds (longestWaitMs);

        for (auto it = connections.begin(); it != connections.end(); ++it)
        {
            if (! it->isPolled())
                continue;

            waits.slots.push_back (it->waitFor());
            waits.polled.push_back (it);
            nextDeadline = std::min (nextDeadline, it->due());
        }

        if (listening < 0)
            nextDeadline = std::min (nextDeadline, listener.pauseEnds());

        if (retryOnInterrupt ([&] { return ::poll (waits.slots.data(), (nfds_t) waits.slots.size(), millisecondsUntil (nextDeadline)); }) < 0)
            return;

        // Each step may close connections; none may close one that a later step still holds
        for (size_t i = 0; i < waits.polled.size(); ++i)
            if (const auto events = waits.readyEvents (Waits::firstConnectionSlot + i); events != 0)
                serve (waits.polled[i], events);

        if (waits.readyEvents (Waits::wakeSlot) != 0)
            takeResponses();

        // Deadlines after anything that came in time was taken; new connections last, as they
        // may take the place of old ones
        now = Clock::now();

        for (auto it = connections.begin(); it != connections.end();)
        {
            const auto next = std::next (it);

            if (it->isPolled() && it->due() <= now)
                follow (it, it->expire());

            it = next;
        }

        if (waits.readyEvents (Waits::listenerSlot) != 0)
            acceptConnections();
    }

    void takeResponses()
    {
        wakePipe.drain();

        for (auto& done : queue.takeResponses())
        {
            const auto found = beingAnswered.find (done.serial);

            if (found == beingAnswered.end())
                continue;

            const auto it = found->second;
            beingAnswered.erase (found);
            follow (it, it->answer (std::move (done.response)));
        }
    }

    void acceptConnections()
    {
        for (int i = 0; i < acceptsPerTurn; ++i)
        {
            const int handle = listener.accept();

            if (handle < 0)
                return;

            if ((int) connections.size() >= connectionLimit)
            {
                const auto shed = connectionToShed (connections, Clock::now());

                if (shed == connections.end())
                {
                    ::close (handle);   // every place is taken by a request being answered
                    continue;
                }

                close (shed);
            }

            try
            {
                connections.emplace_back (handle, nextSerial++);
            }
            catch (const std::bad_alloc&)
            {
                ::close (handle);
                return;
            }
        }
    }

    void close (Connections::iterator it)
    {
        beingAnswered.erase (it->number());
        connections.erase (it);
    }

    //==============================================================================
    void serve (Connections::iterator it, short readyEvents)
    {
        try
        {
            follow (it, it->serve (readyEvents, token));
        }
        catch (const std::bad_alloc&)
        {
            close (it);   // no memory for this connection's bytes: it alone is dropped
        }
    }

    /** Does what the connection said comes next. */
    void follow (Connections::iterator it, Connection::Next next)
    {
        if (next == Connection::Next::close)
        {
            close (it);
        }
        else if (next == Connection::Next::dispatch)
        {
            WorkQueue::Job job { it->number(), it->takeRequest() };

            if (queue.offer (job))
                beingAnswered[job.serial] = it;
            else
                follow (it, it->answer (respondTo (job.request, token, answerOne)));
        }
    }
};

//==============================================================================
Server::Server (MessageHandler answerOne) : impl (std::make_unique<Impl> (std::move (answerOne))) {}

Server::~Server()
{
    stop();
}

bool Server::start()
{
    impl->stop();   // a server already started starts again, on a new port with a new token

    if (impl->start())
        return true;

    impl->stop();
    return false;
}

void Server::stop()
{
    impl->stop();
}

int Server::port() const
{
    return impl->listener.port();
}

juce::String Server::token() const
{
    return impl->token;
}
} // namespace velto::assistant
