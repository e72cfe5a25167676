// The parts of the host's server below its loop: the work queue, which is all the state that the
// loop and the workers share, and one connection with the rules of its stages. Internal to the
// module's sources.
#pragma once

#include "AssistantShared.h"
#include "AssistantDetail.h"

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <string>

namespace velto::assistant::server
{
using detail::Clock;
using detail::Sent;
using detail::after;

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
/** One client's connection, from its accept to its close, and the rules of its stages. */
struct Connection
{
    using Stage = OpenConnection::Stage;

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

    Connection (int acceptedHandle, std::uint64_t number)
        : handle (acceptedHandle), serial (number), deadline (after (requestTimeoutMs)), lastReceived (Clock::now()) {}

    bool waitsForPeer() const { return stage == Stage::receiving || stage == Stage::refusing; }

    /** Whether the loop waits on it: not while a worker answers it. */
    bool isPolled() const { return stage != Stage::working; }

    short pollEvents() const
    {
        return (short) ((waitsForPeer() && ! peerClosed ? POLLIN : 0) | (sent < response.size() ? POLLOUT : 0));
    }

    OpenConnection state() const { return { stage, received.size(), reads, lastReceived }; }

    /** Sends what the socket takes now; a connection that can take no more is broken. */
    void sendSome()
    {
        broken = broken || detail::sendSome (handle, response, sent) == Sent::failed;
    }

    /** Its answer, sent at once as far as the socket takes it: most answers fit in its buffer,
        and no turn of the loop is spent on them. An empty one (none could be made) breaks it. */
    void startSending (std::string answer)
    {
        stage = Stage::sending;
        response = std::move (answer);
        broken = response.empty();
        deadline = after (responseWriteTimeoutMs);
        sendSome();
    }

    /** The refusal with this status, sent at once; the rest of the body is then read and
        dropped, within limits, so that the client reads the refusal and not a reset. */
    void refuse (int status)
    {
        const auto bodyReceived = (juce::int64) (received.size() - frame.headBytes);
        const auto announced = frame.bodyBytes < 0 ? refusalDrainBytes : frame.bodyBytes;

        stage = Stage::refusing;
        discardLeft = std::min (refusalDrainBytes, std::max<juce::int64> (0, announced - bodyReceived));
        response = utf8Of (refusalResponse (status));
        deadline = after (refusalDrainTimeoutMs);
        std::string().swap (received);   // nothing more of it is needed
        sendSome();
    }

    bool isFinished() const
    {
        if (broken)
            return true;

        const bool allSent = sent >= response.size();

        switch (stage)
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
