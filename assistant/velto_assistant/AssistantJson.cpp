// The JSON wire format over juce::var: the two walkers over the scanner (AssistantJsonScanner.h),
// the one that rewrites text for relaying and the one that builds values, and the writer.
//
// JUCE's own JSON code is not used for the wire: its writer escapes non-ASCII as \u, writes
// "\a" and "undefined", and formats numbers differently between versions; its parser recurses
// without limit and wraps integers beyond 64 bits. Bytes on stdout and on the loopback link must
// be the same on every JUCE version and always valid UTF-8 JSON, so both directions live here.
#include "AssistantInternal.h"
#include "AssistantJsonScanner.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace velto::assistant
{
namespace
{
using namespace json;

/** What parsing and then writing would give, in one pass and without a value, for relaying. */
class Rewriter
{
public:
    /** Appends to `output`, in the room that its capacity gives, and more as it is needed. */
    Rewriter (Scanner& text, std::string& output) : in (text), out (output) {}

    /** Appends the wire form of the value at the scanner, at `depth`, to the output. False where
        a parse would fail; the output then holds some of it. Objects that repeat a name are put
        in the order that a parse keeps once the whole value is written: each byte is copied
        once, however deep such objects nest. */
    bool rewrite (int depth)
    {
        const auto start = out.size();

        if (! rewriteValue (depth))
            return false;

        if (reordered.empty())
            return true;

        std::sort (reordered.begin(), reordered.end(), [] (const auto& a, const auto& b) { return a.start < b.start; });
        std::string ordered;
        copyInOrder (start, out.size(), ordered);
        out.resize (start);
        out += ordered;
        return true;
    }

private:
    /** The output, in a string kept as large as its capacity, its bytes counted beside it: a token
        then goes in with no call into the string's code, which cost more than most tokens do. The
        string is cut to what was written when the rewrite ends. */
    class Output
    {
    public:
        explicit Output (std::string& text) : bytes (text), used (text.size()) { bytes.resize (bytes.capacity()); }
        ~Output() { bytes.resize (used); }

        size_t size() const { return used; }
        const char* data() const { return bytes.data(); }
        void resize (size_t size) { used = size; }   // only ever to cut it
        void operator+= (char c) { *this += std::string_view (&c, 1); }

        void operator+= (std::string_view piece)
        {
            if (bytes.size() - used < piece.size())
                grow (piece.size());

            std::memcpy (&bytes[used], piece.data(), piece.size());
            used += piece.size();
        }

    private:
        std::string& bytes;
        size_t used;

        // Apart from +=, which then stays small enough to be inlined at every token
        void grow (size_t count) { bytes.resize (std::max (used + count, 2 * bytes.size() + 256)); }
    };

    /** A member of an object being written: where its name, its value and its end stand in the
        output, and which member's value it takes (its own, unless its name is given again). */
    struct Member
    {
        size_t name, value, end, lastValue;
        bool repeat;
    };

    /** An object that gives a name more than once goes out as a parsed value holds it: each name
        in the place where it was first given, with the value it was given last. The output from
        `start`, its opening brace, to `end`, its closing one, is then `pieces` of it, in turn. */
    struct Reordered
    {
        size_t start, end;
        std::vector<std::pair<size_t, size_t>> pieces;   // from, to
    };

    /** Compared one by one up to this many names an object; past that, through a hash table, so
        that a look-up costs the same however wide the object grows. */
    static constexpr size_t fewNames = 8;

    Scanner& in;
    Output out;
    std::string decoded, escaped;       // a string that is not copied as it stands, as UTF-8 and as written
    std::vector<Member> members;        // each open object's above its parent's
    std::vector<Reordered> reordered;   // in the order that their objects ended: inner ones first

    bool rewriteValue (int depth)
    {
        switch (in.peek())
        {
            case 0:   return false;
            case '{': return rewriteObject (depth + 1);
            case '[': return rewriteArray (depth + 1);
            case '"': return rewriteString (/* literalAllowed */ true);
            case 't': out += "true";  return in.consumeWord ("true");
            case 'f': out += "false"; return in.consumeWord ("false");
            case 'n': out += "null";  return in.consumeWord ("null");
            default:  return rewriteNumber();
        }
    }

    /** Writes the string at the scanner as a String or a JsonLiteral would be written back.
        Nearly every string goes across as it stands. */
    bool rewriteString (bool literalAllowed)
    {
        if (std::string_view quoted; in.stringAsWritten (quoted))
        {
            out += quoted;
            return true;
        }

        bool needsLiteral = false;
        decoded.clear();
        escaped.clear();

        if (! in.readString (&decoded, literalAllowed, needsLiteral))
            return false;

        writeQuoted (escaped, decoded);
        out += escaped;
        return true;
    }

    bool rewriteNumber()
    {
        std::string_view text;
        NumberForm form;

        if (! in.number (text, form))
            return false;

        // JSON allows no '+' and no leading zero, so an integer of any size, and nearly every
        // fraction, is written as it was read (but -0, which is 0); most others are made from
        // their digits alone; the rest go through a double
        if (form == NumberForm::integer)
            out += text[0] == '-' && text == "-0" ? "0" : text;
        else if (form == NumberForm::fraction && isWrittenAsDouble (text))
            out += text;
        else if (const auto fromDigits = decimalFromDigits (text); fromDigits.size > 0)
            out += fromDigits.view();
        else if (const auto real = readDouble (text))
            out += doubleText (*real).view();
        else
            out += text;

        return true;
    }

    bool rewriteArray (int depth)
    {
        out += '[';
        const auto arrayStart = out.size();

        const bool read = in.elements (depth, [&]
        {
            if (out.size() > arrayStart)
                out += ", ";

            return rewriteValue (depth);
        });

        out += ']';
        return read;
    }

    bool rewriteObject (int depth)
    {
        out += '{';
        const auto objectStart = out.size();
        const auto first = members.size();
        std::vector<uint32_t> names;
        bool anyRepeat = false;

        const bool read = in.members (depth, [&]
        {
            if (members.size() > first)
                out += ", ";

            const auto name = out.size();

            if (! rewriteString (/* literalAllowed */ false) || ! in.consume (':'))
                return false;

            out += ": ";
            const auto value = out.size();

            if (! rewriteValue (depth))
                return false;

            members.push_back ({ name, value, out.size(), members.size(), false });

            if (const auto earlier = earlierWithName (first, names))
            {
                members[*earlier].lastValue = members.size() - 1;
                members.back().repeat = anyRepeat = true;
            }

            return true;
        });

        if (read && anyRepeat)
            recordParsedOrder (first, objectStart);

        members.resize (first);
        out += '}';
        return read;
    }

    /** A member's name as written, which is the same for equal names however they were read. */
    std::string_view nameOf (size_t member) const
    {
        return std::string_view (out.data() + members[member].name, members[member].value - 2 - members[member].name);
    }

    /** The member of this object, from `first` on, that first had the newest member's name, or
        none. Past a few names, `slots` is a hash table of member indices plus one (0: empty), at
        least twice as large as the names, and small enough to stay in the caches. */
    std::optional<size_t> earlierWithName (size_t first, std::vector<uint32_t>& slots) const
    {
        const auto newest = members.size() - 1;
        const auto name = nameOf (newest);

        if (newest - first < fewNames)
        {
            for (auto i = first; i < newest; ++i)
                if (! members[i].repeat && nameOf (i) == name)
                    return i;

            return {};
        }

        if (slots.size() < 2 * (newest - first + 1))
        {
            slots.assign (std::max<size_t> (256, slots.size() * 2), 0);   // a power of two, for the mask

            for (auto i = first; i < newest; ++i)
                if (! members[i].repeat)
                    slotOf (nameOf (i), slots) = (uint32_t) i + 1;
        }

        auto& slot = slotOf (name, slots);

        if (slot != 0)
            return slot - 1;

        slot = (uint32_t) newest + 1;
        return {};
    }

    /** The slot that holds `name`, or the empty one where it would go: linear probing from its hash. */
    uint32_t& slotOf (std::string_view name, std::vector<uint32_t>& slots) const
    {
        auto slot = std::hash<std::string_view>() (name) & (slots.size() - 1);

        while (slots[slot] != 0 && nameOf (slots[slot] - 1) != name)
            slot = (slot + 1) & (slots.size() - 1);

        return slots[slot];
    }

    void recordParsedOrder (size_t first, size_t objectStart)
    {
        Reordered object { objectStart - 1, out.size(), {} };

        // Each name with the ", " before it, where it has one, and ": ", then its last value; a
        // piece that begins where the one before ends joins it
        auto add = [&pieces = object.pieces] (size_t from, size_t to)
        {
            if (! pieces.empty() && pieces.back().second == from)
                pieces.back().second = to;
            else
                pieces.push_back ({ from, to });
        };

        for (auto i = first; i < members.size(); ++i)
        {
            if (members[i].repeat)
                continue;

            const auto& last = members[members[i].lastValue];
            add (i > first ? members[i].name - 2 : members[i].name, members[i].value);
            add (last.value, last.end);
        }

        reordered.push_back (std::move (object));
    }

    void copyInOrder (size_t from, size_t to, std::string& ordered) const
    {
        for (;;)
        {
            // The first reordered object from here on; those inside it are reached through its pieces
            const auto next = std::lower_bound (reordered.begin(), reordered.end(), from,
                                                [] (const Reordered& object, size_t position) { return object.start < position; });

            if (next == reordered.end() || next->start >= to)
            {
                ordered.append (out.data() + from, to - from);
                return;
            }

            ordered.append (out.data() + from, next->start - from);
            ordered += '{';

            for (const auto& [pieceFrom, pieceTo] : next->pieces)
                copyInOrder (pieceFrom, pieceTo, ordered);

            from = next->end;
        }
    }
};

//==============================================================================
/** What builds values: the juce::var of a whole text, or only what decides a message's answer. */
class Builder
{
public:
    /** parseJson, or where `envelopesOnly`, parseEnvelopes. */
    static bool parse (std::string_view utf8, juce::var& result, bool envelopesOnly)
    {
        Scanner in (utf8);
        Builder builder (in);
        juce::var parsed;
        const auto reading = envelopesOnly ? Reading::message : Reading::whole;
        const bool read = in.atObjectOrArray()
                       && (in.peek() == '{' ? builder.parseObject (parsed, 1, reading) : builder.parseArray (parsed, 1, reading));

        if (read)
            result = std::move (parsed);

        return read;
    }

private:
    /** What an object is read for: whole, as parseJson reads all; as a message, of which only
        "id", "method" and "params" are kept; or as its params, of which "protocolVersion" is. */
    enum class Reading { whole, message, params };

    Scanner& in;
    std::string scratch;   // the string being read, its memory kept from one to the next

    explicit Builder (Scanner& text) : in (text) {}

    /** The value at the scanner, at `depth`. */
    bool parseValue (juce::var& result, int depth)
    {
        switch (in.peek())
        {
            case 0:   return false;
            case '{': return parseObject (result, depth + 1, Reading::whole);
            case '[': return parseArray (result, depth + 1, Reading::whole);
            case '"': return parseString (result);
            case 't': result = true;        return in.consumeWord ("true");
            case 'f': result = false;       return in.consumeWord ("false");
            case 'n': result = juce::var(); return in.consumeWord ("null");
            default:  return parseNumber (result);
        }
    }

    /** The array at the scanner. Read as a batch of messages, each object in it is a message, and
        anything else, which gets no answer, is read and dropped. */
    bool parseArray (juce::var& result, int depth, Reading reading)
    {
        result = juce::Array<juce::var>();

        return in.elements (depth, [&]
        {
            juce::var element;
            const bool read = reading == Reading::whole ? parseValue (element, depth)
                            : in.peek() == '{' ? parseObject (element, depth + 1, Reading::message) : in.skipValue (depth);
            result.getArray()->add (std::move (element));
            return read;
        });
    }

    /** A string value. U+0000 and unpaired surrogates cannot live in a juce::String, so a value
        holding one becomes a JsonLiteral of its JSON text. */
    bool parseString (juce::var& result)
    {
        bool needsLiteral = false;
        std::string json;
        scratch.clear();

        if (! in.readString (&scratch, /* literalAllowed */ true, needsLiteral))
            return false;

        if (needsLiteral)
            writeQuoted (json, scratch);

        result = needsLiteral ? juce::var (new JsonLiteral (std::move (json))) : juce::var (stringFromValidUtf8 (scratch));
        return true;
    }

    /** A number as the int, int64 or double that carries it unchanged, or else a JsonLiteral. */
    bool parseNumber (juce::var& result)
    {
        std::string_view text;
        NumberForm form;
        juce::int64 integer = 0;

        if (! in.number (text, form))
            return false;

        if (form == NumberForm::integer && std::from_chars (text.data(), text.data() + text.size(), integer).ec == std::errc())
            result = integer >= INT32_MIN && integer <= INT32_MAX ? juce::var ((int) integer) : juce::var (integer);
        else if (const auto real = form != NumberForm::integer ? readDouble (text) : std::nullopt)
            result = *real;
        else
            result = juce::var (new JsonLiteral (std::string (text)));

        return true;
    }

    /** The object at the scanner, as `reading` says. A name given twice keeps its first place and
        takes its last value. A message and its params are read in time in proportion to the text
        however wide they are: what is dropped is only skipped, and what is kept and only ever
        echoed, an object or an array, is its wire text, never a DynamicObject, which looks a name
        up among all its members for each one added. */
    bool parseObject (juce::var& result, int depth, Reading reading)
    {
        auto* object = new juce::DynamicObject();
        result = juce::var (object);
        std::string name;   // its own, as the name is needed after the value is read

        return in.members (depth, [&]
        {
            // A String cannot hold U+0000 or an unpaired surrogate, so in a name they become U+FFFD
            bool unused = false;
            name.clear();

            if (! in.readString (&name, /* literalAllowed */ false, unused) || ! in.consume (':'))
                return false;

            if (! isKept (reading, name))
                return in.skipValue (depth);

            juce::var member;
            const bool read = reading == Reading::whole ? parseValue (member, depth)
                            : reading == Reading::message && name == "params" && in.peek() == '{' ? parseObject (member, depth + 1, Reading::params)
                                                                                                  : keepValue (member, depth);

            // NamedValueSet::set leaves the old value where JUCE holds it equal to the new one,
            // which it does loosely (0.1 and 0.10000000000000002, [1] and ["1"]): the last value
            // goes in through the property's own slot then
            auto& properties = object->getProperties();
            const NameIdentifier identifier (name);

            if (read && ! properties.set (identifier, member))
                *properties.getVarPointer (identifier) = std::move (member);

            return read;
        });
    }

    static bool isKept (Reading reading, std::string_view name)
    {
        if (reading == Reading::message)
            return name == "id" || name == "method" || name == "params";

        return reading == Reading::whole || name == "protocolVersion";
    }

    /** A value as parseValue gives it, but an object or an array as a JsonLiteral of its wire form. */
    bool keepValue (juce::var& result, int depth)
    {
        if (const auto next = in.peek(); next != '{' && next != '[')
            return parseValue (result, depth);

        std::string wire;

        if (! Rewriter (in, wire).rewrite (depth))
            return false;

        result = juce::var (new JsonLiteral (std::move (wire)));
        return true;
    }
};

//==============================================================================
/** An array's or an object's `count` items between `open` and `close`, each written by
    `writeItem`. The endpoint file's layout, where `lineBreak` is not empty, puts each on a line of
    its own, two spaces deeper; the wire's has no lines. */
template <typename WriteItem>
void writeItems (std::string& out, char open, char close, int count, std::string_view lineBreak, int indent, WriteItem&& writeItem)
{
    const auto breakLine = [&] (int spaces)
    {
        if (! lineBreak.empty())
            out.append (lineBreak).append ((size_t) spaces, ' ');
    };

    out += open;

    for (int i = 0; i < count; ++i)
    {
        if (i > 0)
            out += lineBreak.empty() ? ", " : ",";

        breakLine (indent + 2);
        writeItem (i);
    }

    if (count > 0)
        breakLine (indent);

    out += close;
}

void writeString (std::string& out, const juce::String& text)
{
    writeQuoted (out, { text.toRawUTF8(), text.getNumBytesAsUTF8() });
}

void writeValue (std::string& out, const juce::var& value, std::string_view lineBreak, int indent)
{
    if (value.isString())
    {
        writeString (out, value.toString());
    }
    else if (value.isBool())
    {
        out += (bool) value ? "true" : "false";
    }
    else if (value.isInt() || value.isInt64())
    {
        out += std::to_string ((juce::int64) value);
    }
    else if (value.isDouble())
    {
        out += doubleText ((double) value).view();
    }
    else if (const auto* array = value.getArray())
    {
        writeItems (out, '[', ']', array->size(), lineBreak, indent, [&] (int i)
        {
            writeValue (out, array->getReference (i), lineBreak, indent + 2);
        });
    }
    else if (auto* object = value.getDynamicObject())
    {
        const auto& properties = object->getProperties();

        writeItems (out, '{', '}', properties.size(), lineBreak, indent, [&] (int i)
        {
            const auto& member = properties.begin()[i];   // getName (i) would copy its Identifier
            writeString (out, member.name.toString());
            out += ": ";
            writeValue (out, member.value, lineBreak, indent + 2);
        });
    }
    else if (const auto* literal = dynamic_cast<const JsonLiteral*> (value.getObject()))
    {
        out += literal->text;
    }
    else
    {
        out += "null";   // void, undefined, and what JSON cannot carry (methods, binary data)
    }
}

juce::String toJsonWithLayout (const juce::var& value, std::string_view lineBreak)
{
    std::string out;
    out.reserve (256);
    writeValue (out, value, lineBreak, 0);
    return stringFromValidUtf8 (out);
}
} // namespace

//==============================================================================
bool parseJson (std::string_view utf8, juce::var& result)
{
    return Builder::parse (utf8, result, /* envelopesOnly */ false);
}

bool parseJson (const juce::String& text, juce::var& result)
{
    return parseJson (std::string_view (text.toRawUTF8(), text.getNumBytesAsUTF8()), result);
}

bool parseEnvelopes (std::string_view utf8, juce::var& result)
{
    return Builder::parse (utf8, result, /* envelopesOnly */ true);
}

bool rewriteJson (std::string_view utf8, std::string& out)
{
    const auto size = out.size();
    out.reserve (size + utf8.size() + utf8.size() / 4 + 16);   // separators grow by a blank each
    Scanner in (utf8);

    if (in.atObjectOrArray() && Rewriter (in, out).rewrite (0))
        return true;

    out.resize (size);
    return false;
}

juce::String toJson (const juce::var& value)
{
    return toJsonWithLayout (value, "");
}

void appendJson (std::string& out, const juce::var& value)
{
    writeValue (out, value, "", 0);
}

juce::String toJsonMultiLine (const juce::var& value)
{
    return toJsonWithLayout (value, "\r\n");
}
} // namespace velto::assistant
