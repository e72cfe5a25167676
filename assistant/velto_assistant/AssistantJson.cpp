// The JSON wire format over juce::var.
//
// JUCE's own JSON code is not used for the wire: its writer escapes non-ASCII as \u, writes
// "\a" and "undefined", and formats numbers differently between versions; its parser recurses
// without limit and wraps integers beyond 64 bits. Bytes on stdout and on the loopback link must
// be the same on every JUCE version and always valid UTF-8 JSON, so both directions live here.
#include "AssistantShared.h"
#include "AssistantPlatform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace velto::assistant
{
namespace
{
constexpr const char* replacementCharacter = "\xEF\xBF\xBD";   // U+FFFD in UTF-8

/** Printable ASCII but the quote and the backslash: what a JSON string carries as itself, and
    what nearly every string is made of, so it goes in and out in runs. One look-up a byte. */
bool isPlainAscii (unsigned char c)
{
    static constexpr auto table = []
    {
        std::array<bool, 256> plain {};

        for (int i = 0x20; i < 0x80; ++i)
            plain[(size_t) i] = i != '"' && i != '\\';

        return plain;
    }();

    return table[c];
}

/** Where the run of plain ASCII that starts at `from` ends. */
const char* endOfPlainAscii (const char* from, const char* end)
{
    while (from != end && isPlainAscii ((unsigned char) *from))
        ++from;

    return from;
}

//==============================================================================
// UTF-8

/** Length of the well-formed UTF-8 sequence at p (at most `left` bytes), or 0 when there is
    none. Surrogate code points are not well-formed UTF-8 and give 0. */
size_t utf8SequenceLength (const unsigned char* p, size_t left)
{
    const auto lead = p[0];

    if (lead < 0x80)
        return 1;

    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;   // the bounds of the second byte

    if (lead >= 0xC2 && lead <= 0xDF)       length = 2;
    else if (lead == 0xE0)                  { length = 3; low = 0xA0; }
    else if (lead >= 0xE1 && lead <= 0xEC)  length = 3;
    else if (lead == 0xED)                  { length = 3; high = 0x9F; }
    else if (lead >= 0xEE && lead <= 0xEF)  length = 3;
    else if (lead == 0xF0)                  { length = 4; low = 0x90; }
    else if (lead >= 0xF1 && lead <= 0xF3)  length = 4;
    else if (lead == 0xF4)                  { length = 4; high = 0x8F; }
    else                                    return 0;

    if (left < length || p[1] < low || p[1] > high)
        return 0;

    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;

    return length;
}

void appendUtf8 (std::string& out, uint32_t codePoint)
{
    if (codePoint < 0x80)
    {
        out += (char) codePoint;
    }
    else if (codePoint < 0x800)
    {
        out += (char) (0xC0 | (codePoint >> 6));
        out += (char) (0x80 | (codePoint & 0x3F));
    }
    else if (codePoint < 0x10000)
    {
        out += (char) (0xE0 | (codePoint >> 12));
        out += (char) (0x80 | ((codePoint >> 6) & 0x3F));
        out += (char) (0x80 | (codePoint & 0x3F));
    }
    else
    {
        out += (char) (0xF0 | (codePoint >> 18));
        out += (char) (0x80 | ((codePoint >> 12) & 0x3F));
        out += (char) (0x80 | ((codePoint >> 6) & 0x3F));
        out += (char) (0x80 | (codePoint & 0x3F));
    }
}

juce::String stringFromValidUtf8 (const std::string& utf8)
{
    return juce::String::fromUTF8 (utf8.data(), (int) utf8.size());
}

//==============================================================================
// Writer

/** Writes the bytes as the inside of a JSON string. Well-formed UTF-8 passes as itself. The
    parser stores U+0000 as a NUL byte and an unpaired surrogate as its three-byte form (ED A0..BF
    xx) inside a JsonLiteral's source; both go back out as \u escapes. Any other ill-formed byte
    becomes U+FFFD, so the output is valid UTF-8 whatever a String was built from. */
void writeStringBody (std::string& out, const char* data, size_t size)
{
    static constexpr char hexDigits[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*> (data);
    size_t i = 0;

    auto writeUnicodeEscape = [&out] (uint32_t unit)
    {
        out += "\\u";
        out += hexDigits[(unit >> 12) & 0xF];
        out += hexDigits[(unit >> 8) & 0xF];
        out += hexDigits[(unit >> 4) & 0xF];
        out += hexDigits[unit & 0xF];
    };

    while (i < size)
    {
        const auto c = p[i];

        // A run of plain ASCII, the most of any string, goes out at once
        if (isPlainAscii (c))
        {
            const auto run = i;
            i = (size_t) (endOfPlainAscii (data + i, data + size) - data);
            out.append (data + run, i - run);
            continue;
        }

        switch (c)
        {
            case '"':  out += "\\\""; ++i; continue;
            case '\\': out += "\\\\"; ++i; continue;
            case '\b': out += "\\b";  ++i; continue;
            case '\t': out += "\\t";  ++i; continue;
            case '\n': out += "\\n";  ++i; continue;
            case '\f': out += "\\f";  ++i; continue;
            case '\r': out += "\\r";  ++i; continue;
            default: break;
        }

        if (c < 0x20)
        {
            writeUnicodeEscape (c);
            ++i;
            continue;
        }

        if (const auto length = utf8SequenceLength (p + i, size - i))
        {
            out.append (data + i, length);
            i += length;
        }
        else if (c == 0xED && size - i >= 3 && p[i + 1] >= 0xA0 && p[i + 1] <= 0xBF
                 && p[i + 2] >= 0x80 && p[i + 2] <= 0xBF)
        {
            writeUnicodeEscape (0xD000u | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu));
            i += 3;
        }
        else
        {
            out += replacementCharacter;
            ++i;
        }
    }
}

void writeString (std::string& out, const juce::String& text)
{
    const char* utf8 = text.toRawUTF8();
    out += '"';
    writeStringBody (out, utf8, std::strlen (utf8));
    out += '"';
}

/** The shortest text that reads back as the same double, in plain digits where that needs at
    most 15 decimal places; a whole number keeps ".0" so that it reads back as a double too.
    Where 15 places would not carry the value (2.5e-15, 0.12345678901234566), a number is never
    rounded to fit: an id must come back as it was sent. Its digits are then written in whichever
    of the plain and the exponent form is shorter. */
void writeDouble (std::string& out, double value)
{
    if (! std::isfinite (value))
    {
        out += "null";   // JSON has no infinity or NaN
        return;
    }

    const platform::ClassicNumbers classicNumbers;   // "0.5", never "0,5", and read back so
    char buffer[64];
    int precision = 1;

    for (; precision < 17; ++precision)
    {
        std::snprintf (buffer, sizeof (buffer), "%.*e", precision - 1, value);

        if (std::equal_to<double>() (std::strtod (buffer, nullptr), value))   // exactly, on purpose
            break;
    }

    std::snprintf (buffer, sizeof (buffer), "%.*e", precision - 1, value);

    // buffer is now "[-]d[.ddd]e[+-]xx": split it into sign, digits and decimal exponent
    std::string digits;
    const char* p = buffer;
    const bool negative = (*p == '-');

    if (negative)
        ++p;

    for (; *p != 'e'; ++p)
        if (*p != '.')
            digits += *p;

    const int exponent = std::atoi (p + 1);
    const int decimals = std::max (0, (int) digits.size() - 1 - exponent);

    std::string exponentForm (negative ? "-" : "");
    exponentForm += digits[0];

    if (digits.size() > 1)
        exponentForm += '.' + digits.substr (1);

    exponentForm += 'e' + std::to_string (exponent);

    if (exponent >= 21)
    {
        out += exponentForm;   // too large for plain digits
        return;
    }

    if (decimals > 15)
    {
        // A double has at most 17 significant digits, so more than 15 places put the point
        // after the first of them at most
        std::string plain (negative ? "-" : "");

        if (exponent < 0)
            plain.append ("0.").append ((size_t) (-exponent - 1), '0').append (digits);
        else
            plain.append (digits, 0, (size_t) exponent + 1).append (".").append (digits, (size_t) exponent + 1);

        out += plain.size() <= exponentForm.size() ? plain : exponentForm;
        return;
    }

    std::snprintf (buffer, sizeof (buffer), "%.*f", decimals, value);
    out += buffer;

    if (decimals == 0)
        out += ".0";
}

struct Layout
{
    bool multiLine;
    const char* lineBreak;
};

void writeValue (std::string& out, const juce::var& value, const Layout& layout, int indent);

void writeLineAndIndent (std::string& out, const Layout& layout, int indent)
{
    if (layout.multiLine)
    {
        out += layout.lineBreak;
        out.append ((size_t) indent, ' ');
    }
}

void writeValue (std::string& out, const juce::var& value, const Layout& layout, int indent)
{
    const char* separator = layout.multiLine ? "," : ", ";

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
        writeDouble (out, (double) value);
    }
    else if (const auto* array = value.getArray())
    {
        if (array->isEmpty())
        {
            out += "[]";
            return;
        }

        out += '[';

        for (int i = 0; i < array->size(); ++i)
        {
            if (i > 0)
                out += separator;

            writeLineAndIndent (out, layout, indent + 2);
            writeValue (out, array->getReference (i), layout, indent + 2);
        }

        writeLineAndIndent (out, layout, indent);
        out += ']';
    }
    else if (auto* object = value.getDynamicObject())
    {
        const auto& properties = object->getProperties();

        if (properties.isEmpty())
        {
            out += "{}";
            return;
        }

        out += '{';

        for (int i = 0; i < properties.size(); ++i)
        {
            if (i > 0)
                out += separator;

            writeLineAndIndent (out, layout, indent + 2);
            writeString (out, properties.getName (i).toString());
            out += ": ";
            writeValue (out, properties.getValueAt (i), layout, indent + 2);
        }

        writeLineAndIndent (out, layout, indent);
        out += '}';
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

juce::String toJsonWithLayout (const juce::var& value, const Layout& layout)
{
    std::string out;
    out.reserve (256);
    writeValue (out, value, layout, 0);
    return stringFromValidUtf8 (out);
}

//==============================================================================
// Parser

/** The member names that nearly every message and endpoint file holds, made once: making an
    Identifier otherwise takes a lock on JUCE's global string pool, for every member. */
juce::Identifier identifierFor (std::string_view name)
{
    static const juce::Identifier common[] = { "jsonrpc", "id", "method", "params", "result", "error", "code", "message",
                                                "name", "arguments", "content", "type", "text", "isError",
                                                "port", "token", "note", "protocolVersion" };

    for (const auto& identifier : common)
        if (const auto text = identifier.getCharPointer(); std::string_view (text.getAddress()) == name)
            return identifier;

    return juce::String::fromUTF8 (name.data(), (int) name.size());
}

/** The member names of one object being rewritten, each as it stands in the output: equal names
    are written equally. The first few are compared one by one as they come, as nearly every
    object has only a few. Past that they are only gathered, and checked together once the object
    has ended: sorted by their hashes in a few passes over memory in order, which a wide object's
    hash table, outgrowing the processor's caches, would not be. Each name costs the same however
    wide the object grows. */
class WrittenNames
{
public:
    explicit WrittenNames (const std::string& written) : out (written) {}

    /** False when the name equals one of the first few; later ones are for allDistinct(). */
    bool add (size_t start, size_t length)
    {
        const Name name { start, length };

        if (names.size() < fewNames)
            for (const auto& earlier : names)
                if (textOf (earlier) == textOf (name))
                    return false;

        names.push_back (name);
        return true;
    }

    /** Whether no two names of the object are equal, once all are in. */
    bool allDistinct() const
    {
        if (names.size() <= fewNames)
            return true;

        // Each key is a name's hash above its index: sorted by the hash, equal names stand
        // together, among the few others that share their hash
        std::vector<uint64_t> keys (names.size()), sorted (names.size());

        for (size_t i = 0; i < names.size(); ++i)
            keys[i] = (uint64_t) hashOf (names[i]) << 32 | i;

        // Three passes of 11 bits cover the 32 of the hash; the counts fit in the nearest cache
        constexpr int digitBits = 11;
        constexpr uint64_t digitMask = (1u << digitBits) - 1;

        for (int shift = 32; shift < 64; shift += digitBits)
        {
            std::vector<uint32_t> starts (digitMask + 2, 0);

            for (const auto key : keys)
                ++starts[((key >> shift) & digitMask) + 1];

            for (size_t digit = 1; digit < starts.size(); ++digit)
                starts[digit] += starts[digit - 1];

            for (const auto key : keys)
                sorted[starts[(key >> shift) & digitMask]++] = key;

            keys.swap (sorted);
        }

        for (size_t first = 0, next; first < keys.size(); first = next)
        {
            for (next = first + 1; next < keys.size() && keys[next] >> 32 == keys[first] >> 32; ++next) {}

            for (auto a = first; a < next; ++a)
                for (auto b = a + 1; b < next; ++b)
                    if (textOf (names[(uint32_t) keys[a]]) == textOf (names[(uint32_t) keys[b]]))
                        return false;
        }

        return true;
    }

private:
    struct Name { size_t start, length; };

    static constexpr size_t fewNames = 8;

    std::string_view textOf (const Name& name) const
    {
        return std::string_view (out).substr (name.start, name.length);
    }

    uint32_t hashOf (const Name& name) const
    {
        uint32_t hash = 2166136261u;   // FNV-1a: short names, hashed in a few nanoseconds

        for (const auto c : textOf (name))
            hash = (hash ^ (unsigned char) c) * 16777619u;

        return hash;
    }

    const std::string& out;   // by position, not by view: the output moves as it grows
    std::vector<Name> names;
};

class Parser
{
public:
    Parser (const char* first, const char* last) : p (first), end (last) {}

    bool parseTopLevel (juce::var& result)
    {
        return atObjectOrArray() && parseValue (result, 0);
    }

    bool rewriteTopLevel (std::string& out)
    {
        return atObjectOrArray() && rewriteValue (out, 0);
    }

    bool parseEnvelopesTopLevel (juce::var& result)
    {
        if (! atObjectOrArray())
            return false;

        if (*p == '{')
            return parseMembers (result, 1, keptInMessage);

        // A batch, whose elements are at depth 2 as parseValue would take them: each object is a
        // message, and anything else, which gets no answer, is read and dropped
        ++p;   // '['
        result = juce::Array<juce::var>();
        auto& batch = *result.getArray();

        if (consume (']'))
            return true;

        for (;;)
        {
            skipWhiteSpace();
            juce::var element;

            if (! (p != end && *p == '{' ? parseMembers (element, 2, keptInMessage) : skipValue (1)))
                return false;

            batch.add (std::move (element));

            if (consume (']'))
                return true;

            if (! consume (','))
                return false;
        }
    }

private:
    const char* p;
    const char* const end;

    bool atObjectOrArray()
    {
        skipWhiteSpace();
        return p != end && (*p == '{' || *p == '[');
    }

    void skipWhiteSpace()
    {
        // Compact JSON has none: one comparison says so for nearly every token
        while (p != end && (unsigned char) *p <= ' ' && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }

    bool consume (char expected)
    {
        skipWhiteSpace();

        if (p != end && *p == expected)
        {
            ++p;
            return true;
        }

        return false;
    }

    bool consumeWord (const char* word, size_t length)
    {
        if ((size_t) (end - p) < length || std::memcmp (p, word, length) != 0)
            return false;

        p += length;
        return true;
    }

    bool parseValue (juce::var& result, int depth)
    {
        skipWhiteSpace();

        if (p == end)
            return false;

        switch (*p)
        {
            case '{': return parseObject (result, depth + 1);
            case '[': return parseArray (result, depth + 1);
            case '"': return parseString (result);
            case 't': result = true;  return consumeWord ("true", 4);
            case 'f': result = false; return consumeWord ("false", 5);
            case 'n': result = juce::var(); return consumeWord ("null", 4);
            default:  return parseNumber (result);
        }
    }

    bool parseObject (juce::var& result, int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '{'
        auto* object = new juce::DynamicObject();
        result = juce::var (object);

        if (consume ('}'))
            return true;

        for (;;)
        {
            skipWhiteSpace();
            std::string key;
            bool unused = false;

            if (p == end || *p != '"' || ! readString (key, false, unused) || ! consume (':'))
                return false;

            juce::var member;

            if (! parseValue (member, depth))
                return false;

            object->setProperty (identifierFor (key), member);

            if (consume ('}'))
                return true;

            if (! consume (','))
                return false;
        }
    }

    bool parseArray (juce::var& result, int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '['
        result = juce::Array<juce::var>();
        auto& array = *result.getArray();

        if (consume (']'))
            return true;

        for (;;)
        {
            juce::var element;

            if (! parseValue (element, depth))
                return false;

            array.add (std::move (element));

            if (consume (']'))
                return true;

            if (! consume (','))
                return false;
        }
    }

    static int hexValue (char c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool parseHex4 (uint32_t& unit)
    {
        if (end - p < 4)
            return false;

        unit = 0;

        for (int i = 0; i < 4; ++i)
        {
            const int digit = hexValue (p[i]);

            if (digit < 0)
                return false;

            unit = (unit << 4) | (uint32_t) digit;
        }

        p += 4;
        return true;
    }

    /** Parses a string value. U+0000 and unpaired surrogates cannot live in a juce::String, so a
        value holding one becomes a JsonLiteral of its JSON text. */
    bool parseString (juce::var& result)
    {
        // Plain ASCII, which is what nearly every string is, becomes a String straight from the
        // input: a long one is then copied once, not twice
        const auto* first = p + 1;
        const auto* last = endOfPlainAscii (first, end);

        if (last != end && *last == '"')
        {
            result = juce::String::fromUTF8 (first, (int) (last - first));
            p = last + 1;
            return true;
        }

        std::string text;
        bool needsLiteral = false;

        if (! readString (text, true, needsLiteral))
            return false;

        if (needsLiteral)
        {
            std::string json = "\"";
            writeStringBody (json, text.data(), text.size());
            json += '"';
            result = juce::var (new JsonLiteral (std::move (json)));
        }
        else
        {
            result = stringFromValidUtf8 (text);
        }

        return true;
    }

    /** Collects the string at p as UTF-8 into `text`. U+0000 and unpaired surrogates go in as
        they are, with `needsLiteral` set, where `literalAllowed`; elsewhere (member names, which
        must be Strings) they become U+FFFD. */
    bool readString (std::string& text, bool literalAllowed, bool& needsLiteral)
    {
        ++p;   // '"'

        for (;;)
        {
            if (p == end)
                return false;

            const auto c = (unsigned char) *p;

            if (c == '"')
            {
                ++p;
                break;
            }

            if (c != '\\')
            {
                // A run of plain ASCII, the most of any string, goes in at once
                if (isPlainAscii (c))
                {
                    const auto* run = p;
                    p = endOfPlainAscii (p, end);
                    text.append (run, (size_t) (p - run));
                    continue;
                }

                // A raw NUL is taken as \u0000 would be: a String would end at it
                if (c == 0)
                {
                    if (literalAllowed)
                    {
                        text += '\0';
                        needsLiteral = true;
                    }
                    else
                    {
                        text += replacementCharacter;
                    }

                    ++p;
                    continue;
                }

                // Other raw control characters are tolerated; they go back out escaped
                if (const auto length = utf8SequenceLength ((const unsigned char*) p, (size_t) (end - p)))
                {
                    text.append (p, length);
                    p += length;
                }
                else
                {
                    text += replacementCharacter;
                    ++p;
                }

                continue;
            }

            if (++p == end)
                return false;

            switch (*p++)
            {
                case '"':  text += '"';  break;
                case '\\': text += '\\'; break;
                case '/':  text += '/';  break;
                case 'b':  text += '\b'; break;
                case 'f':  text += '\f'; break;
                case 'n':  text += '\n'; break;
                case 'r':  text += '\r'; break;
                case 't':  text += '\t'; break;
                case 'u':
                {
                    uint32_t unit = 0;

                    if (! parseHex4 (unit))
                        return false;

                    if (unit >= 0xD800 && unit <= 0xDBFF && end - p >= 6 && p[0] == '\\' && p[1] == 'u')
                    {
                        const auto* afterHigh = p;
                        uint32_t low = 0;
                        p += 2;

                        if (parseHex4 (low) && low >= 0xDC00 && low <= 0xDFFF)
                        {
                            appendUtf8 (text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                            break;
                        }

                        p = afterHigh;   // not a pair: the high half stands alone
                    }

                    if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF))
                    {
                        if (! literalAllowed)
                        {
                            text += replacementCharacter;
                            break;
                        }

                        needsLiteral = true;
                    }

                    // NUL and lone surrogates are stored raw; writeStringBody escapes them back
                    appendUtf8 (text, unit);
                    break;
                }
                default:
                    return false;
            }
        }

        return true;
    }

    /** A number as it was read: the integer or double it is, or, beyond what either carries
        unchanged, its own text. */
    struct Number
    {
        enum class Kind { integer, real, literal };

        Kind kind = Kind::integer;
        juce::int64 integer = 0;
        double real = 0;
        std::string literal;
    };

    /** Moves past the number at p, as JSON's grammar has it; false, with p anywhere, when there
        is none. `isInteger` tells whether it had neither a fraction nor an exponent. */
    bool skipNumber (bool& isInteger)
    {
        auto digitsFollow = [this] { return p != end && *p >= '0' && *p <= '9'; };
        auto skipDigits = [this, &digitsFollow] { while (digitsFollow()) ++p; };
        isInteger = true;

        if (p != end && *p == '-')
            ++p;

        if (! digitsFollow())
            return false;

        if (*p == '0')
            ++p;   // JSON allows no leading zeros: "01" ends the number after the 0
        else
            skipDigits();

        if (p != end && *p == '.')
        {
            ++p;

            if (! digitsFollow())
                return false;

            skipDigits();
            isInteger = false;
        }

        if (p != end && (*p == 'e' || *p == 'E'))
        {
            ++p;

            if (p != end && (*p == '+' || *p == '-'))
                ++p;

            if (! digitsFollow())
                return false;

            skipDigits();
            isInteger = false;
        }

        return true;
    }

    bool scanNumber (Number& number)
    {
        const char* start = p;
        bool isInteger = true;

        if (! skipNumber (isInteger))
            return false;

        number.literal.assign (start, p);

        if (isInteger)
        {
            errno = 0;
            number.integer = std::strtoll (number.literal.c_str(), nullptr, 10);
            number.kind = errno == ERANGE ? Number::Kind::literal : Number::Kind::integer;
            return true;
        }

        {
            const platform::ClassicNumbers classicNumbers;   // "3.5" is 3.5 in any locale, not 3
            number.real = std::strtod (number.literal.c_str(), nullptr);
        }

        const auto& text = number.literal;
        const bool lostEveryDigit = std::equal_to<double>() (number.real, 0.0) && text.find_first_of ("123456789") < text.find_first_of ("eE");

        // Beyond a double's range, or so small that every digit was lost
        number.kind = (! std::isfinite (number.real) || lostEveryDigit) ? Number::Kind::literal : Number::Kind::real;
        return true;
    }

    bool parseNumber (juce::var& result)
    {
        Number number;

        if (! scanNumber (number))
            return false;

        switch (number.kind)
        {
            case Number::Kind::integer:
                result = number.integer >= INT32_MIN && number.integer <= INT32_MAX ? juce::var ((int) number.integer)
                                                                                    : juce::var (number.integer);
                break;
            case Number::Kind::real:    result = number.real; break;
            case Number::Kind::literal: result = juce::var (new JsonLiteral (std::move (number.literal))); break;
        }

        return true;
    }

    //==============================================================================
    // Envelopes: what decides a message's answer, in time in proportion to the text however wide
    // its objects are. A DynamicObject looks a name up among all its members for each one added,
    // and JUCE pools every distinct name: building a wide object takes time in its width squared.

    enum class Keep { none, value, params };

    static Keep keptInMessage (std::string_view name)
    {
        if (name == "id" || name == "method")
            return Keep::value;

        return name == "params" ? Keep::params : Keep::none;
    }

    static Keep keptInParams (std::string_view name)
    {
        return name == "protocolVersion" ? Keep::value : Keep::none;
    }

    /** An object of the members that `kept` names, read as parseObject reads them; the others
        are read and dropped. */
    bool parseMembers (juce::var& result, int depth, Keep (*kept) (std::string_view))
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '{'
        auto* object = new juce::DynamicObject();
        result = juce::var (object);

        if (consume ('}'))
            return true;

        for (std::string escapedName;;)
        {
            skipWhiteSpace();
            std::string_view key;

            if (p == end || *p != '"' || ! readName (key, escapedName) || ! consume (':'))
                return false;

            const auto keep = kept (key);
            skipWhiteSpace();

            if (keep == Keep::none)
            {
                if (! skipValue (depth))
                    return false;
            }
            else
            {
                juce::var member;
                const bool isObject = p != end && *p == '{';

                if (! (keep == Keep::params && isObject ? parseMembers (member, depth + 1, keptInParams) : keepValue (member, depth)))
                    return false;

                object->setProperty (identifierFor (key), member);
            }

            if (consume ('}'))
                return true;

            if (! consume (','))
                return false;
        }
    }

    /** A member's name as readString reads one: the plain ASCII that nearly every name is, as it
        stands in the input, and any other in `escaped`. */
    bool readName (std::string_view& name, std::string& escaped)
    {
        const auto* first = p + 1;
        const auto* last = endOfPlainAscii (first, end);

        if (last != end && *last == '"')
        {
            name = std::string_view (first, (size_t) (last - first));
            p = last + 1;
            return true;
        }

        bool unused = false;
        escaped.clear();

        if (! readString (escaped, false, unused))
            return false;

        name = escaped;
        return true;
    }

    /** A value as parseValue gives it, but an object or an array as a JsonLiteral of its wire
        form: what is only ever echoed need not be built. */
    bool keepValue (juce::var& result, int depth)
    {
        skipWhiteSpace();

        if (p == end || (*p != '{' && *p != '['))
            return parseValue (result, depth);

        const auto* start = p;
        std::string wire;

        if (rewriteValue (wire, depth))
        {
            result = juce::var (new JsonLiteral (std::move (wire)));
            return true;
        }

        p = start;   // a member named twice, which only the parsed value settles, or not JSON
        return parseValue (result, depth);
    }

    /** Moves past the value at p as parseValue would read it, making nothing of it. */
    bool skipValue (int depth)
    {
        skipWhiteSpace();

        if (p == end)
            return false;

        switch (*p)
        {
            case '{': return skipMembers (depth + 1);
            case '[': return skipElements (depth + 1);
            case '"': return skipString();
            case 't': return consumeWord ("true", 4);
            case 'f': return consumeWord ("false", 5);
            case 'n': return consumeWord ("null", 4);
            default:  { bool isInteger = true; return skipNumber (isInteger); }
        }
    }

    bool skipMembers (int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '{'

        if (consume ('}'))
            return true;

        for (;;)
        {
            skipWhiteSpace();

            if (p == end || *p != '"' || ! skipString() || ! consume (':') || ! skipValue (depth))
                return false;

            if (consume ('}'))
                return true;

            if (! consume (','))
                return false;
        }
    }

    bool skipElements (int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '['

        if (consume (']'))
            return true;

        for (;;)
        {
            if (! skipValue (depth))
                return false;

            if (consume (']'))
                return true;

            if (! consume (','))
                return false;
        }
    }

    /** Moves past the string at p: readString fails only at its end and on an escape that is not
        JSON's, so only those are looked at. */
    bool skipString()
    {
        ++p;   // '"'

        while (p != end)
        {
            // Straight to the next quote; an escape before it is looked at, and the search goes
            // on after it
            const auto* quote = static_cast<const char*> (std::memchr (p, '"', (size_t) (end - p)));

            if (quote == nullptr)
                return false;

            const auto* escape = static_cast<const char*> (std::memchr (p, '\\', (size_t) (quote - p)));

            if (escape == nullptr)
            {
                p = quote + 1;
                return true;
            }

            p = escape + 1;

            if (p == end)
                return false;

            switch (*p++)
            {
                case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
                    break;
                case 'u':
                {
                    uint32_t unit = 0;

                    if (! parseHex4 (unit))
                        return false;

                    break;
                }
                default:
                    return false;
            }
        }

        return false;
    }

    //==============================================================================
    // Rewriting: what parsing and then writing would give, in one pass and without a value.

    bool rewriteValue (std::string& out, int depth)
    {
        skipWhiteSpace();

        if (p == end)
            return false;

        switch (*p)
        {
            case '{': return rewriteObject (out, depth + 1);
            case '[': return rewriteArray (out, depth + 1);
            case 't': out += "true";  return consumeWord ("true", 4);
            case 'f': out += "false"; return consumeWord ("false", 5);
            case 'n': out += "null";  return consumeWord ("null", 4);

            case '"':
                return rewriteString (out, true);

            default:
            {
                // An integer of up to 18 digits is written as it was read, but "-0", which is 0
                const auto* start = p;
                bool isInteger = true;

                if (! skipNumber (isInteger))
                    return false;

                if (isInteger && p - start <= 18 && ! (p - start == 2 && start[0] == '-' && start[1] == '0'))
                {
                    out.append (start, p);
                    return true;
                }

                p = start;
                Number number;
                scanNumber (number);

                switch (number.kind)
                {
                    case Number::Kind::integer: out += std::to_string (number.integer); break;
                    case Number::Kind::real:    writeDouble (out, number.real); break;
                    case Number::Kind::literal: out += number.literal; break;
                }

                return true;
            }
        }
    }

    /** Writes the string at p as a String or a JsonLiteral would be written back. Plain ASCII,
        which is what nearly every string is, goes across as it stands. */
    bool rewriteString (std::string& out, bool literalAllowed)
    {
        const auto* first = p + 1;
        const auto* last = endOfPlainAscii (first, end);

        if (last != end && *last == '"')
        {
            out.append (p, (size_t) (last + 1 - p));   // with its quotes
            p = last + 1;
            return true;
        }

        std::string text;
        bool needsLiteral = false;

        if (! readString (text, literalAllowed, needsLiteral))
            return false;

        out += '"';
        writeStringBody (out, text.data(), text.size());
        out += '"';
        return true;
    }

    /** Writes what comes before a member's value: ", " after the first, its name, and ": ".
        A plain name, the most of any, goes out in one piece with them, as a wide object has tens
        of thousands. The name's place in `out` goes to `nameStart` and `nameBytes`. False when
        no name and colon stand there. Whatever it wrote on failure, the rewrite drops. */
    bool rewriteMemberName (std::string& out, bool first, size_t& nameStart, size_t& nameBytes)
    {
        static constexpr size_t pieceNameBytes = 64;
        const std::string_view separator = first ? "" : ", ";
        skipWhiteSpace();

        if (p == end || *p != '"')
            return false;

        if (const auto* last = endOfPlainAscii (p + 1, end); last != end && *last == '"' && (size_t) (last + 1 - p) <= pieceNameBytes)
        {
            char piece[pieceNameBytes + 4];
            nameBytes = (size_t) (last + 1 - p);
            std::memcpy (piece, separator.data(), separator.size());
            std::memcpy (piece + separator.size(), p, nameBytes);
            std::memcpy (piece + separator.size() + nameBytes, ": ", 2);
            nameStart = out.size() + separator.size();
            out.append (piece, separator.size() + nameBytes + 2);
            p = last + 1;
            return consume (':');
        }

        out.append (separator);
        nameStart = out.size();

        if (! rewriteString (out, false) || ! consume (':'))
            return false;

        nameBytes = out.size() - nameStart;
        out += ": ";
        return true;
    }

    /** False also for a member named twice: a DynamicObject keeps the first place and the last
        value, which only the parsed value can tell. */
    bool rewriteObject (std::string& out, int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '{'

        if (consume ('}'))
        {
            out += "{}";
            return true;
        }

        out += '{';

        WrittenNames names (out);

        for (bool first = true;; first = false)
        {
            size_t nameStart = 0, nameBytes = 0;

            if (! rewriteMemberName (out, first, nameStart, nameBytes) || ! names.add (nameStart, nameBytes))
                return false;

            if (! rewriteValue (out, depth))
                return false;

            if (consume ('}'))
            {
                out += '}';
                return names.allDistinct();
            }

            if (! consume (','))
                return false;
        }
    }

    bool rewriteArray (std::string& out, int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '['

        if (consume (']'))
        {
            out += "[]";
            return true;
        }

        out += '[';

        for (bool first = true;; first = false)
        {
            if (! first)
                out += ", ";

            if (! rewriteValue (out, depth))
                return false;

            if (consume (']'))
            {
                out += ']';
                return true;
            }

            if (! consume (','))
                return false;
        }
    }
};
} // namespace

//==============================================================================
bool parseJson (std::string_view utf8, juce::var& result)
{
    juce::var parsed;
    Parser parser (utf8.data(), utf8.data() + utf8.size());

    if (! parser.parseTopLevel (parsed))
        return false;

    result = std::move (parsed);
    return true;
}

bool parseJson (const juce::String& text, juce::var& result)
{
    return parseJson (std::string_view (text.toRawUTF8(), text.getNumBytesAsUTF8()), result);
}

bool parseEnvelopes (std::string_view utf8, juce::var& result)
{
    juce::var parsed;
    Parser parser (utf8.data(), utf8.data() + utf8.size());

    if (! parser.parseEnvelopesTopLevel (parsed))
        return false;

    result = std::move (parsed);
    return true;
}

bool rewriteJson (std::string_view utf8, std::string& out)
{
    const auto size = out.size();
    out.reserve (size + utf8.size() + utf8.size() / 4 + 16);   // separators grow by a blank each
    Parser parser (utf8.data(), utf8.data() + utf8.size());

    if (parser.rewriteTopLevel (out))
        return true;

    out.resize (size);
    return false;
}

juce::String toJson (const juce::var& value)
{
    return toJsonWithLayout (value, { false, "" });
}

void appendJson (std::string& out, const juce::var& value)
{
    writeValue (out, value, { false, "" }, 0);
}

juce::String toJsonMultiLine (const juce::var& value)
{
    return toJsonWithLayout (value, { true, "\r\n" });
}

juce::String fromWireBytes (const char* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*> (data);

    // ASCII without NUL, as nearly every body is, is valid UTF-8 as it stands
    if (std::all_of (bytes, bytes + size, [] (unsigned char c) { return c != 0 && c < 0x80; }))
        return juce::String::fromUTF8 (data, (int) size);

    std::string valid;
    valid.reserve (size);

    for (size_t i = 0; i < size && bytes[i] != 0;)
    {
        if (const auto length = utf8SequenceLength (bytes + i, size - i))
        {
            valid.append (data + i, length);
            i += length;
        }
        else
        {
            valid += replacementCharacter;
            ++i;
        }
    }

    return stringFromValidUtf8 (valid);
}
} // namespace velto::assistant
