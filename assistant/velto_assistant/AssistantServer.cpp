// The host's server: one thread waits with poll() on every connection and on the listener, and
// workers answer whole requests with answerRequest. Here: the choice of the connection to shed,
// and the loop; the work queue and a connection's stage rules are AssistantServerParts.h.
#include "AssistantShared.h"
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
int connectionToShed (const std::vector<OpenConnection>& connections, std::chrono::steady_clock::time_point now)
{
    const auto stalledSince = now - std::chrono::milliseconds (stalledAfterMs);
    int silent = -1, arriving = -1;

    for (int i = 0; i < (int) connections.size(); ++i)
    {
        const auto& connection = connections[(size_t) i];

        if (connection.stage != OpenConnection::Stage::receiving && connection.stage != OpenConnection::Stage::refusing)
            continue;

        const bool arrivingNow = connection.reads > 1 && connection.lastReceived > stalledSince;

        if (connection.stage == OpenConnection::Stage::refusing || (connection.bytesReceived > 0 && ! arrivingNow))
            return i;

        auto& firstOfItsKind = connection.bytesReceived == 0 ? silent : arriving;

        if (firstOfItsKind < 0)
            firstOfItsKind = i;
    }

    return silent >= 0 ? silent : arriving;
}

namespace
{
using namespace detail;
using namespace server;

/** Connections taken from the listener in one turn of the loop, so that a flood of them cannot
    keep the loop from the connections it has. */
constexpr int acceptsPerTurn = 256;
/** Reads of one connection in one turn: a 1 MiB body comes in a few turns, not a hundred. */
constexpr int readsPerTurn = 16;
/** How long the loop stops accepting after accept() failed for want of memory. */
constexpr int acceptPauseMs = 10;
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

} // namespace

//==============================================================================
struct Server::Impl
{
    explicit Impl (MessageHandler handler) : answerOne (std::move (handler)) {}

    const MessageHandler answerOne;
    juce::String token;
    juce::StreamingSocket listener;
    int connectionLimit = maxOpenConnections;
    int wake[2] = { -1, -1 };        // workers write a byte to end the loop's wait
    int spareDescriptor = -1;        // given up for a moment when the process runs out of them
    std::atomic<bool> stopping { false };
    std::thread loopThread;
    std::vector<std::thread> workers;
    WorkQueue queue;

    // The loop's own
    Connections connections;
    std::unordered_map<std::uint64_t, Connections::iterator> beingAnswered;
    std::uint64_t nextSerial = 0;
    Clock::time_point acceptPausedUntil {};
    std::vector<char> scratch = std::vector<char> ((size_t) httpReadChunkBytes);

    //==============================================================================
    /** Listens anew, with a new token, and starts the threads, on a server that stop() left
        clean. */
    bool start()
    {
        stopping = false;
        acceptPausedUntil = {};

        if (! listener.createListener (0, "127.0.0.1")
            || ! platform::setDescriptorFlags (listener.getRawSocketHandle(), /* nonBlocking */ true)
            || ! platform::makeWakePipe (wake))
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
        spareDescriptor = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);

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
        wakeLoop();

        if (loopThread.joinable())
            loopThread.join();

        for (auto& worker : workers)
            worker.join();

        workers.clear();
        queue.reset();
        listener.close();

        for (auto* end : { &wake[0], &wake[1], &spareDescriptor })
            if (*end >= 0)
                ::close (std::exchange (*end, -1));
    }

    void wakeLoop()
    {
        const char byte = 0;

        if (wake[1] >= 0)
            (void) ::write (wake[1], &byte, 1);   // a full pipe wakes the loop just as well
    }

    //==============================================================================
    // Workers

    void work()
    {
        for (WorkQueue::Job job; queue.take (job);)
        {
            queue.finish ({ job.serial, respond (job.request) });
            wakeLoop();
        }
    }

    /** Nothing that a handler throws may end the server: the client gets a 500 instead. */
    std::string respond (const HttpMessage& request) const
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
                return {};   // not even that could be made: the connection is just closed
            }
        }
    }

    //==============================================================================
    // The loop

    /** What one turn waits on: the wake pipe, the listener, then each connection that is not
        with a worker, in slots that stay put for the turn. */
    struct Waits
    {
        static constexpr size_t wakeSlot = 0, listenerSlot = 1, firstConnectionSlot = 2;

        std::vector<pollfd> slots;
        std::vector<Connections::iterator> polled;   // polled[i] is in slot firstConnectionSlot + i

        short readyEvents (size_t slot) const { return slots[slot].revents; }
    };

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
        const bool accepting = now >= acceptPausedUntil;
        waits.slots.clear();
        waits.polled.clear();
        waits.slots.push_back ({ wake[0], POLLIN, 0 });
        waits.slots.push_back ({ accepting ? listener.getRawSocketHandle() : -1, POLLIN, 0 });   // poll() skips -1
        auto nextDeadline = now + std::chrono::milliseconds (longestWaitMs);

        for (auto it = connections.begin(); it != connections.end(); ++it)
        {
            if (! it->isPolled())
                continue;

            waits.slots.push_back ({ it->handle, it->pollEvents(), 0 });
            waits.polled.push_back (it);
            nextDeadline = std::min (nextDeadline, it->deadline);
        }

        if (! accepting)
            nextDeadline = std::min (nextDeadline, acceptPausedUntil);

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

            if (it->isPolled() && it->deadline <= now)
                expire (it);

            it = next;
        }

        if (waits.readyEvents (Waits::listenerSlot) != 0)
            acceptConnections();
    }

    void takeResponses()
    {
        while (::read (wake[0], scratch.data(), scratch.size()) > 0) {}

        for (auto& done : queue.takeResponses())
        {
            const auto found = beingAnswered.find (done.serial);

            if (found == beingAnswered.end())
                continue;

            const auto it = found->second;
            beingAnswered.erase (found);
            it->startSending (std::move (done.response));

            if (it->isFinished())
                close (it);
        }
    }

    void acceptConnections()
    {
        for (int i = 0; i < acceptsPerTurn; ++i)
        {
            const int handle = retryOnInterrupt ([this] { return platform::acceptConnection (listener.getRawSocketHandle()); });

            if (handle < 0)
            {
                if (errno == ECONNABORTED)
                    continue;

                if (errno == EMFILE || errno == ENFILE)
                    shedConnectionWithoutDescriptor();
                else if (errno != EAGAIN && errno != EWOULDBLOCK)
                    acceptPausedUntil = after (acceptPauseMs);

                return;
            }

            if ((int) connections.size() >= connectionLimit && ! makeRoom())
            {
                ::close (handle);   // every place is taken by a request being answered
                continue;
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

    /** Out of descriptors, a pending connection would wake the loop again and again: the spare
        one makes room to accept it and close it at once. */
    void shedConnectionWithoutDescriptor()
    {
        if (spareDescriptor >= 0)
            ::close (spareDescriptor);

        if (const int handle = ::accept (listener.getRawSocketHandle(), nullptr, nullptr); handle >= 0)
            ::close (handle);

        spareDescriptor = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);

        if (spareDescriptor < 0)
            acceptPausedUntil = after (acceptPauseMs);
    }

    /** Closes the connection that connectionToShed names; false when it names none. */
    bool makeRoom()
    {
        std::vector<OpenConnection> states;
        states.reserve (connections.size());

        for (const auto& connection : connections)
            states.push_back (connection.state());

        const auto shed = connectionToShed (states, Clock::now());

        if (shed < 0)
            return false;

        close (std::next (connections.begin(), shed));
        return true;
    }

    void close (Connections::iterator it)
    {
        ::close (it->handle);
        beingAnswered.erase (it->serial);
        connections.erase (it);
    }

    //==============================================================================
    void serve (Connections::iterator it, short readyEvents)
    {
        try
        {
            if ((readyEvents & (POLLOUT | POLLERR | POLLHUP)) != 0)
                it->sendSome();

            if (! it->broken && (readyEvents & (POLLIN | POLLHUP | POLLERR)) != 0 && it->waitsForPeer())
            {
                if (it->stage == Connection::Stage::receiving)
                    receive (it);
                else
                    discard (*it);
            }

            if (it->isFinished())
                close (it);
        }
        catch (const std::bad_alloc&)
        {
            close (it);   // no memory for this connection's bytes: it alone is dropped
        }
    }

    void receive (Connections::iterator it)
    {
        auto& connection = *it;

        for (int i = 0; i < readsPerTurn && connection.stage == Connection::Stage::receiving && ! connection.broken; ++i)
        {
            const auto count = retryOnInterrupt ([&] { return ::recv (connection.handle, scratch.data(), scratch.size(), 0); });

            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;

            if (count > 0)
            {
                connection.received.append (scratch.data(), (size_t) count);
                connection.lastReceived = Clock::now();
                ++connection.reads;
            }
            else
            {
                connection.peerClosed = true;
            }

            judge (it);

            if (connection.peerClosed)
                return;
        }
    }

    /** What the bytes received so far call for. */
    void judge (Connections::iterator it)
    {
        auto& connection = *it;
        connection.frame = frameHttp (connection.received, /* isRequest */ true, connection.peerClosed, &connection.request, connection.frame);

        if (connection.frame.headBytes > 0 && ! connection.screened)
        {
            connection.screened = true;

            if (const auto status = refusalStatus (connection.request, token))
                return connection.refuse (status);
        }

        if (connection.frame.status == HttpFrame::Status::complete)
            dispatch (it);
        else if (connection.frame.status == HttpFrame::Status::failed)
            connection.broken = true;   // nobody left to answer, or nothing that can be answered
    }

    void discard (Connection& connection)
    {
        for (int i = 0; i < readsPerTurn && connection.discardLeft > 0; ++i)
        {
            const auto count = retryOnInterrupt ([&] { return ::recv (connection.handle, scratch.data(), scratch.size(), 0); });

            if (count > 0)
                connection.discardLeft -= count;
            else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                connection.peerClosed = true;

            if (count <= 0)
                return;
        }
    }

    void dispatch (Connections::iterator it)
    {
        auto& connection = *it;
        connection.stage = Connection::Stage::working;
        std::string().swap (connection.received);
        WorkQueue::Job job { connection.serial, std::move (connection.request) };

        if (queue.offer (job))
        {
            beingAnswered[connection.serial] = it;
            return;
        }

        connection.startSending (respond (job.request));
    }

    void expire (Connections::iterator it)
    {
        // A request whose head came but whose body did not is told so, if its socket takes it at once
        if (it->stage == Connection::Stage::receiving && it->screened)
        {
            it->response = utf8Of (refusalResponse (400));
            it->sendSome();
        }

        close (it);
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
    return impl->listener.getBoundPort();
}

juce::String Server::token() const
{
    return impl->token;
}
} // namespace velto::assistant
