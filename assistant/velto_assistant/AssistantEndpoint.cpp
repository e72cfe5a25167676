// Endpoint and credentials: the settings folder, the endpoint file (read, written in one rename,
// removed only while it names its host, the lock that writers and removers share) and the
// access token.
#include "AssistantInternal.h"
#include "AssistantDetail.h"

#include <cstring>
#include <random>

#include <sys/file.h>
#include <sys/stat.h>

namespace velto::assistant
{
namespace
{
using detail::retryOnInterrupt;

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

        if (handle >= 0 && retryOnInterrupt ([this] { return ::flock (handle, LOCK_EX); }) != 0)
        {
            ::close (handle);
            handle = -1;
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


/** "what: the system's words for `error`", the errno of the call that failed, which its caller
    takes before anything else can change it. */
juce::String failedBecause (int error, const juce::String& what)
{
    return what + ": " + juce::String (std::strerror (error));
}

/** Writes `text` into a new file beside `file`, which can then take its place in one rename, so
    that a reader finds the old file or the new one, never one half written: its path. mkostemp
    creates it with mode 0600, so the token never sits in a file others can read. Where that
    fails, `problem` says why, and no new file is left. */
std::string writeBeside (const juce::File& file, const juce::String& text, juce::String& problem)
{
    auto temporary = file.getSiblingFile ("." + file.getFileName() + ".XXXXXX").getFullPathName().toStdString();
    const int handle = ::mkostemp (temporary.data(), O_CLOEXEC);

    if (handle < 0)
    {
        const auto error = errno;
        problem = failedBecause (error, "cannot create " + juce::String (temporary));
        return temporary;
    }

    if (::fchmod (handle, S_IRUSR | S_IWUSR) != 0)
    {
        const auto error = errno;
        problem = failedBecause (error, "cannot narrow the mode of " + juce::String (temporary));
    }

    for (size_t done = 0, total = text.getNumBytesAsUTF8(); problem.isEmpty() && done < total;)
    {
        const auto count = retryOnInterrupt ([&] { return ::write (handle, text.toRawUTF8() + done, total - done); });
        const auto error = count < 0 ? errno : ENOSPC;

        if (count > 0)
            done += (size_t) count;
        else
            problem = failedBecause (error, "cannot write " + juce::String (temporary));
    }

    // No fsync: the file names a running process, and after a crash of the machine it would
    // name nothing anyway
    if (::close (handle) != 0 && problem.isEmpty())
    {
        const auto error = errno;
        problem = failedBecause (error, "cannot write " + juce::String (temporary));
    }

    if (problem.isNotEmpty())
        ::unlink (temporary.c_str());

    return temporary;
}
} // namespace

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

    const auto port = portNumber (parsed.getProperty (NameIdentifier ("port"), 0));
    const auto tokenValue = parsed.getProperty (NameIdentifier ("token"), juce::var::undefined());
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
            const auto count = retryOnInterrupt ([&] { return ::read (handle, bytes.data() + filled, bytes.size() - filled); });

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
    const auto text = toJsonMultiLine (jsonObject ({ { "port", endpoint.port }, { "token", endpoint.token }, { "note", endpointNote } }));
    const auto folder = file.getParentDirectory();
    folder.createDirectory();   // if it cannot be made, making the temporary file fails below

    const auto path = file.getFullPathName();
    struct stat existing {};
    juce::String problem;

    // Only a regular file is replaced: a folder or anything else found there stays as it is
    if (::stat (path.toRawUTF8(), &existing) == 0 && ! S_ISREG (existing.st_mode))
    {
        problem = path + " is not a regular file";
    }
    else if (const auto temporary = writeBeside (file, text, problem); problem.isEmpty())
    {
        const EndpointLock lock (file);

        if (::rename (temporary.c_str(), path.toRawUTF8()) != 0)
        {
            const auto error = errno;
            ::unlink (temporary.c_str());
            problem = failedBecause (error, "cannot rename " + juce::String (temporary) + " to " + path);
        }
    }

    if (problem.isNotEmpty() && failure != nullptr)
        *failure = problem;

    return problem.isEmpty();
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
