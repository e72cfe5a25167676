// What only the module's own sources, this project's tests, fuzzers and benchmark use: the
// multi-line JSON of the endpoint file, the Identifiers of member names, the size of a socket
// read, and how the server weighs a connection to shed. Not part of the module's interface.
#pragma once

#include "AssistantShared.h"

#include <chrono>

namespace velto::assistant
{
/** The multi-line form of the endpoint file: two-space indent, CR LF, no final line break. */
juce::String toJsonMultiLine (const juce::var& value);

/** The Identifier of a member's name, for use where a juce::Identifier is taken. Those that
    nearly every message and endpoint file holds are made once and lent, not copied: making one
    from text looks it up in JUCE's global string pool, under a lock, which took a fifth of the
    time of an offline ping, answer and all, and each copy counts its text up and down
    atomically, which took a tenth. What it lends lives as long as the NameIdentifier: take it
    within the expression, or keep the NameIdentifier. */
class NameIdentifier
{
public:
    explicit NameIdentifier (std::string_view name);

    operator const juce::Identifier&() const noexcept { return pooled != nullptr ? *pooled : made; }

private:
    const juce::Identifier* pooled = nullptr;
    juce::Identifier made;
};

/** Bytes read from a socket at a time, where a read is not sized to what is awaited. */
inline constexpr int httpReadChunkBytes = 8192;

/** What the server knows of an open connection when a new one needs its place. */
struct OpenConnection
{
    enum class Stage
    {
        receiving,   // its request is coming in
        working,     // a worker is answering it
        sending,     // its answer is going out; then it is closed
        refusing,    // a refusal is going out while the rest of its body is dropped
    };

    Stage stage = Stage::receiving;
    size_t bytesReceived = 0;                             // of its request, so far
    int reads = 0;                                        // that brought bytes
    std::chrono::steady_clock::time_point lastReceived;   // when its last byte came, or it connected
};

/** A request still arriving, when room is needed, has come in more than one read, the last
    within this. The bridge writes its whole request at once, so a large one, read a turn at a
    time, is never this slow; a stalled or hostile client's half request came in one read, or
    has stopped. */
inline constexpr int stalledAfterMs = 100;

/** How readily an open connection gives up its place to a new one, at `now`: the server closes
    the oldest of the lowest rank there is.
    1. one being refused, or stuck halfway through its request (see stalledAfterMs): the surest
       sign of a stalled or hostile client, as the bridge writes its whole request at once;
    2. one that has sent nothing yet: it may be a bridge about to;
    3. one whose request is still arriving: most likely a bridge.
    0, never, for one whose request is being answered or whose answer is going out. */
int shedRank (const OpenConnection& connection, std::chrono::steady_clock::time_point now);
} // namespace velto::assistant
