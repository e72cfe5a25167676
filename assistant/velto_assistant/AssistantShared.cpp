// Envelopes, server identity, the tool catalogue, the endpoint file and the access token.
#include "AssistantShared.h"

#include <random>

#include <cstring>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velto::assistant
{
namespace
{
using Pair = std::pair<const char*, juce::var>;

juce::var object (std::initializer_list<Pair> pairs)
{
    auto* result = new juce::DynamicObject();

    for (const auto& [key, value] : pairs)
        result->setProperty (key, value);

    return juce::var (result);
}

juce::var prop (const char* type, const char* description)
{
    return object ({ { "type", type }, { "description", description } });
}

juce::var schema (std::initializer_list<Pair> arguments, juce::StringArray required)
{
    auto* properties = new juce::DynamicObject();

    for (const auto& [name, property] : arguments)
        properties->setProperty (name, property);

    auto result = object ({ { "type", "object" }, { "properties", juce::var (properties) } });

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
    const auto annotations = object ({ { "readOnlyHint", readOnly },
                                       { "destructiveHint", false },
                                       { "idempotentHint", readOnly },
                                       { "openWorldHint", false } });

    return object ({ { "name", name },
                     { "title", title },
                     { "description", description },
                     { "inputSchema", inputSchema },
                     { "annotations", annotations } });
}

juce::var initializeResult (const juce::var& params)
{
    // A missing "params" or "protocolVersion" reads as the empty text, which no revision matches
    const auto requested = params.getProperty ("protocolVersion", {}).toString();
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
    their JSON (a JsonLiteral included), which is what the client sent and never an address. */
juce::String methodText (const juce::var& method)
{
    if (method.isString())
        return method.toString();

    if (method.isBool())
        return (bool) method ? "1" : "0";

    return method.isVoid() ? juce::String() : toJson (method);
}

constexpr const char* endpointNote =
    "Written by Velto while its AI assistant connection is on. Keep this key private.";

/** A real endpoint file is about 200 bytes; anything far larger is not one, and is not worth
    reading into memory for every message. */
constexpr juce::int64 maxEndpointFileBytes = 65536;
constexpr int minimumTokenCharacters = 32;

/** var's own conversions give "8123" -> 8123, true -> 1, and null, arrays and objects 0; going
    through 64 bits keeps 4294975419 from wrapping to 8123, and a double is range-checked before
    it is truncated toward zero. */
juce::int64 portNumber (const juce::var& value)
{
    if (value.isDouble())
    {
        const auto number = (double) value;
        return (number > -100000.0 && number < 100000.0) ? (juce::int64) number : 0;
    }

    return (juce::int64) value;
}

//==============================================================================
// Platform: the per-user application-data folder. macOS gives ~/Library; JUCE gives ~/.config
// on Linux, which is where such files belong there.
juce::File userApplicationDataFolder()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory);
}

/** Hosts that write or remove one endpoint file take turns, through an advisory lock on a file
    beside it: a host that removes its own file then never removes the one that another host has
    just put in its place, however their steps interleave. Readers take no lock, as each change
    they can see is one rename or one unlink. The lock file stays, empty: removing it would let
    two hosts lock two different files.

    The lock only orders hosts among themselves, so the caller goes on without it where it cannot
    be had: a lock file left by a run as another user (sudo keeps HOME on macOS), something else
    in its place, a file system without locks. Publishing then works as the plain rename would. */
class EndpointLock
{
public:
    explicit EndpointLock (const juce::File& file)
    {
        // Non-blocking, so that a FIFO in its place cannot hold the host up in open()
        const auto path = file.getParentDirectory().getChildFile ("." + file.getFileName() + ".lock").getFullPathName();
        handle = ::open (path.toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, S_IRUSR | S_IWUSR);

        while (handle >= 0 && ::flock (handle, LOCK_EX) != 0)
        {
            if (errno != EINTR)
            {
                ::close (handle);
                handle = -1;
            }
        }
    }

    ~EndpointLock()
    {
        if (handle >= 0)
            ::close (handle);   // and with it the lock
    }

    EndpointLock (const EndpointLock&) = delete;
    EndpointLock& operator= (const EndpointLock&) = delete;

private:
    int handle = -1;
};

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
} // namespace

//==============================================================================
juce::var rpcResult (const juce::var& id, const juce::var& result)
{
    return object ({ { "jsonrpc", "2.0" }, { "id", id }, { "result", result } });
}

juce::var rpcError (const juce::var& id, int code, const juce::String& message)
{
    const auto error = object ({ { "code", code }, { "message", message } });
    return object ({ { "jsonrpc", "2.0" }, { "id", id }, { "error", error } });
}

juce::var toolText (const juce::String& text, bool isError)
{
    juce::Array<juce::var> content;
    content.add (object ({ { "type", "text" }, { "text", text } }));
    return object ({ { "content", content }, { "isError", isError } });
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

juce::var answerProtocol (const juce::var& message)
{
    const auto* request = message.getDynamicObject();

    // "id": null counts as present; only a missing id makes a notification
    if (request == nullptr || ! request->hasProperty ("id"))
        return {};

    const auto id = request->getProperty ("id");
    const auto method = methodText (request->getProperty ("method"));

    if (method == "initialize")
        return rpcResult (id, initializeResult (request->getProperty ("params")));

    if (method == "ping")
        return rpcResult (id, juce::var (new juce::DynamicObject()));

    if (method == "tools/list")
        return rpcResult (id, object ({ { "tools", toolDefinitions() } }));

    if (method == "tools/call")
        return {};

    return rpcError (id, -32601, "Method not found: " + method);
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

//==============================================================================
juce::File settingsFolder()
{
    return userApplicationDataFolder().getChildFile ("Application Support").getChildFile ("Velto");
}

juce::File endpointFile()
{
    return settingsFolder().getChildFile ("assistant.json");
}

std::optional<Endpoint> parseEndpoint (std::string_view bytes)
{
    // A byte-order mark is not JSON, but editors write one and JUCE's own text loading skips it
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

    if (bytes.substr (0, byteOrderMark.size()) == byteOrderMark)
        bytes.remove_prefix (byteOrderMark.size());

    juce::var parsed;

    if (! parseJson (bytes, parsed))
        return std::nullopt;

    const auto port = portNumber (parsed.getProperty ("port", 0));
    const auto tokenValue = parsed.getProperty ("token", juce::var::undefined());
    const auto token = tokenValue.isString() ? tokenValue.toString()
                     : (tokenValue.isVoid() || tokenValue.isUndefined()) ? juce::String()
                                                                           : toJson (tokenValue);

    if (port < 1 || port > 65535 || token.length() < minimumTokenCharacters)
        return std::nullopt;

    return Endpoint { (int) port, token };
}

std::string readEndpointBytes (const juce::File& file)
{
    // Non-blocking, so that a FIFO put in its place cannot hold the bridge up in open(); only a
    // regular file is read at all
    const int handle = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (handle < 0)
        return {};

    struct stat info {};
    std::string bytes;

    if (::fstat (handle, &info) == 0 && S_ISREG (info.st_mode) && info.st_size <= maxEndpointFileBytes)
    {
        bytes.resize ((size_t) info.st_size);
        size_t filled = 0;

        while (filled < bytes.size())
        {
            const auto count = ::read (handle, bytes.data() + filled, bytes.size() - filled);

            if (count < 0 && errno == EINTR)
                continue;

            if (count <= 0)
                break;

            filled += (size_t) count;
        }

        bytes.resize (filled);
    }

    ::close (handle);
    return bytes;
}

std::optional<Endpoint> readEndpoint (const juce::File& file)
{
    return parseEndpoint (readEndpointBytes (file));
}

bool writeEndpoint (const Endpoint& endpoint, const juce::File& file, juce::String* failure)
{
    const auto fail = [failure] (const juce::String& what)
    {
        if (failure != nullptr)
            *failure = what;

        return false;
    };
    // errno is read before anything else can change it
    const auto because = [] (int error, const juce::String& what) { return what + ": " + juce::String (std::strerror (error)); };

    const auto text = toJsonMultiLine (object ({ { "port", endpoint.port }, { "token", endpoint.token }, { "note", endpointNote } }));
    const auto folder = file.getParentDirectory();
    folder.createDirectory();   // if it cannot be made, making the temporary file fails below

    const auto path = file.getFullPathName();
    struct stat existing {};

    // Only a regular file is replaced: a folder or anything else found there stays as it is
    if (::stat (path.toRawUTF8(), &existing) == 0 && ! S_ISREG (existing.st_mode))
        return fail (path + " is not a regular file");

    // The new text goes into a file of its own beside the old one, which it then replaces in one
    // rename: a reader finds the old file or the new one, never one half written. mkostemp
    // creates the file with mode 0600, so the token never sits in a file others can read.
    auto temporary = folder.getChildFile ("." + file.getFileName() + ".XXXXXX").getFullPathName().toStdString();
    const int handle = ::mkostemp (temporary.data(), O_CLOEXEC);

    if (handle < 0)
    {
        const auto error = errno;
        return fail (because (error, "cannot create " + juce::String (temporary)));
    }

    juce::String problem;

    if (::fchmod (handle, S_IRUSR | S_IWUSR) != 0)
    {
        const auto error = errno;
        problem = because (error, "cannot narrow the mode of " + juce::String (temporary));
    }

    for (size_t done = 0, total = text.getNumBytesAsUTF8(); problem.isEmpty() && done < total;)
    {
        const auto count = ::write (handle, text.toRawUTF8() + done, total - done);

        if (count < 0 && errno == EINTR)
            continue;

        if (count > 0)
        {
            done += (size_t) count;
            continue;
        }

        const auto error = count < 0 ? errno : ENOSPC;
        problem = because (error, "cannot write " + juce::String (temporary));
    }

    // No fsync: the file names a running process, and after a crash of the machine it would
    // name nothing anyway
    if (::close (handle) != 0 && problem.isEmpty())
    {
        const auto error = errno;
        problem = because (error, "cannot write " + juce::String (temporary));
    }

    if (problem.isEmpty())
    {
        const EndpointLock lock (file);

        if (::rename (temporary.c_str(), path.toRawUTF8()) != 0)
        {
            const auto error = errno;
            problem = because (error, "cannot rename " + juce::String (temporary) + " to " + path);
        }
    }

    if (problem.isNotEmpty())
    {
        ::unlink (temporary.c_str());
        return fail (problem);
    }

    return true;
}

bool removeEndpoint (const Endpoint& endpoint, const juce::File& file)
{
    // Looked at and removed under the lock that writers take: no other host's file can take
    // this one's place between the two steps
    const EndpointLock lock (file);
    const auto current = readEndpoint (file);

    if (! current || ! tokensMatch (current->token, endpoint.token))
        return false;

    return ::unlink (file.getFullPathName().toRawUTF8()) == 0;
}

//==============================================================================
juce::String makeToken()
{
    std::random_device device ("/dev/urandom");
    juce::String token;

    for (int i = 0; i < 8; ++i)
        token << juce::String::toHexString ((juce::uint32) device()).paddedLeft ('0', 8);

    return token;
}

bool tokensMatch (const juce::String& first, const juce::String& second)
{
    const auto* a = reinterpret_cast<const unsigned char*> (first.toRawUTF8());
    const auto* b = reinterpret_cast<const unsigned char*> (second.toRawUTF8());
    const auto lengthA = first.getNumBytesAsUTF8();
    const auto lengthB = second.getNumBytesAsUTF8();

    auto difference = (juce::uint32) (lengthA ^ lengthB);

    // No early exit: the time depends on the first token's length only. Past the end of the
    // second token its byte counts as 0; the length check already made that a mismatch.
    for (size_t i = 0; i < lengthA; ++i)
        difference |= (juce::uint32) (a[i] ^ (i < lengthB ? b[i] : 0u));

    return difference == 0 && lengthA > 0;
}
} // namespace velto::assistant
