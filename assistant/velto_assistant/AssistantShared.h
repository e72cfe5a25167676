// velto::assistant: what VeltoMCP (the stdio bridge) and Velto's own assistant server share, its
// interface whole. What only its own sources, tests, fuzzers and benchmark use is
// AssistantInternal.h. Its groups, below in this order, and the source of each:
//   the JSON wire format                          AssistantJson.cpp
//   the protocol: envelopes, identity, catalogue  AssistantProtocol.cpp
//   the endpoint file and the access token        AssistantEndpoint.cpp
//   the loopback HTTP link                        AssistantHttp.cpp
//   the host's side: refusals, one request        AssistantRequest.cpp
//                    the Server                   AssistantServer.cpp
// velto_assistant.cpp compiles them as one unit. Everything but the host's Server is a free
// function or a plain value that keeps no state a caller could see, and may be called from any
// thread. Failures are results (false, an empty optional, status 0), never exceptions, except
// where makeToken says otherwise.
#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velto::assistant
{
//==============================================================================
// Identity

inline constexpr const char* serverVersion = "0.8.0";

//==============================================================================
// JSON wire format
//
// Objects are juce::DynamicObject (insertion order kept, a repeated key keeps its first place
// and takes the last value), arrays are juce::Array<var>, strings juce::String. Integers that
// fit 32 bits are int, those that fit 64 bits int64; a number that neither type nor a finite
// double can carry unchanged is kept as a JsonLiteral, so an id is never altered in transit.

/** A JSON number or string kept as its own text, written back verbatim. Only the parser makes
    one, for integers beyond 64 bits, numbers that overflow a double, and strings holding U+0000
    or an unpaired surrogate, none of which juce::var or juce::String can hold unchanged. JUCE's
    own writer cannot write one: write parsed values with toJson. Every value that the module
    builds itself is plain juce::var, which JUCE writes as toJson does. */
struct JsonLiteral final : juce::ReferenceCountedObject
{
    explicit JsonLiteral (std::string jsonText) : text (std::move (jsonText)) {}
    const std::string text;
};

/** Nesting deeper than this is refused as unreadable, so no input can exhaust the stack. */
inline constexpr int maxJsonDepth = 512;

/** Parses the one JSON object or array at the start of `utf8` (leading white space skipped,
    anything after the value ignored). Invalid UTF-8 inside strings becomes U+FFFD.
    Returns false, leaving `result` untouched, when the text does not begin with a complete
    object or array, or nests deeper than maxJsonDepth. Time goes with the text, but for an
    object's members, each of which JUCE's DynamicObject looks up among those before it: an
    object of n members costs n squared over two look-ups (maxHttpBodyBytes bounds a host's). */
bool parseJson (std::string_view utf8, juce::var& result);
bool parseJson (const juce::String& text, juce::var& result);

/** The single-line wire form: ", " and ": " separators, UTF-8 as itself, "\"", "\\", "\b",
    "\t", "\n", "\f", "\r" escaped, other controls as \u00xx. Numbers keep their value: a double
    is written with the fewest digits that read back as it, in plain digits where at most 15
    decimal places carry it, else in the shorter of the plain and the exponent form (2.5e-15),
    and from 1e21 up as 1e21; a whole double keeps ".0". Void and undefined are written as null.
    The result is always valid UTF-8 JSON: invalid UTF-8 inside a String is written as U+FFFD.
    Cannot fail. Time goes with the value's size. */
juce::String toJson (const juce::var& value);

/** toJson's bytes, appended to `out`: for writers that gather many replies into one write. Time
    goes with the value's size, as toJson's does. */
void appendJson (std::string& out, const juce::var& value);

/** What parseJson and then appendJson would give, in one pass that builds no value: appends the
    wire form of the object or array at the start of `utf8` to `out`, for relaying. Returns false,
    leaving `out` as it was, where parseJson would fail. Time and memory go with the text, however
    wide its objects and whatever names they repeat. */
bool rewriteJson (std::string_view utf8, std::string& out);

/** parseJson for a reader that needs only what decides each message's answer, in time and memory
    that go with the text however wide its objects are. It succeeds and fails exactly where
    parseJson does, but the message (the object at the top, or each object in a batch) holds only
    its "id", "method" and "params", "params" only its "protocolVersion", and an object or array
    among them is a JsonLiteral of its wire form; a batch's other elements are void. For toJson and
    appendJson alone, as JUCE's writer cannot write a JsonLiteral. */
bool parseEnvelopes (std::string_view utf8, juce::var& result);

//==============================================================================
// The protocol: JSON-RPC envelopes, server identity and the tool catalogue

/** A new object with these members, in this order (the names distinct): what every object that
    the module builds is made of. */
juce::var jsonObject (std::initializer_list<std::pair<const char*, juce::var>> members);

/** Whether a message wants a reply: an object with an "id" member, null included. A notification
    has none, and a value that is not an object gets none either. */
bool expectsReply (const juce::var& message);

/** Whether a message's method is the string "tools/call", which only the host can carry out. */
bool isToolCall (const juce::var& message);

juce::var rpcResult (const juce::var& id, const juce::var& result);
juce::var rpcError (const juce::var& id, int code, const juce::String& message);
juce::var toolText (const juce::String& text, bool isError);
juce::StringArray protocolVersions();   // newest first; the first is the default
juce::String instructions();
juce::var toolDefinitions();            // the six tools, as the array that tools/list carries; a new copy each call

/** The answer to one message that the bridge and Velto give alike: "initialize" (the revision
    asked for when it is one of protocolVersions(), else the first, with the server's identity,
    capabilities and instructions), "ping", "tools/list" (the catalogue), and -32601 "Method
    not found: " for any other method but "tools/call". Void for a notification, a value that
    is not an object, and "tools/call", which is the caller's to answer. */
juce::var answerProtocol (const juce::var& message);

/** answerProtocol, but tools/list carries the catalogue as a JsonLiteral of its wire text, made
    once: for a caller that writes its answers with toJson or appendJson alone (the bridge, to
    which every session's tools/list then costs no copy of the catalogue). */
juce::var answerProtocolForWire (const juce::var& message);

/** Answers a parsed message with `answerOne`: an object by itself, a batch element by element
    into one array of the replies that are not void. Void when nothing is due: a notification,
    an empty batch, a batch of notifications or of non-objects. */
juce::var answerMessage (const juce::var& message, const std::function<juce::var (const juce::var&)>& answerOne);

//==============================================================================
// The endpoint file and the access token

struct Endpoint
{
    int port = 0;         // valid: 1 to 65535
    juce::String token;   // valid: at least 32 characters
};

juce::File settingsFolder();   // <user application data>/Application Support/Velto
juce::File endpointFile();     // settingsFolder()/assistant.json

/** The endpoint that the bytes of an endpoint file name (a UTF-8 byte-order mark is skipped).
    Empty when they are not a JSON object, or its port is outside 1 to 65535 or its token
    shorter than 32 characters. */
std::optional<Endpoint> parseEndpoint (std::string_view bytes);

/** The bytes of an endpoint file: empty when the file is missing, not a regular file, larger
    than 64 KiB or unreadable. Never reports more. For a reader that reads it very often (the
    bridge: once a message) and parses it again only when the bytes change. */
std::string readEndpointBytes (const juce::File& file);

/** parseEndpoint (readEndpointBytes (file)). Keeps nothing between calls: safe at any time, in
    an exit handler too. */
std::optional<Endpoint> readEndpoint (const juce::File& file);

/** Replaces the file with the five-line text, mode 0600, creating missing folders: the text
    goes into a new file beside it that then takes its place in one rename, so a reader finds
    the old file or the new one, never one half written. Returns false, leaving the old file as
    it was and no new file behind, when the path holds something other than a regular file
    (a folder, say) or the new file cannot be made, written or renamed into place; `failure`,
    when given, then gets one line that names the file and the system's reason. The rename takes
    the lock that removeEndpoint describes, where it can be had. */
bool writeEndpoint (const Endpoint& endpoint, const juce::File& file, juce::String* failure = nullptr);

/** Removes the file only while it still names `endpoint` (its token): a host that stops never
    takes away the file of another host that has written its own since. Writers and removers
    take turns through a lock beside the file (".assistant.json.lock", which stays), so no
    host's new file is lost whatever the timing. A lock that cannot be opened or taken (left by
    another user, on a file system without locks) is gone without: publishing never fails for
    it, and only the turn-taking between hosts is lost. Returns true when the file was this endpoint's
    and is gone; false, leaving the path as it was, when it is missing, unreadable, names another
    endpoint or cannot be removed. Hosts call it when the connection is switched off and on
    every way out they control. */
bool removeEndpoint (const Endpoint& endpoint, const juce::File& file);

/** 64 lower-case hex characters from /dev/urandom. Throws std::exception (from
    std::random_device) when the device cannot be opened or read: the one exception here. */
juce::String makeToken();

/** True when both are the same bytes and not empty. Time depends only on first's length. */
bool tokensMatch (const juce::String& first, const juce::String& second);

//==============================================================================
// Loopback HTTP

inline constexpr int maxHttpHeadBytes = 16384;      // tested before each read of the head
inline constexpr int maxHttpBodyBytes = 1048576;    // Content-Length above this fails
inline constexpr int connectTimeoutMs = 2000;
inline constexpr int veltoAnswerTimeoutMs = 20000;   // the bridge's budget for each answer
inline constexpr int writeStallTimeoutMs = 20000;   // writeAll gives up when no byte moves

struct HttpMessage
{
    juce::String method;                              // requests only
    juce::String path;                                // requests only
    int status = 0;                                   // responses only
    juce::StringPairArray headers { true };           // lower-cased names, trimmed values
    juce::String body;                                // set only when the whole message was read

    /** The value of a header, found in any case; empty when absent. */
    juce::String header (const juce::String& name) const;
};

/** Reads one request (isRequest) or response into `message` within timeoutMs for the whole
    message. Returns false on: a head over maxHttpHeadBytes without CR LF CR LF; time up, peer
    closed or read error before the head ends or before a known-length body is complete; a
    head with no non-blank line; a start line with no space; a Content-Length above
    maxHttpBodyBytes. Fields read before a failure stay set; `body` is set only on success.
    A response without Content-Length (or with a negative one) reads until the peer closes,
    time is up or the body passes maxHttpBodyBytes, and succeeds with what arrived. */
bool readHttp (juce::StreamingSocket& socket, HttpMessage& message, bool isRequest, int timeoutMs);

/** Where one message stands in the bytes received so far, as frameHttp found it. */
struct HttpFrame
{
    enum class Status { readMore, complete, failed };

    Status status = Status::readMore;
    size_t headBytes = 0;        // the head through its blank line; 0 until it has ended
    juce::int64 bodyBytes = 0;   // the announced body length; -1 when it runs until the peer closes
    size_t searchedBytes = 0;    // how far the blank line was looked for
};

/** readHttp's decisions without its socket, for anyone who reads the bytes by other means.
    `received` holds every byte of one request (isRequest) or response so far; `ended` says that
    no more will come (closed, time up, read failed). Call it after every read with the frame it
    returned last, which keeps it from parsing anything twice.
    - readMore: call again when more bytes have come.
    - failed: more than maxHttpHeadBytes without CR LF CR LF before any NUL; ended before it; a
      head with no non-blank line or a start line with no space; a Content-Length above
      maxHttpBodyBytes; ended before a known length was all there.
    - complete: a known length all there (bytes past it ignored); an open-ended body (no length
      in a response, or a negative one) when ended or once past maxHttpBodyBytes.
    With a message, the call that finds the head fills its start-line fields and headers, and
    `body` is set on complete only. Without one, nothing is allocated: the framing alone. */
HttpFrame frameHttp (std::string_view received, bool isRequest, bool ended, HttpMessage* message,
                     HttpFrame previous = {});

/** Writes every UTF-8 byte of `text`. Returns false when the socket is not connected, the peer
    has closed or reset the connection (never raising SIGPIPE), or no byte could be written
    for writeStallTimeoutMs. An empty text on a connected socket returns true. */
bool writeAll (juce::StreamingSocket& socket, const juce::String& text);

/** POSTs `message` to http://127.0.0.1:<port>/mcp with the Bearer token and reads the answer
    within timeoutMs. Returns the answer's status and puts its body into `response`; returns 0
    and leaves `response` untouched when no connection was made within connectTimeoutMs, the
    request was not written in full, or no whole answer was read. A status piece that is not
    a number also gives 0, with the body copied out. */
int postToVelto (const Endpoint& endpoint, const juce::String& message, juce::String& response,
                 int timeoutMs);

/** postToVelto with the message and the answer's body as bytes, as the bridge relays them. The
    body is cut at its first NUL, as a String would be, but not otherwise decoded. */
int postToVelto (const Endpoint& endpoint, std::string_view message, std::string& response, int timeoutMs);

/** Decodes wire bytes as UTF-8 up to the first NUL; an invalid sequence becomes U+FFFD. */
juce::String fromWireBytes (const char* data, size_t size);

/** The whole response text: status line, Content-Type only for a non-empty body,
    Content-Length in UTF-8 bytes, "Cache-Control: no-store", "Connection: close". */
juce::String httpResponse (int status, const juce::String& body, const juce::String& contentType);

//==============================================================================
// The host's side: what Velto does with each request, and a server that does it in fixed resources

/** How a host answers one JSON-RPC message (an object or any element of a batch): the reply, or
    void when none is due. The server calls it from its worker threads, several at a time. */
using MessageHandler = std::function<juce::var (const juce::var& message)>;

/** The status with which a host refuses a request from its head alone, before reading its body:
    403 for an Origin header that is not a loopback origin (http:// and 127.0.0.1, localhost or
    [::1], with or without a port) or a Host header that is not one of those three names with
    or without a port, as a web page that rebinds its name to 127.0.0.1 sends (a request without
    either, as the bridge's has no Origin, passes); 401 when the Authorization header is not
    "Bearer " and `token`; 404 for a path other than /mcp; 405 for a method other than POST;
    413 for a Content-Length above maxHttpBodyBytes. 0 when the body is to be read and answered. */
int refusalStatus (const HttpMessage& head, const juce::String& token);

/** The whole refusal with this status (400, 401, 403, 404, 405 or 413), its body one line of plain
    text that says what is wrong and what to do: the bridge prints it in its diagnostic line, the
    one line of stderr that a user sees. Any other status gets the bare response. */
juce::String refusalResponse (int status);

/** The whole response to a request read in full: refusalResponse with refusalStatus if it has one;
    400 with a parse error when the body is not a JSON object or array; 202 when nothing is due
    (notifications only); otherwise 200 with the reply, a batch's replies as one array.
    The body never exceeds maxHttpBodyBytes, which is all the bridge reads. Replies join it in
    order, each leaving room for short stand-ins for the requests after it; a reply that does
    not fit becomes its own stand-in, an error that says it was too large and how to ask for
    less (for a tool call, a tool error that says the tool ran). A batch whose stand-ins alone
    would not fit is refused with 413 before anything in it runs. Exceptions from answerOne
    pass through.
    The message reaches answerOne as juce::var, whose objects are juce::DynamicObject: each
    member added is looked up among those before it, so an object of n members takes time in n
    squared. The body limit bounds it: the widest object that fits in maxHttpBodyBytes (about
    100,000 members) takes about 2.5 s of one worker on a current machine, and the same object
    of 10,000 members about 25 ms. The bridge's own paths take time in proportion to the text. */
juce::String answerRequest (const HttpMessage& request, const juce::String& token, const MessageHandler& answerOne);

inline constexpr int maxOpenConnections = 512;      // fewer when the descriptor limit is low
inline constexpr int serverWorkerThreads = 2;
inline constexpr int requestTimeoutMs = 2000;       // the bridge sends its whole request at once
inline constexpr int responseWriteTimeoutMs = 5000; // for a client to take its whole answer
inline constexpr int refusalDrainTimeoutMs = 2000;  // after a refusal sent before the body...
inline constexpr juce::int64 refusalDrainBytes = 16 * (juce::int64) maxHttpBodyBytes;   // ...read and dropped

/** Velto's assistant endpoint on 127.0.0.1, served in fixed resources: one thread waits on every
    connection at once, and serverWorkerThreads threads run answerRequest. Nothing a local
    client does can make it take more, or bring it down:
    - At most maxOpenConnections are open. Past that, a new connection takes the place of the
      oldest of the first kind there is of these:
      1. one being refused, or stuck halfway through its request: the surest sign of a stalled
         or hostile client, as the bridge writes its whole request at once;
      2. one that has sent nothing yet: it may be a bridge about to;
      3. one whose request is still arriving: most likely a bridge.
      When every one has its request answered or its answer sent, the new one is closed at once.
    - A request not whole within requestTimeoutMs of connecting is dropped. The bridge writes
      its request as soon as it has connected, so this is far more than it needs.
    - A refusal decided from the head (see refusalStatus) is sent at once; the rest of the body
      is then read and dropped, up to refusalDrainBytes and refusalDrainTimeoutMs, so that the
      client has written it all and reads the refusal instead of a reset connection.
    - An answer that the client has not taken within responseWriteTimeoutMs is dropped.
    - A failure to get a descriptor or memory drops the one connection that needed it; workers
      that cannot be started leave the answering to the waiting thread.
    The endpoint file is the host's to write once start() has succeeded, and to remove. */
class Server
{
public:
    explicit Server (MessageHandler answerOne);
    ~Server();   // stop()

    /** Listens on 127.0.0.1 at a port that the system picks, with a new token, and starts the
        threads. False when it cannot listen, make a token or start its waiting thread. A server
        that was stopped answers again; one that is running is stopped first. */
    bool start();

    /** Closes every connection and waits for the threads. A call of answerOne in progress is
        waited for: one that waits for the thread calling stop() must give up by itself.
        Requests not yet begun are dropped. Call start() and stop() from one thread. */
    void stop();

    int port() const;              // 0 when not listening
    juce::String token() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
} // namespace velto::assistant
