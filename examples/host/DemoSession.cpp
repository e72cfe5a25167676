#include "DemoSession.h"

#include <cmath>

namespace velto::host
{
namespace
{
using namespace velto::assistant;

constexpr int maxNotesReturned = 2000;

juce::var failure (const juce::String& text)
{
    return toolText (text, true);
}

juce::var success (const juce::var& details)
{
    return toolText (toJson (details), false);
}

/** Middle C (MIDI 60) is C3, as Velto shows it. */
juce::String noteName (int pitch)
{
    static const char* names[] = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };
    return juce::String (names[pitch % 12]) + juce::String (pitch / 12 - 2);
}

/** Bars lie from 1 to this: far past any song, and a position that stays finite. */
constexpr double lastBar = 10000;
/** Clip ids, like track ids, are positive 32-bit numbers. */
constexpr juce::int64 largestId = 0x7fffffff;

/** A value as the client sent it, for an error text: a string as itself, anything else as its
    JSON, never as an address; cut short when long. */
juce::String clientText (const juce::var& value)
{
    constexpr int longestEcho = 200;
    const auto text = value.isString() ? value.toString() : toJson (value);
    return text.length() > longestEcho ? text.substring (0, longestEcho) + "..." : text;
}

bool isNumber (const juce::var& v) { return v.isInt() || v.isInt64() || v.isDouble(); }

/** An integer argument in [lowest, highest]: a JSON integer, or a number with nothing after the
    point. Anything else, a value beyond 64 bits among them, is out of range, never wrapped. */
std::optional<juce::int64> integerIn (const juce::var& value, juce::int64 lowest, juce::int64 highest)
{
    if (value.isInt() || value.isInt64())
    {
        const auto number = (juce::int64) value;
        return number >= lowest && number <= highest ? std::optional<juce::int64> (number) : std::nullopt;
    }

    if (value.isDouble())
    {
        const auto number = (double) value;

        if (std::floor (number) == number && number >= (double) lowest && number <= (double) highest)
            return (juce::int64) number;
    }

    return std::nullopt;
}

/** Reads an optional bar argument: absent is fine, anything but a number from 1 to lastBar is an error. */
bool readBar (const juce::var& arguments, const char* name, std::optional<double>& bar, juce::String& error)
{
    const auto value = arguments.getProperty (name, juce::var::undefined());

    if (value.isUndefined())
        return true;

    if (! isNumber (value) || ! std::isfinite ((double) value) || (double) value < 1.0 || (double) value > lastBar)
    {
        error = juce::String (name) + " must be a bar number from 1 to " + juce::String ((int) lastBar);
        return false;
    }

    bar = (double) value;
    return true;
}
} // namespace

DemoSession::DemoSession()
{
    auto riff = [this] (int root, double startBeat, int bars)
    {
        std::vector<Note> notes;
        const int steps[] = { 0, 7, 12, 7 };
        for (int beat = 0; beat < bars * beatsPerBar; ++beat)
            notes.push_back ({ root + steps[beat % 4], startBeat + beat, 0.5, 90 + (beat % 3) * 10 });
        return notes;
    };

    std::vector<Note> dense;   // more notes than one answer carries
    for (int i = 0; i < 2400; ++i)
        dense.push_back ({ 72 + (i % 12), 32.0 + i * 0.0625, 0.0625, 64 });

    tracks = {
        { 1, "Drums", "audio", "none", "Master", "Auto", false, false, false, -3.0, 0.0, { { "Compressor", false } },
          { { "Reverb", -18.0 } }, "low cut 40 Hz", { { 1, 1, 8, {}, "drums_loop.wav", -1.5 } } },
        { 2, "Bass", "midi", "All MIDI inputs", "Master", "Auto", false, false, false, -6.0, 0.0,
          { { "Bass Synth", false } }, {}, "flat", { { 2, 1, 4, riff (36, 0, 4) }, { 3, 5, 4, riff (41, 16, 4) } } },
        { 3, "Arp", "midi", "Bass", "Master", "In", false, false, false, -8.0, -0.3,
          { { "Arpeggiator", true }, { "Pluck", false } }, { { "Delay", -12.0 } }, "high shelf +2 dB", {} },
        { 4, "Keys", "midi", "All MIDI inputs", "Master", "Auto", true, false, false, -4.5, 0.2,
          { { "Electric Piano", false } }, { { "Reverb", -10.0 } }, "flat", { { 4, 9, 10, dense } } },
        { 5, "Vocal", "audio", "Input 1", "Master", "Off", false, true, false, -2.0, 0.0, { { "EQ", false } },
          { { "Reverb", -8.0 } }, "presence +3 dB", { { 5, 9, 8, {}, "vocal_take3.wav", 0.0 } } },
    };

    returns = {
        { 101, "Reverb", "return", "sends", "Master", "In", false, false, false, -6.0, 0.0, { { "Hall Reverb", false } }, {}, "flat", {} },
        { 102, "Delay", "return", "sends", "Master", "In", false, false, false, -9.0, 0.0, { { "Tape Delay", false } }, {}, "flat", {} },
    };

    master = { 0, "Master", "master", "mix", "Output 1/2", "In", false, false, false, 0.0, 0.0, { { "Limiter", false } }, {}, "flat", {} };
}

//==============================================================================
double DemoSession::beatsPlayed (Clock::time_point now) const
{
    return std::chrono::duration<double> (now - transport.startedAt).count() * tempo / 60.0;
}

/** Stops a playback whose end has come, as Velto would have on its own. */
void DemoSession::settle (Clock::time_point now)
{
    if (transport.playing && transport.stopAfterBeats && beatsPlayed (now) >= *transport.stopAfterBeats)
        transport.playing = false;   // the playhead goes back to the insert marker
}

double DemoSession::positionBeat (Clock::time_point now)
{
    settle (now);

    if (! transport.playing)
        return transport.insertMarkerBeat;

    const double position = transport.startBeat + beatsPlayed (now);
    const double loopLength = transport.loopEndBeat - transport.loopStartBeat;

    if (transport.loopOn && transport.startBeat < transport.loopEndBeat && position >= transport.loopEndBeat && loopLength > 0)
        return transport.loopStartBeat + std::fmod (position - transport.loopEndBeat, loopLength);

    return position;
}

const DemoSession::Track* DemoSession::findTrack (const juce::String& nameOrId) const
{
    const auto text = nameOrId.trim();

    if (text.equalsIgnoreCase ("master"))
        return &master;

    // An id is compared as the digits it is, so "4294967297" is no id here rather than 1
    const auto id = text.containsOnly ("0123456789") && text.length() <= 9 ? text.getIntValue() : -1;

    for (const auto* list : { &tracks, &returns })
        for (const auto& track : *list)
            if (track.name.equalsIgnoreCase (text) || track.id == id)
                return &track;

    return nullptr;
}

const DemoSession::Track* DemoSession::trackArgument (const juce::var& arguments, const char* what, juce::String& error) const
{
    const auto value = arguments.getProperty ("track", juce::var::undefined());

    if (value.isUndefined() || (value.isString() && value.toString().trim().isEmpty()))
    {
        error = "Missing argument: track (" + juce::String (what) + ")";
        return nullptr;
    }

    // The schema says a string; a number is taken as the id it plainly means
    const auto asId = integerIn (value, 0, largestId);

    if (! value.isString() && ! asId)
    {
        error = "track must be " + juce::String (what) + ", as a string, not " + clientText (value);
        return nullptr;
    }

    const auto* track = findTrack (value.isString() ? value.toString() : juce::String (*asId));

    if (track == nullptr)
        error = "No track named or numbered \"" + clientText (value) + "\"";

    return track;
}

//==============================================================================
juce::var DemoSession::answer (const juce::var& message)
{
    // Everything but a tool call is answered by the module's answerProtocol, as the bridge
    // answers it by itself: the same handshake, ping, catalogue and errors
    if (! expectsReply (message) || ! isToolCall (message))
        return answerProtocol (message);

    const auto id = message.getProperty ("id", {});
    const auto params = message.getProperty ("params", {});
    const auto name = params.getProperty ("name", {});
    const auto arguments = params.getProperty ("arguments", juce::var (new juce::DynamicObject()));

    // An array is no arguments object, though juce::var calls both objects
    if (params.getDynamicObject() == nullptr || ! name.isString())
        return rpcResult (id, failure ("params must be an object with the tool's name as a string"));

    if (arguments.getDynamicObject() == nullptr)
        return rpcResult (id, failure ("arguments must be an object, not " + clientText (arguments)));

    return rpcResult (id, callTool (name.toString(), arguments, Clock::now()));
}

juce::var DemoSession::callTool (const juce::String& name, const juce::var& arguments, Clock::time_point now)
{
    // The tracks never change: reading them needs no lock, so a long list of notes holds up
    // no other call
    if (name == "describe_track")   return describeTrack (arguments);
    if (name == "get_notes")        return getNotes (arguments);

    const std::lock_guard<std::mutex> lock (transportMutex);

    if (name == "describe_session") return describeSession (now);
    if (name == "play")             return play (arguments, now);
    if (name == "set_loop")         return setLoop (arguments);
    if (name == "stop")             return stop (now);

    return failure ("Unknown tool: " + clientText (name));
}

//==============================================================================
juce::var DemoSession::transportState (Clock::time_point now)
{
    const double beat = positionBeat (now);
    return jsonObject ({ { "playing", transport.playing },
                     { "recording", false },
                     { "position_bar", barOf (beat) },
                     { "position_beats", beat },
                     { "loop", jsonObject ({ { "on", transport.loopOn },
                                         { "from_bar", barOf (transport.loopStartBeat) },
                                         { "to_bar", barOf (transport.loopEndBeat) } }) } });
}

juce::var DemoSession::describeSession (Clock::time_point now)
{
    auto summary = [] (const Track& track)
    {
        juce::Array<juce::var> plugins;
        for (const auto& plugin : track.plugins)
            plugins.add (jsonObject ({ { "name", plugin.name }, { "generates_notes", plugin.generatesNotes } }));

        return jsonObject ({ { "id", track.id }, { "name", track.name }, { "kind", track.kind }, { "input", track.input },
                         { "output", track.output }, { "monitoring", track.monitoring }, { "armed", track.armed },
                         { "muted", track.muted }, { "soloed", track.soloed }, { "volume_db", track.volumeDb },
                         { "pan", track.pan }, { "plugins", plugins }, { "clips", (int) track.clips.size() } });
    };

    juce::Array<juce::var> trackList, returnList, reasons;
    for (const auto& track : tracks)
    {
        trackList.add (summary (track));

        if (track.muted)
            reasons.add (track.name + " is muted");
        if (track.input != "none" && track.input != "All MIDI inputs" && ! track.armed && track.monitoring != "In")
            reasons.add (track.name + " takes its input from " + track.input + " but is neither armed nor monitoring In");
    }

    for (const auto& track : returns)
        returnList.add (summary (track));

    return success (jsonObject ({ { "tempo", tempo }, { "time_signature", "4/4" }, { "transport", transportState (now) },
                              { "tracks", trackList }, { "returns", returnList }, { "master", summary (master) },
                              { "reasons_a_track_cannot_be_heard", reasons } }));
}

juce::var DemoSession::describeTrack (const juce::var& arguments)
{
    juce::String error;
    const auto* track = trackArgument (arguments, "a track name or id", error);

    if (track == nullptr)
        return failure (error);

    juce::Array<juce::var> plugins, sends, clips;
    for (const auto& plugin : track->plugins)
        plugins.add (jsonObject ({ { "name", plugin.name }, { "generates_notes", plugin.generatesNotes } }));
    for (const auto& [to, level] : track->sends)
        sends.add (jsonObject ({ { "to", to }, { "level_db", level } }));

    for (const auto& clip : track->clips)
    {
        auto description = jsonObject ({ { "id", clip.id }, { "start_bar", clip.startBar }, { "length_bars", clip.lengthBars } });

        if (track->kind == "midi")
        {
            int lowest = 127, highest = 0;
            for (const auto& note : clip.notes)
            {
                lowest = std::min (lowest, note.pitch);
                highest = std::max (highest, note.pitch);
            }
            description.getDynamicObject()->setProperty ("notes", (int) clip.notes.size());
            if (! clip.notes.empty())
                description.getDynamicObject()->setProperty ("pitch_range", noteName (lowest) + "-" + noteName (highest));
        }
        else
        {
            description.getDynamicObject()->setProperty ("file", clip.file);
            description.getDynamicObject()->setProperty ("gain_db", clip.gainDb);
        }

        clips.add (description);
    }

    return success (jsonObject ({ { "id", track->id }, { "name", track->name }, { "kind", track->kind },
                              { "input", track->input }, { "output", track->output }, { "monitoring", track->monitoring },
                              { "plugins", plugins }, { "sends", sends }, { "eq", track->eq }, { "clips", clips } }));
}

juce::var DemoSession::getNotes (const juce::var& arguments)
{
    juce::String error;
    const auto* track = trackArgument (arguments, "a MIDI track name or id", error);

    if (track == nullptr)
        return failure (error);

    if (track->kind != "midi")
        return failure (track->name + " is not a MIDI track");

    const auto clipArgument = arguments.getProperty ("clip", juce::var::undefined());
    const auto clipId = integerIn (clipArgument, 1, largestId);

    if (! clipArgument.isUndefined() && ! clipId)
        return failure ("clip must be a clip id (a whole number from describe_track), not " + clientText (clipArgument));

    std::optional<double> fromBar, toBar;

    if (! readBar (arguments, "from_bar", fromBar, error) || ! readBar (arguments, "to_bar", toBar, error))
        return failure (error);

    bool clipFound = ! clipId;
    std::vector<std::pair<int, Note>> found;

    for (const auto& clip : track->clips)
    {
        if (clipId && clip.id != *clipId)
            continue;

        clipFound = true;

        for (const auto& note : clip.notes)
        {
            const double bar = barOf (note.startBeat);
            if ((! fromBar || bar >= *fromBar) && (! toBar || bar < *toBar))
                found.push_back ({ clip.id, note });
        }
    }

    if (! clipFound)
        return failure (track->name + " has no clip " + juce::String (*clipId));

    std::stable_sort (found.begin(), found.end(), [] (const auto& a, const auto& b) { return a.second.startBeat < b.second.startBeat; });

    juce::Array<juce::var> notes;
    for (size_t i = 0; i < found.size() && i < (size_t) maxNotesReturned; ++i)
    {
        const auto& [clip, note] = found[i];
        notes.add (jsonObject ({ { "clip", clip }, { "pitch", note.pitch }, { "name", noteName (note.pitch) },
                             { "start_bar", barOf (note.startBeat) }, { "start_beats", note.startBeat },
                             { "length_beats", note.lengthBeats }, { "velocity", note.velocity } }));
    }

    return success (jsonObject ({ { "track", track->name }, { "total", (int) found.size() },
                              { "returned", notes.size() }, { "truncated", found.size() > (size_t) maxNotesReturned },
                              { "notes", notes } }));
}

juce::var DemoSession::play (const juce::var& arguments, Clock::time_point now)
{
    std::optional<double> fromBar, toBar;
    juce::String error;

    if (! readBar (arguments, "from_bar", fromBar, error) || ! readBar (arguments, "to_bar", toBar, error))
        return failure (error);

    const auto loopArgument = arguments.getProperty ("loop_times", juce::var::undefined());
    const auto loopTimes = integerIn (loopArgument, 1, 10000);

    if (! loopArgument.isUndefined() && ! loopTimes)
        return failure ("loop_times must be a whole number from 1 to 10000");

    if (loopTimes && ! transport.loopOn)
        return failure ("The loop is off: turn it on with set_loop before playing it loop_times times");

    settle (now);

    if (! fromBar && ! toBar && ! loopTimes && transport.playing)
        return success (jsonObject ({ { "result", "already playing" }, { "transport", transportState (now) } }));

    if (toBar && ! fromBar && ! loopTimes && transport.playing)
    {
        // to_bar alone sets where the current playback stops
        const double current = positionBeat (now), target = beatOf (*toBar);

        if (target <= current)
            return failure ("to_bar must lie after the playhead (now at bar " + juce::String (barOf (current), 2) + ")");

        transport.stopAfterBeats = beatsPlayed (now) + (target - current);
        return success (jsonObject ({ { "result", "stops at bar " + juce::String (*toBar) }, { "transport", transportState (now) } }));
    }

    double start = fromBar ? beatOf (*fromBar) : transport.insertMarkerBeat;
    std::optional<double> stopAfter;

    if (loopTimes)
    {
        const bool insideLoop = start >= transport.loopStartBeat && start < transport.loopEndBeat;
        if (! fromBar || ! insideLoop)
            start = transport.loopStartBeat;

        const double loopLength = transport.loopEndBeat - transport.loopStartBeat;
        stopAfter = (transport.loopEndBeat - start) + (double) (*loopTimes - 1) * loopLength;
    }
    else if (toBar)
    {
        const double target = beatOf (*toBar);

        if (target <= start)
            return failure ("to_bar must come after the bar playback starts from");

        if (transport.loopOn && start < transport.loopEndBeat && target > transport.loopEndBeat)
            return failure ("to_bar lies past the loop end, so the playhead would never get there; turn the loop off or play loop_times");

        stopAfter = target - start;
    }

    transport.playing = true;
    transport.startBeat = start;
    transport.startedAt = now;
    transport.stopAfterBeats = stopAfter;
    return success (jsonObject ({ { "result", "playing" }, { "transport", transportState (now) } }));
}

juce::var DemoSession::setLoop (const juce::var& arguments)
{
    std::optional<double> fromBar, toBar;
    juce::String error;

    if (! readBar (arguments, "from_bar", fromBar, error) || ! readBar (arguments, "to_bar", toBar, error))
        return failure (error);

    const auto on = arguments.getProperty ("on", true);

    if (! on.isBool())
        return failure ("on must be true or false");

    const double start = fromBar ? beatOf (*fromBar) : transport.loopStartBeat;
    const double end = toBar ? beatOf (*toBar) : transport.loopEndBeat;

    if (end <= start)
        return failure ("to_bar must come after from_bar");

    transport.loopStartBeat = start;
    transport.loopEndBeat = end;
    transport.loopOn = (bool) on;

    return success (jsonObject ({ { "loop", jsonObject ({ { "on", transport.loopOn }, { "from_bar", barOf (start) },
                                                   { "to_bar", barOf (end) } }) } }));
}

juce::var DemoSession::stop (Clock::time_point now)
{
    settle (now);
    transport.playing = false;
    return success (jsonObject ({ { "result", "stopped" }, { "transport", transportState (now) } }));
}
} // namespace velto::host
