// An in-memory Velto project behind the six tools, for the reference host: tempo, a 4/4 bar,
// a transport that moves in real time, MIDI and audio tracks with clips, returns and a master.
#pragma once

#include <velto_assistant/velto_assistant.h>

#include <chrono>
#include <mutex>
#include <optional>

namespace velto::host
{
class DemoSession
{
public:
    using Clock = std::chrono::steady_clock;

    DemoSession();

    /** The JSON-RPC answer to one message (an object): void for notifications. Tool calls run
        here; everything else gets answerProtocol's answer, the same as the bridge gives by
        itself. Thread-safe. */
    juce::var answer (const juce::var& message);

    /** A tool call's result (content and isError), at the given moment. Thread-safe. */
    juce::var callTool (const juce::String& name, const juce::var& arguments, Clock::time_point now);

private:
    struct Note { int pitch; double startBeat; double lengthBeats; int velocity; };
    struct Clip { int id; double startBar; double lengthBars; std::vector<Note> notes; juce::String file; double gainDb = 0; };
    struct Plugin { juce::String name; bool generatesNotes; };
    struct Track
    {
        int id; juce::String name, kind, input, output, monitoring;
        bool armed, muted, soloed; double volumeDb, pan;
        std::vector<Plugin> plugins; std::vector<std::pair<juce::String, double>> sends; juce::String eq;
        std::vector<Clip> clips;
    };

    // Transport, in beats from the song start (beat 0 = bar 1)
    struct Transport
    {
        bool playing = false;
        double insertMarkerBeat = 0;
        double startBeat = 0;                 // where the current playback started
        Clock::time_point startedAt {};
        std::optional<double> stopAfterBeats; // of playback, counted from the start
        bool loopOn = false;
        double loopStartBeat = 0, loopEndBeat = 16;
    };

    // Fixed once made, and read by any thread
    const double tempo = 120.0;
    const int beatsPerBar = 4;
    std::vector<Track> tracks, returns;
    Track master;

    // Moved by the transport tools, one call at a time
    std::mutex transportMutex;
    Transport transport;

    /** Bars count from 1 and beats from 0, at the start of the song: one place converts them. */
    double barOf (double beat) const { return 1.0 + beat / beatsPerBar; }
    double beatOf (double bar) const { return (bar - 1.0) * beatsPerBar; }

    double beatsPlayed (Clock::time_point now) const;
    double positionBeat (Clock::time_point now);
    void settle (Clock::time_point now);
    const Track* findTrack (const juce::String& nameOrId) const;
    /** The track that the "track" argument names; null with `error` set when none does. */
    const Track* trackArgument (const juce::var& arguments, const char* what, juce::String& error) const;

    juce::var transportState (Clock::time_point now);
    juce::var describeSession (Clock::time_point now);
    juce::var describeTrack (const juce::var& arguments);
    juce::var getNotes (const juce::var& arguments);
    juce::var play (const juce::var& arguments, Clock::time_point now);
    juce::var setLoop (const juce::var& arguments);
    juce::var stop (Clock::time_point now);
};
} // namespace velto::host
