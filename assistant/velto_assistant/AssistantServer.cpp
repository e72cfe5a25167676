// The host's side: the answer to one request, decided from values, and the server that reads
// requests and writes answers for it in fixed resources.
#include "AssistantShared.h"
#include "AssistantPlatform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include <poll.h>
#include <sys/resource.h>

namespace velto::assistant
{
namespace
{
juce::String jsonResponse (int status, const juce::String& json)
{
    return httpResponse (status, json, "application/json");
}

//==============================================================================
// Fitting an answer into what the bridge reads

/** The largest number a stand-in names, so that its size is known before it is written. */
constexpr juce::int64 largestNamedBytes = 999999999999;

/** The short reply that takes the place of one that does not fit. A tool call has already run
    by then, so its stand-in says so: a transport tool's effect must not look undone. Void for
    a notification, which has no reply to stand in for. */
juce::var standIn (const juce::var& element, juce::int64 replyBytes)
{
    const auto* request = element.getDynamicObject();

    if (request == nullptr || ! request->hasProperty ("id"))
        return {};

    const auto size = juce::String (replyBytes) + " bytes, where one answer carries at most "
                    + juce::String (maxHttpBodyBytes) + " with the other replies of its batch";
    const auto id = request->getProperty ("id");

    if (request->getProperty ("method") == juce::var ("tools/call"))
        return rpcResult (id, toolText ("The tool ran, but its result is too large to send back (" + size
                                            + "). Ask for less, for example a narrower range or one item, "
                                              "or call the tool on its own.", true));

    return rpcError (id, -32603, "The answer is too large to send back (" + size + "). Send this request on its own.");
}

/** The body of a 200 answer to `message` (an object, or a batch array) that fits in
    maxHttpBodyBytes; empty when nothing is due. When even the stand-ins could not fit,
    `refusal` gets the JSON of a 413's body instead, and nothing has run. */
juce::String fittedReplies (const juce::var& message, const MessageHandler& answerOne, juce::String& refusal)
{
    const auto* batch = message.getArray();
    const juce::Array<juce::var> single { message };
    const auto& elements = batch != nullptr ? *batch : single;

    // A batch's body is "[" + replies joined by ", " + "]"; one message's is its reply alone
    const size_t separatorBytes = batch != nullptr ? 2 : 0;
    size_t used = batch != nullptr ? 2 : 0;

    // Room kept for every stand-in, each with a separator
    std::vector<size_t> standInBytes ((size_t) elements.size(), 0);
    size_t reserved = 0;

    for (int i = 0; i < elements.size(); ++i)
    {
        if (const auto reply = standIn (elements.getReference (i), largestNamedBytes); ! reply.isVoid())
            standInBytes[(size_t) i] = toJson (reply).getNumBytesAsUTF8() + separatorBytes;

        reserved += standInBytes[(size_t) i];

        if (used + reserved > (size_t) maxHttpBodyBytes)
        {
            refusal = toJson (rpcError ({}, -32600, "This batch holds more requests than one answer can carry: "
                                                    "send them in smaller batches."));
            return {};
        }
    }

    juce::StringArray replies;

    for (int i = 0; i < elements.size(); ++i)
    {
        reserved -= standInBytes[(size_t) i];
        const auto reply = answerOne (elements.getReference (i));

        if (reply.isVoid())
            continue;

        auto text = toJson (reply);
        const auto separator = replies.isEmpty() ? 0 : separatorBytes;

        if (used + separator + text.getNumBytesAsUTF8() + reserved > (size_t) maxHttpBodyBytes)
        {
            const auto substitute = standIn (elements.getReference (i), (juce::int64) text.getNumBytesAsUTF8());

            if (substitute.isVoid())
                continue;

            text = toJson (substitute);
        }

        used += separator + text.getNumBytesAsUTF8();
        replies.add (text);
    }

    if (replies.isEmpty())
        return {};

    return batch != nullptr ? "[" + replies.joinIntoString (", ") + "]" : replies[0];
}
} // namespace

juce::String answerRequest (const HttpMessage& request, const juce::String& token, const MessageHandler& answerOne)
{
    if (const auto status = refusalStatus (request, token))
        return refusalResponse (status);

    juce::var message;

    if (! parseJson (request.body, message))
        return jsonResponse (400, toJson (rpcError ({}, -32700, "Parse error")));

    juce::String refusal;
    const auto body = fittedReplies (message, answerOne, refusal);

    if (refusal.isNotEmpty())
        return jsonResponse (413, refusal);

    // Nothing due (notifications only): accepted, with no body
    return body.isEmpty() ? httpResponse (202, {}, {}) : jsonResponse (200, body);
}

//==============================================================================
// The server: one thread waits on every connection with poll(); workers answer whole requests.

namespace
{
using Clock = std::chrono::steady_clock;

/** Connections taken from the listener in one turn of the loop, so that a flood of them cannot
    keep the loop from the connections it has. */
constexpr int acceptsPerTurn = 256;
/** Reads of one connection in one turn: a 1 MiB body comes in a few turns, not a hundred. */
constexpr int readsPerTurn = 16;
/** How long the loop stops accepting after accept() failed for want of memory. */
constexpr int acceptPauseMs = 10;
/** The longest poll() waits without a deadline due, to look at the stop flag even so. */
constexpr int longestWaitMs = 1000;
/** A request halfway in is still arriving, when room is needed, while it has come in more than
    one read and its last byte came within this. The bridge writes its whole request at once, so
    a large one of its requests, read a turn at a time, is never this slow; a stalled or hostile
    client's half request came in one read, or has stopped. */
constexpr int stalledAfterMs = 100;

std::string utf8Of (const juce::String& text)
{
    return std::string (text.toRawUTF8(), text.getNumBytesAsUTF8());
}

/** A connection limit that leaves most descriptors to the application that runs the server. */
int connectionLimitForThisProcess()
{
    rlimit limit {};

    if (::getrlimit (RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return maxOpenConnections;

    return (int) std::clamp<rlim_t> (limit.rlim_cur / 4, 8, (rlim_t) maxOpenConnections);
}
} // namespace

struct Server::Impl
{
    struct Connection
    {
        enum class Stage
        {
            receiving,   // the request is coming in
            working,     // a worker is answering it
            sending,     // its answer is going out; then it is closed
            refusing,    // a refusal is going out while the rest of the body is dropped
        };

        int handle = -1;
        std::uint64_t serial = 0;
        Stage stage = Stage::receiving;
        Clock::time_point deadline;
        Clock::time_point lastReceived;  // when its last byte came, or it connected
        int reads = 0;                   // that brought bytes

        std::string received;
        HttpMessage request;
        HttpFrame frame;
        bool screened = false;           // refusalStatus has seen the head

        std::string response;
        size_t sent = 0;
        juce::int64 discardLeft = 0;     // refusing: body bytes still to read and drop
        bool peerClosed = false;
        bool broken = false;             // a send failed, or there is nothing to answer: close it

        bool waitingForPeer() const { return stage == Stage::receiving || stage == Stage::refusing; }
    };

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

    // Between the loop and the workers
    struct Job { std::uint64_t serial; HttpMessage request; };
    struct Answer { std::uint64_t serial; std::string response; };
    std::mutex mutex;
    std::condition_variable jobsWaiting;
    std::deque<Job> jobs;
    std::deque<Answer> answers;

    // The loop's own: connections in the order they came, so the front is the oldest
    std::list<Connection> connections;
    std::unordered_map<std::uint64_t, std::list<Connection>::iterator> beingAnswered;
    std::uint64_t nextSerial = 0;
    Clock::time_point acceptPausedUntil {};
    std::vector<char> scratch = std::vector<char> ((size_t) httpReadChunkBytes);

    //==============================================================================
    /** On a stopped server: what stop() left is cleared, so a server switched off and on again
        answers again. */
    bool start()
    {
        stopping = false;
        acceptPausedUntil = {};

        if (! listener.createListener (0, "127.0.0.1")
            || ! platform::setDescriptorFlags (listener.getRawSocketHandle(), true)
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
                const std::lock_guard<std::mutex> lock (mutex);
                workers.emplace_back ([this] { work(); });
            }
            catch (const std::system_error&)
            {
                break;
            }
        }

        return true;
    }

    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            stopping = true;
        }

        jobsWaiting.notify_all();
        wakeLoop();

        if (loopThread.joinable())
            loopThread.join();

        for (auto& worker : workers)
            worker.join();

        // Requests that no worker took are dropped with their connections: none may run after
        // a restart, for a client that is gone
        workers.clear();
        jobs.clear();
        answers.clear();
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
        for (;;)
        {
            Job job;

            {
                std::unique_lock<std::mutex> lock (mutex);
                jobsWaiting.wait (lock, [this] { return stopping || ! jobs.empty(); });

                if (stopping)
                    return;

                job = std::move (jobs.front());
                jobs.pop_front();
            }

            auto response = answer (job.request);

            {
                const std::lock_guard<std::mutex> lock (mutex);
                answers.push_back ({ job.serial, std::move (response) });
            }

            wakeLoop();
        }
    }

    /** Nothing that a handler throws may end the server: the client gets a 500 instead. */
    std::string answer (const HttpMessage& request) const
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

    void loop()
    {
        std::vector<pollfd> waits;
        std::vector<std::list<Connection>::iterator> waited;

        while (! stopping)
        {
            try
            {
                turn (waits, waited);
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

    void turn (std::vector<pollfd>& waits, std::vector<std::list<Connection>::iterator>& waited)
    {
        auto now = Clock::now();
        waits.clear();
        waited.clear();
        waits.push_back ({ wake[0], POLLIN, 0 });
        waits.push_back ({ now >= acceptPausedUntil ? listener.getRawSocketHandle() : -1, POLLIN, 0 });
        auto nextDeadline = now + std::chrono::milliseconds (longestWaitMs);

        for (auto it = connections.begin(); it != connections.end(); ++it)
        {
            if (it->stage == Connection::Stage::working)
                continue;

            short events = 0;

            if (it->waitingForPeer() && ! it->peerClosed)
                events |= POLLIN;

            if (it->sent < it->response.size())
                events |= POLLOUT;

            waits.push_back ({ it->handle, events, 0 });
            waited.push_back (it);
            nextDeadline = std::min (nextDeadline, it->deadline);
        }

        if (acceptPausedUntil > now)
            nextDeadline = std::min (nextDeadline, acceptPausedUntil);

        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds> (std::max (nextDeadline - now, Clock::duration::zero()));

        if (::poll (waits.data(), (nfds_t) waits.size(), (int) waitMs.count()) < 0 && errno != EINTR)
            return;

        // Each step may close connections; none may close one that a later step still holds
        for (size_t i = 0; i < waited.size(); ++i)
            if (waits[i + 2].revents != 0)
                serve (waited[i], waits[i + 2].revents);

        if (waits[0].revents != 0)
            takeAnswers();

        // Deadlines after anything that came in time was taken; new connections last, as they
        // may take the place of old ones
        now = Clock::now();

        for (auto it = connections.begin(); it != connections.end();)
        {
            const auto next = std::next (it);

            if (it->stage != Connection::Stage::working && it->deadline <= now)
                expire (it);

            it = next;
        }

        if (waits[1].revents != 0)
            acceptConnections();
    }

    void takeAnswers()
    {
        while (::read (wake[0], scratch.data(), scratch.size()) > 0) {}

        std::deque<Answer> taken;

        {
            const std::lock_guard<std::mutex> lock (mutex);
            taken.swap (answers);
        }

        for (auto& answer : taken)
        {
            const auto found = beingAnswered.find (answer.serial);

            if (found == beingAnswered.end())
                continue;

            const auto it = found->second;
            beingAnswered.erase (found);
            startSending (*it, std::move (answer.response));

            if (isFinished (*it))
                close (it);
        }
    }

    void acceptConnections()
    {
        for (int i = 0; i < acceptsPerTurn; ++i)
        {
            const int handle = platform::acceptConnection (listener.getRawSocketHandle());

            if (handle < 0)
            {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;

                if (errno == EMFILE || errno == ENFILE)
                    shedConnectionWithoutDescriptor();
                else if (errno != EAGAIN && errno != EWOULDBLOCK)
                    acceptPausedUntil = Clock::now() + std::chrono::milliseconds (acceptPauseMs);

                return;
            }

            if ((int) connections.size() >= connectionLimit && ! makeRoom())
            {
                ::close (handle);   // every place is taken by a request being answered
                continue;
            }

            try
            {
                auto& connection = connections.emplace_back();
                connection.handle = handle;
                connection.serial = nextSerial++;
                connection.lastReceived = Clock::now();
                connection.deadline = connection.lastReceived + std::chrono::milliseconds (requestTimeoutMs);
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
            acceptPausedUntil = Clock::now() + std::chrono::milliseconds (acceptPauseMs);
    }

    /** Makes room for a new connection by closing, the oldest first: one being refused or stuck
        halfway through its request (see stalledAfterMs); else one that has sent nothing yet;
        else one whose request is still arriving. The bridge sends its whole
        request in one write as soon as it has connected: a request stuck halfway is the surest
        sign of a stalled or hostile client, a connection that has sent nothing may be a bridge
        about to, and one that is sending is most likely a bridge. False when every place holds
        a request that is being answered. */
    bool makeRoom()
    {
        const auto stalledSince = Clock::now() - std::chrono::milliseconds (stalledAfterMs);
        auto silent = connections.end(), arriving = connections.end();

        for (auto it = connections.begin(); it != connections.end(); ++it)
        {
            if (! it->waitingForPeer())
                continue;

            const bool arrivingNow = it->reads > 1 && it->lastReceived > stalledSince;

            if (it->stage == Connection::Stage::refusing || (! it->received.empty() && ! arrivingNow))
            {
                close (it);
                return true;
            }

            auto& firstOfItsKind = it->received.empty() ? silent : arriving;

            if (firstOfItsKind == connections.end())
                firstOfItsKind = it;
        }

        for (const auto candidate : { silent, arriving })
        {
            if (candidate != connections.end())
            {
                close (candidate);
                return true;
            }
        }

        return false;
    }

    void close (std::list<Connection>::iterator it)
    {
        ::close (it->handle);
        beingAnswered.erase (it->serial);
        connections.erase (it);
    }

    //==============================================================================
    void serve (std::list<Connection>::iterator it, short revents)
    {
        try
        {
            if ((revents & (POLLOUT | POLLERR | POLLHUP)) != 0)
                sendSome (*it);

            if (! it->broken && (revents & (POLLIN | POLLHUP | POLLERR)) != 0 && it->waitingForPeer())
            {
                if (it->stage == Connection::Stage::receiving)
                    receive (it);
                else
                    discard (*it);
            }

            if (isFinished (*it))
                close (it);
        }
        catch (const std::bad_alloc&)
        {
            close (it);   // no memory for this connection's bytes: it alone is dropped
        }
    }

    void receive (std::list<Connection>::iterator it)
    {
        auto& connection = *it;

        for (int i = 0; i < readsPerTurn && connection.stage == Connection::Stage::receiving && ! connection.broken; ++i)
        {
            const auto count = ::recv (connection.handle, scratch.data(), scratch.size(), 0);

            if (count < 0 && errno == EINTR)
                continue;

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
    void judge (std::list<Connection>::iterator it)
    {
        auto& connection = *it;
        connection.frame = frameHttp (connection.received, true, connection.peerClosed, &connection.request, connection.frame);

        if (connection.frame.headBytes > 0 && ! connection.screened)
        {
            connection.screened = true;

            if (const auto status = refusalStatus (connection.request, token))
                return refuse (connection, status);
        }

        if (connection.frame.status == HttpFrame::Status::complete)
            dispatch (it);
        else if (connection.frame.status == HttpFrame::Status::failed)
            connection.broken = true;   // nobody left to answer, or nothing that can be answered
    }

    void refuse (Connection& connection, int status)
    {
        const auto bodyReceived = (juce::int64) (connection.received.size() - connection.frame.headBytes);
        const auto announced = connection.frame.bodyBytes < 0 ? refusalDrainBytes : connection.frame.bodyBytes;

        connection.stage = Connection::Stage::refusing;
        connection.discardLeft = std::min (refusalDrainBytes, std::max<juce::int64> (0, announced - bodyReceived));
        connection.response = utf8Of (refusalResponse (status));
        connection.deadline = Clock::now() + std::chrono::milliseconds (refusalDrainTimeoutMs);
        std::string().swap (connection.received);   // nothing more of it is needed
        sendSome (connection);
    }

    void discard (Connection& connection)
    {
        for (int i = 0; i < readsPerTurn && connection.discardLeft > 0; ++i)
        {
            const auto count = ::recv (connection.handle, scratch.data(), scratch.size(), 0);

            if (count > 0)
                connection.discardLeft -= count;
            else if (count == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                connection.peerClosed = true;

            if (count <= 0)
                return;
        }
    }

    void dispatch (std::list<Connection>::iterator it)
    {
        auto& connection = *it;
        connection.stage = Connection::Stage::working;
        std::string().swap (connection.received);

        {
            const std::lock_guard<std::mutex> lock (mutex);

            if (! workers.empty())
            {
                jobs.push_back ({ connection.serial, std::move (connection.request) });
                beingAnswered[connection.serial] = it;
                jobsWaiting.notify_one();
                return;
            }
        }

        startSending (connection, answer (connection.request));
    }

    void startSending (Connection& connection, std::string response)
    {
        connection.stage = Connection::Stage::sending;
        connection.response = std::move (response);
        connection.broken = connection.response.empty();
        connection.deadline = Clock::now() + std::chrono::milliseconds (responseWriteTimeoutMs);

        // Most answers fit in the socket's buffer at once: no turn of the loop is spent on them
        sendSome (connection);
    }

    /** Sends what the socket takes now; a connection that cannot take any more is broken. */
    static void sendSome (Connection& connection)
    {
        while (connection.sent < connection.response.size())
        {
            const auto count = ::send (connection.handle, connection.response.data() + connection.sent,
                                       connection.response.size() - connection.sent, platform::sendFlags);

            if (count > 0)
                connection.sent += (size_t) count;
            else if (count < 0 && errno == EINTR)
                continue;
            else
            {
                connection.broken = ! (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
                return;
            }
        }
    }

    static bool isFinished (const Connection& connection)
    {
        const bool allSent = connection.sent >= connection.response.size();

        if (connection.broken)
            return true;

        switch (connection.stage)
        {
            case Connection::Stage::receiving: return connection.peerClosed;
            case Connection::Stage::working:   return false;
            case Connection::Stage::sending:   return allSent;
            case Connection::Stage::refusing:  return allSent && (connection.discardLeft <= 0 || connection.peerClosed);
        }

        return true;
    }

    void expire (std::list<Connection>::iterator it)
    {
        // A request whose head came but whose body did not is told so, if its socket takes it at once
        if (it->stage == Connection::Stage::receiving && it->screened)
        {
            it->response = utf8Of (refusalResponse (400));
            sendSome (*it);
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
