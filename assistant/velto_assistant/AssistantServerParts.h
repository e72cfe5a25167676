// The parts of the host's server below its loop: the work queue, which is all the state that the
// loop and the workers share; the wake pipe and the listener; and one connection, which owns its
// socket and its stages. Internal to the
// module's sources.
#pragma once

#include "AssistantInternal.h"
#include "AssistantDetail.h"

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <utility>

namespace velto::assistant::server
{
using detail::Clock;
using detail::Sent;
using detail::after;
using detail::retryOnInterrupt;
using detail::receiveSome;

inline std::string utf8Of (const juce::String& text)
{
    return std::string (text.toRawUTF8(), text.getNumBytesAsUTF8());
}

/** What the loop and the workers share, and all of it, under its one lock: the requests that
    wait for a worker, and the responses made for them that wait for the loop. */
class WorkQueue
{
public:
    struct Job { std::uint64_t serial; HttpMessage request; };
    struct Done { std::uint64_t serial; std::string response; };

    /** One more worker takes jobs. */
    void workerStarted()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        ++workers;
    }

    /** Hands the job to a worker; false, keeping it, when none has started: the loop answers it. */
    bool offer (Job& job)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);

            if (workers == 0)
                return false;

            jobs.push_back (std::move (job));
        }

        jobsWaiting.notify_one();
        return true;
    }

    /** A worker's wait for its next job; false once the queue is stopped. */
    bool take (Job& job)
    {
        std::unique_lock<std::mutex> lock (mutex);
        jobsWaiting.wait (lock, [this] { return stopped || ! jobs.empty(); });

        if (stopped)
            return false;

        job = std::move (jobs.front());
        jobs.pop_front();
        return true;
    }

    void finish (Done done)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        responses.push_back (std::move (done));
    }

    std::deque<Done> takeResponses()
    {
        std::deque<Done> taken;
        const std::lock_guard<std::mutex> lock (mutex);
        taken.swap (responses);
        return taken;
    }

    /** Every worker's wait ends, with false. */
    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            stopped = true;
        }

        jobsWaiting.notify_all();
    }

    /** Once the workers are gone: requests that no worker took are dropped, as none may run
        after a restart for a client that is gone, and the queue takes jobs again. */
    void reset()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        jobs.clear();
        responses.clear();
        workers = 0;
        stopped = false;
    }

private:
    std::mutex mutex;
    std::condition_variable jobsWaiting;
    std::deque<Job> jobs;
    std::deque<Done> responses;
    int workers = 0;
    bool stopped = false;
};

//==============================================================================
/** The pipe through which the workers end the loop's wait: a byte written wakes it, and a full
    pipe wakes it just as well. */
class WakePipe
{
public:
    ~WakePipe() { close(); }

    bool open() { return platform::makeWakePipe (ends); }

    void close()
    {
        for (auto& end : ends)
            if (end >= 0)
                ::close (std::exchange (end, -1));
    }

    int readEnd() const { return ends[0]; }

    void wake() const
    {
        const char byte = 0;

        if (ends[1] >= 0)
            (void) ::write (ends[1], &byte, 1);
    }

    void drain() const
    {
        char bytes[256];

        while (::read (ends[0], bytes, sizeof (bytes)) > 0) {}
    }

private:
    int ends[2] = { -1, -1 };
};

//==============================================================================
/** The socket listening on 127.0.0.1, and the accepting of connections from it. */
class Listener
{
public:
    /** How long accepting stops after accept() failed for want of memory or descriptors. */
    static constexpr int acceptPauseMs = 10;

    ~Listener() { close(); }

    /** Listens at a port that the system picks; false when it cannot. */
    bool open()
    {
        handle = platform::listenOnLoopback();
        spare = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);
        pausedUntil = {};
        return handle >= 0;
    }

    void close()
    {
        for (auto* descriptor : { &handle, &spare })
            if (*descriptor >= 0)
                ::close (std::exchange (*descriptor, -1));
    }

    int port() const { return platform::boundPort (handle); }

    /** What poll() waits on for new connections: -1, which poll() skips, while accepting is
        paused. */
    int descriptorToPoll (Clock::time_point now) const { return now >= pausedUntil ? handle : -1; }

    /** When accepting starts again, while it is paused. */
    Clock::time_point pauseEnds() const { return pausedUntil; }

    /** The next connection waiting to be accepted, or -1 when there is none for now: none is
        waiting, or there is no descriptor or memory for it, and accepting pauses then. */
    int accept()
    {
        for (;;)
        {
            const int accepted = retryOnInterrupt ([this] { return platform::acceptConnection (handle); });

            if (accepted >= 0)
                return accepted;

            if (errno == ECONNABORTED)
                continue;

            if (errno == EMFILE || errno == ENFILE)
                shedWithoutDescriptor();
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                pausedUntil = after (acceptPauseMs);

            return -1;
        }
    }

private:
    int handle = -1;
    int spare = -1;   // given up for a moment when the process runs out of descriptors
    Clock::time_point pausedUntil {};

    /** Out of descriptors, a waiting connection would wake the loop again and again: the spare
        one makes room to accept it and close it at once. */
    void shedWithoutDescriptor()
    {
        if (spare >= 0)
            ::close (spare);

        if (const int accepted = ::accept (handle, nullptr, nullptr); accepted >= 0)
            ::close (accepted);

        spare = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);

        if (spare < 0)
            pausedUntil = after (acceptPauseMs);
    }
};

//==============================================================================
/** One client's connection, from its accept to its close. It owns its descriptor, which it
    closes when it goes, and its stages, which only it changes: the loop tells it what poll()
    found, or that its time is up, and each call says what the loop must do next. */
class Connection
{
public:
    using Stage = OpenConnection::Stage;

    enum class Next
    {
        wait,       // nothing: poll it again
        dispatch,   // its request is whole: takeRequest(), and answer() it once answered
        close,      // it is done, or can go no further: destroy it
    };

    /** Reads of one connection in one turn: a 1 MiB body comes in a few turns, not a hundred. */
    static constexpr int readsPerTurn = 16;

    Connection (int acceptedHandle, std::uint64_t number)
        : handle (acceptedHandle), serial (number), deadline (after (requestTimeoutMs))
    {
        state.lastReceived = Clock::now();
    }

    ~Connection() { ::close (handle); }

    Connection (const Connection&) = delete;
    Connection& operator= (const Connection&) = delete;

    /** Acts on what poll() found for it: sends what waits to go, then reads what came, and
        refuses its request with the status that refusalStatus gives it against `token` once
        the head is in. */
    Next serve (short readyEvents, const juce::String& token)
    {
        if ((readyEvents & (POLLOUT | POLLERR | POLLHUP)) != 0)
            sendSome();

        if (! broken && (readyEvents & (POLLIN | POLLHUP | POLLERR)) != 0)
        {
            if (state.stage == Stage::receiving && receive (token))
                return Next::dispatch;

            if (state.stage == Stage::refusing)
                discard();
        }

        return isFinished() ? Next::close : Next::wait;
    }

    /** The whole request, once serve() said dispatch: it is then with a worker until answer(). */
    HttpMessage takeRequest()
    {
        state.stage = Stage::working;
        std::string().swap (received);   // nothing more of it is needed
        return std::move (request);
    }

    /** Its answer, sent at once as far as the socket takes it: most answers fit in its buffer,
        and no turn of the loop is spent on them. An empty one (none could be made) ends it. */
    Next answer (std::string answerBytes)
    {
        state.stage = Stage::sending;
        response = std::move (answerBytes);
        broken = response.empty();
        deadline = after (responseWriteTimeoutMs);
        sendSome();
        return isFinished() ? Next::close : Next::wait;
    }

    /** Its deadline has passed: it goes. A request whose head came but whose body did not is
        told so first, if its socket takes that at once. */
    Next expire()
    {
        if (state.stage == Stage::receiving && screened)
        {
            response = utf8Of (refusalResponse (400));
            sent = 0;
            sendSome();
        }

        return Next::close;
    }

    std::uint64_t number() const { return serial; }
    const OpenConnection& stateForShedding() const { return state; }
    Clock::time_point due() const { return deadline; }

    /** Whether the loop waits on it: not while a worker answers it. */
    bool isPolled() const { return state.stage != Stage::working; }

    pollfd waitFor() const
    {
        const bool waitsForPeer = (state.stage == Stage::receiving || state.stage == Stage::refusing) && ! peerClosed;
        return { handle, (short) ((waitsForPeer ? POLLIN : 0) | (sent < response.size() ? POLLOUT : 0)), 0 };
    }

private:
    const int handle;
    const std::uint64_t serial;
    Clock::time_point deadline;
    OpenConnection state;            // what shedding weighs: its stage, and how its request comes in

    std::string received;
    HttpMessage request;
    HttpFrame frame;
    bool screened = false;           // refusalStatus has seen the head

    std::string response;
    size_t sent = 0;
    juce::int64 discardLeft = 0;     // refusing: body bytes still to read and drop
    bool peerClosed = false;
    bool broken = false;             // a send failed, or there is nothing to answer: close it

    /** Sends what the socket takes now; a connection that can take no more is broken. */
    void sendSome()
    {
        broken = broken || detail::sendSome (handle, response, sent) == Sent::failed;
    }

    /** Reads what came, a few reads at most, and judges it after each: true once the request
        is whole. */
    bool receive (const juce::String& token)
    {
        for (int i = 0; i < readsPerTurn && state.stage == Stage::receiving && ! broken && ! peerClosed; ++i)
        {
            const auto size = received.size();
            received.resize (size + (size_t) httpReadChunkBytes);
            const auto count = receiveSome (handle, received.data() + size, (size_t) httpReadChunkBytes);
            received.resize (size + (size_t) std::max (0L, count));

            if (count == 0)
                return false;

            if (count > 0)
            {
                state.bytesReceived = received.size();
                state.lastReceived = Clock::now();
                ++state.reads;
            }

            peerClosed = count < 0;
            frame = frameHttp (received, /* isRequest */ true, peerClosed, &request, frame);

            if (frame.headBytes > 0 && ! screened)
            {
                screened = true;

                if (const auto status = refusalStatus (request, token))
                {
                    refuse (status);
                    return false;
                }
            }

            if (frame.status == HttpFrame::Status::complete)
                return true;

            broken = frame.status == HttpFrame::Status::failed;   // nothing that can be answered
        }

        return false;
    }

    /** The refusal with this status, sent at once; the rest of the body is then read and
        dropped, within limits, so that the client reads the refusal and not a reset. */
    void refuse (int status)
    {
        const auto bodyReceived = (juce::int64) (received.size() - frame.headBytes);
        const auto announced = frame.bodyBytes < 0 ? refusalDrainBytes : frame.bodyBytes;

        state.stage = Stage::refusing;
        discardLeft = std::min (refusalDrainBytes, std::max<juce::int64> (0, announced - bodyReceived));
        response = utf8Of (refusalResponse (status));
        deadline = after (refusalDrainTimeoutMs);
        std::string().swap (received);
        sendSome();
    }

    void discard()
    {
        char dropped[httpReadChunkBytes];

        for (int i = 0; i < readsPerTurn && discardLeft > 0; ++i)
        {
            const auto count = receiveSome (handle, dropped, sizeof (dropped));
            discardLeft -= std::max (0L, count);
            peerClosed = peerClosed || count < 0;

            if (count <= 0)
                return;
        }
    }

    bool isFinished() const
    {
        if (broken)
            return true;

        const bool allSent = sent >= response.size();

        switch (state.stage)
        {
            case Stage::receiving: return peerClosed;
            case Stage::working:   return false;
            case Stage::sending:   return allSent;
            case Stage::refusing:  return allSent && (discardLeft <= 0 || peerClosed);
        }

        return true;
    }
};

using Connections = std::list<Connection>;   // in the order they came: the front is the oldest
} // namespace velto::assistant::server
