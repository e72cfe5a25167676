// The assistant protocol: JSON-RPC envelopes, the server's identity and instructions, the tool
// catalogue, and the answers that the bridge and a host give alike.
#include "AssistantInternal.h"

namespace velto::assistant
{
namespace
{
using Member = std::pair<const char*, juce::var>;

juce::var prop (const char* type, const char* description)
{
    return jsonObject ({ { "type", type }, { "description", description } });
}

juce::var schema (std::initializer_list<Member> arguments, juce::StringArray required)
{
    auto* properties = new juce::DynamicObject();

    for (const auto& [name, property] : arguments)
        properties->setProperty (name, property);

    auto result = jsonObject ({ { "type", "object" }, { "properties", juce::var (properties) } });

    if (! required.isEmpty())
    {
        juce::Array<juce::var> names;

        for (const auto& name : required)
            names.add (name);

        result.getDynamicObject()->setProperty ("required", names);
    }

    return result;
}

juce::var tool (const char* name, const char* title, const char* description, juce::var inputSchema,
                bool readOnly)
{
    const auto annotations = jsonObject ({ { "readOnlyHint", readOnly },
                                           { "destructiveHint", false },
                                           { "idempotentHint", readOnly },
                                           { "openWorldHint", false } });

    return jsonObject ({ { "name", name },
                         { "title", title },
                         { "description", description },
                         { "inputSchema", inputSchema },
                         { "annotations", annotations } });
}

juce::var initializeResult (const juce::var& params)
{
    // A missing "params" or "protocolVersion" reads as the empty text, which no revision matches
    const auto requested = params.getProperty (NameIdentifier ("protocolVersion"), {}).toString();
    const auto supported = protocolVersions();
    const auto chosen = supported.contains (requested, false) ? requested : supported[0];

    auto* listChanged = new juce::DynamicObject();
    listChanged->setProperty ("listChanged", false);
    auto* capabilities = new juce::DynamicObject();
    capabilities->setProperty ("tools", juce::var (listChanged));

    auto* serverInfo = new juce::DynamicObject();
    serverInfo->setProperty ("name", "velto");
    serverInfo->setProperty ("title", "Velto");
    serverInfo->setProperty ("version", serverVersion);

    auto* result = new juce::DynamicObject();
    result->setProperty ("protocolVersion", chosen);
    result->setProperty ("capabilities", juce::var (capabilities));
    result->setProperty ("serverInfo", juce::var (serverInfo));
    result->setProperty ("instructions", instructions());
    return juce::var (result);
}

/** The text form of a method, as a JSON value's text form goes: a string as it is, true and
    false as 1 and 0, a missing method or null as the empty text. Numbers, arrays and objects as
    their JSON (a JsonLiteral included), which is what the client sent: juce::var's own toString
    would give an object's address in memory instead. */
juce::String methodText (const juce::var& method)
{
    if (method.isString())
        return method.toString();

    if (method.isBool())
        return (bool) method ? "1" : "0";

    return method.isVoid() ? juce::String() : toJson (method);
}


/** The six tools, in the order that tools/list gives them. */
juce::var buildCatalogue()
{
    juce::Array<juce::var> tools;

    tools.add (tool ("describe_session", "Describe the session",
                     "Overview of the project open in Velto: tempo, time signature, transport (playing, "
                     "recording, position), every track with its kind, input, output, monitoring, "
                     "arm/mute/solo, volume and pan, plug-ins in signal order (and which ones generate "
                     "notes), number of clips, the returns and the master. Also lists likely reasons a "
                     "track can't be heard. Start here.",
                     schema ({}, {}), true));

    tools.add (tool ("describe_track", "Describe a track",
                     "Everything about one track (or a return, or \"Master\"): input, output, monitoring, "
                     "plug-ins in signal order, sends, EQ, and every clip with its id, position in bars "
                     "and length (MIDI clips: note count and pitch range; audio clips: file and gain).",
                     schema ({ { "track", prop ("string", "Track name (as shown in Velto) or numeric id") } },
                             { "track" }),
                     true));

    tools.add (tool ("get_notes", "Get MIDI notes",
                     "The notes in a MIDI track's clips, in time order: pitch (MIDI number and name, "
                     "middle C = C3 as in Velto), start as a song position in bars (1-based; 3.5 is "
                     "halfway through bar 3) and in beats from the song start, length in beats, and "
                     "velocity 1-127. Optionally one clip, or only notes between two bars. Returns at "
                     "most 2000 notes.",
                     schema ({ { "track", prop ("string", "MIDI track name or id") },
                               { "clip", prop ("integer", "Only this clip (id from describe_track)") },
                               { "from_bar", prop ("number", "Only notes starting at or after this bar (1-based)") },
                               { "to_bar", prop ("number", "Only notes starting before this bar (1-based)") } },
                             { "track" }),
                     true));

    tools.add (tool ("play", "Play",
                     "Starts playback, from the given bar or from Velto's insert marker. With to_bar, "
                     "Velto stops by itself exactly when the playhead gets there. With loop_times, it "
                     "plays the loop that many times and stops at the loop end (the loop must be on: see "
                     "set_loop). When it stops, the playhead goes back to the insert marker, as with "
                     "Stop. Without from_bar or to_bar it does nothing if Velto is already playing; "
                     "from_bar jumps there, to_bar alone sets where the current playback stops.",
                     schema ({ { "from_bar", prop ("number", "Bar to start from (1-based)") },
                               { "to_bar", prop ("number", "Stop when the playhead reaches this bar (1-based; 5 = the start of bar 5)") },
                               { "loop_times", prop ("integer", "Play the loop this many times, then stop at its end. "
                                                                "Starts at the loop start unless from_bar is inside the loop") } },
                             {}),
                     false));

    tools.add (tool ("set_loop", "Set the loop",
                     "Sets the loop region and turns looping on, or turns it off. The loop is saved with "
                     "the project, like moving the loop brackets in Velto. Bars are 1-based: from_bar 1 "
                     "to_bar 5 loops the first four bars.",
                     schema ({ { "from_bar", prop ("number", "Loop start (1-based)") },
                               { "to_bar", prop ("number", "Loop end: the bar it jumps back from") },
                               { "on", prop ("boolean", "false turns the loop off (the region is kept). Default true") } },
                             {}),
                     false));

    tools.add (tool ("stop", "Stop",
                     "Stops playback, like pressing Stop. If Velto is recording, this finishes the "
                     "recording and keeps the take, exactly as the Stop button does.",
                     schema ({}, {}), false));

    return tools;
}

/** The answer to one message; `catalogue` gives what tools/list carries, and is called for
    tools/list alone, as a host's copy of the catalogue is not made for every ping. */
juce::var answerWithCatalogue (const juce::var& message, juce::var (*catalogue)())
{
    if (! expectsReply (message))
        return {};

    const auto id = message.getProperty (NameIdentifier ("id"), {});
    const auto method = methodText (message.getProperty (NameIdentifier ("method"), {}));

    if (method == "initialize")
        return rpcResult (id, initializeResult (message.getProperty (NameIdentifier ("params"), {})));

    if (method == "ping")
        return rpcResult (id, juce::var (new juce::DynamicObject()));

    if (method == "tools/list")
        return rpcResult (id, jsonObject ({ { "tools", catalogue() } }));

    if (isToolCall (message))
        return {};

    return rpcError (id, -32601, "Method not found: " + method);
}
} // namespace

//==============================================================================
NameIdentifier::NameIdentifier (std::string_view name)
{
    // The names as views too, so that comparing one costs no count of an Identifier's text
    static constexpr std::string_view commonNames[] = { "jsonrpc", "id", "method", "params", "result", "error", "code", "message",
                                                        "name", "arguments", "content", "type", "text", "isError",
                                                        "port", "token", "note", "protocolVersion" };
    static const auto common = []
    {
        std::vector<juce::Identifier> identifiers;

        for (const auto commonName : commonNames)
            identifiers.emplace_back (juce::String (commonName.data(), commonName.size()));

        return identifiers;
    }();

    for (size_t i = 0; i < common.size(); ++i)
        if (commonNames[i] == name)
        {
            pooled = &common[i];
            return;
        }

    made = juce::String::fromUTF8 (name.data(), (int) name.size());
}

juce::var jsonObject (std::initializer_list<std::pair<const char*, juce::var>> members)
{
    auto* result = new juce::DynamicObject();

    for (const auto& [name, value] : members)
        result->setProperty (NameIdentifier (name), value);

    return juce::var (result);
}

juce::var rpcResult (const juce::var& id, const juce::var& result)
{
    return jsonObject ({ { "jsonrpc", "2.0" }, { "id", id }, { "result", result } });
}

juce::var rpcError (const juce::var& id, int code, const juce::String& message)
{
    const auto error = jsonObject ({ { "code", code }, { "message", message } });
    return jsonObject ({ { "jsonrpc", "2.0" }, { "id", id }, { "error", error } });
}

juce::var toolText (const juce::String& text, bool isError)
{
    juce::Array<juce::var> content;
    content.add (jsonObject ({ { "type", "text" }, { "text", text } }));
    return jsonObject ({ { "content", content }, { "isError", isError } });
}

juce::StringArray protocolVersions()
{
    return { "2025-06-18", "2025-03-26", "2024-11-05" };
}

juce::String instructions()
{
    return "Velto is a small DAW (digital audio workstation). These tools read the project that is open "
           "in Velto and control its transport. Positions are in bars (1-based) and beats. A MIDI track's "
           "notes go through its plug-ins in order: a generator plug-in (one that makes its own notes, "
           "like an arpeggiator or a sequencer) comes before the instrument it drives. A MIDI track can "
           "take its notes from another MIDI track, and an audio track can take another track's sound; "
           "tracks that take their input from somewhere only hear it while armed or with monitoring set "
           "to In.";
}

juce::var toolDefinitions()
{
    // Built once, handed out as a deep copy: every caller owns what it gets and may change it,
    // and a tools/list answer costs a copy rather than making every name again
    static const juce::var catalogue = buildCatalogue();
    return catalogue.clone();
}

bool expectsReply (const juce::var& message)
{
    // "id": null counts as present; only a missing id makes a notification
    const auto* request = message.getDynamicObject();
    return request != nullptr && request->hasProperty (NameIdentifier ("id"));
}

bool isToolCall (const juce::var& message)
{
    const auto method = message.getProperty (NameIdentifier ("method"), {});
    return method.isString() && method.toString() == "tools/call";
}

juce::var answerProtocol (const juce::var& message)
{
    return answerWithCatalogue (message, toolDefinitions);
}

juce::var answerProtocolForWire (const juce::var& message)
{
    // Every session asks for the catalogue, which never changes: its wire text is made once
    return answerWithCatalogue (message, []
    {
        static const juce::var catalogue (new JsonLiteral (toJson (toolDefinitions()).toStdString()));
        return catalogue;
    });
}

juce::var answerMessage (const juce::var& message, const std::function<juce::var (const juce::var&)>& answerOne)
{
    const auto* batch = message.getArray();

    if (batch == nullptr)
        return answerOne (message);

    juce::Array<juce::var> replies;

    for (const auto& element : *batch)
        if (auto reply = answerOne (element); ! reply.isVoid())
            replies.add (std::move (reply));

    return replies.isEmpty() ? juce::var() : juce::var (replies);
}
} // namespace velto::assistant
