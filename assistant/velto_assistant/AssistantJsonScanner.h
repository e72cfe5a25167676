// The tokens of JSON text, read left to right: white space, punctuation, literals, strings and
// numbers, and the nesting depth. The two walkers over it, the one that builds values and the
// one that rewrites, read through it alone. Internal to the module's sources.
#pragma once

#include "AssistantJsonText.h"

#include <cerrno>
#include <string_view>

namespace velto::assistant::json
{
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

class Scanner
{
public:
    explicit Scanner (std::string_view text) : p (text.data()), end (text.data() + text.size()) {}

    /** The next character after white space, or 0 at the end of the text. */
    char peek()
    {
        skipWhiteSpace();
        return p != end ? *p : 0;
    }

    /** Whether the text, after white space, begins an object or an array: all that a message is. */
    bool atObjectOrArray()
    {
        const auto next = peek();
        return next == '{' || next == '[';
    }

    /** Moves past `expected` after white space; false, not moving past it, when another stands there. */
    bool consume (char expected)
    {
        if (p != end && *p == expected)   // compact JSON, as nearly every text is
        {
            ++p;
            return true;
        }

        if (peek() != expected)
            return false;

        ++p;
        return true;
    }

    /** Moves past the literal true, false or null at p; false when it is not that word. */
    bool consumeWord (std::string_view word)
    {
        if ((size_t) (end - p) < word.size() || std::memcmp (p, word.data(), word.size()) != 0)
            return false;

        p += word.size();
        return true;
    }

    /** Moves into the object or array at p, one level deeper than `depth`: false past
        maxJsonDepth, so that no text can exhaust the stack of a walker. */
    bool enter (int depth)
    {
        if (depth > maxJsonDepth)
            return false;

        ++p;   // '{' or '['
        return true;
    }

    /** Where it stands, for a walker that tries one reading and falls back to another. */
    const char* position() const { return p; }
    void moveTo (const char* position) { p = position; }

    //==============================================================================
    // Strings

    /** The string at p as it stands, quotes included, when it is all plain ASCII, as nearly every
        string is: moves past it. False, not moving, for any other. */
    bool plainString (std::string_view& quoted)
    {
        const auto* last = endOfPlainAscii (p + 1, end);

        if (last == end || *last != '"')
            return false;

        quoted = std::string_view (p, (size_t) (last + 1 - p));
        p = last + 1;
        return true;
    }

    /** Collects the string at p as UTF-8 into `text`. U+0000 and unpaired surrogates go in as
        they are, with `needsLiteral` set, where `literalAllowed`; elsewhere (member names, which
        must be Strings) they become U+FFFD. False at the end of the text or at an escape that is
        not JSON's. */
    bool readString (std::string& text, bool literalAllowed, bool& needsLiteral)
    {
        ++p;   // '"'

        while (p != end)
        {
            if (*p == '"')
            {
                ++p;
                return true;
            }

            if (*p == '\\')
            {
                if (! readEscape (text, literalAllowed, needsLiteral))
                    return false;
            }
            else
            {
                readRawBytes (text, literalAllowed, needsLiteral);
            }
        }

        return false;
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

            p = escape;
            std::string unused;
            bool unusedLiteral = false;

            if (! readEscape (unused, /* literalAllowed */ true, unusedLiteral))
                return false;
        }

        return false;
    }

    //==============================================================================
    // Numbers

    /** Moves past the number at p, as JSON's grammar has it; false, with p anywhere, when there
        is none. `isInteger` tells whether it had neither a fraction nor an exponent. */
    forcedinline bool skipNumber (bool& isInteger)
    {
        // A local cursor, which stays in a register: this runs once for every number of a text
        const auto* q = p;
        auto skipDigits = [&] { q = endOfDigits (q, end); };
        isInteger = true;

        if (q != end && *q == '-')
            ++q;

        if (q == end || ! isDigit ((unsigned char) *q))
            return false;

        if (*q++ != '0')   // JSON allows no leading zeros: "01" ends the number after the 0
            skipDigits();

        if (q != end && *q == '.')
        {
            if (++q == end || ! isDigit ((unsigned char) *q))
                return false;

            skipDigits();
            isInteger = false;
        }

        if (q != end && (*q == 'e' || *q == 'E'))
        {
            if (++q != end && (*q == '+' || *q == '-'))
                ++q;

            if (q == end || ! isDigit ((unsigned char) *q))
                return false;

            skipDigits();
            isInteger = false;
        }

        p = q;
        return true;
    }

    //==============================================================================
    /** What plainMembers() makes of a string value: passes over any without an escape, as a
        skipper may, or takes only plain ASCII, which a rewrite copies as it stands. */
    enum class Strings { withoutEscapes, plainAscii };

    /** Moves past a run of members of the shape that nearly every member has, with the commas
        between them, for as long as `take (name, value, short)` returns true for each: a name of
        plain ASCII (`name` has its quotes), a colon, and as value a string (see Strings), an
        integer of up to 18 characters but -0, or a literal, with no white space anywhere. Where
        `short` is true, name and value are each shorter than sixteen bytes, and sixteen may be
        read from where each begins. Stops before the first member of any other shape, or that
        `take` refuses, or after the last member of the object, before its '}'. True when it
        moved past at least one member. One tight loop for the tens of thousands of members of a
        wide object. */
    template <Strings strings, typename Take>
    bool plainMembers (Take&& take)
    {
        bool any = false;

        for (const auto* member = p;; member = p + 1)
        {
            if (member == end || *member != '"')
                return any;

            const char* nameEnd = nullptr;
            const char* valueEnd = endOfShortMember (member, nameEnd);
            const bool isShort = valueEnd != nullptr;

            if (! isShort)
            {
                nameEnd = endOfPlainAscii (member + 1, end);

                if (end - nameEnd < 3 || nameEnd[0] != '"' || nameEnd[1] != ':')
                    return any;

                valueEnd = endOfPlainValue<strings> (nameEnd + 2);
            }

            const auto* value = nameEnd + 2;

            if (valueEnd == nullptr
                || ! take (std::string_view (member, (size_t) (nameEnd + 1 - member)), std::string_view (value, (size_t) (valueEnd - value)), isShort))
                return any;

            p = valueEnd;
            any = true;

            if (p == end || *p != ',')
                return true;
        }
    }

    /** How many bytes of the text are left from `from` on, for a copy that reads a few more than
        it keeps. */
    size_t bytesLeftFrom (const char* from) const { return (size_t) (end - from); }

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

    //==============================================================================
    /** Moves past the value at p as a walker would read it, at `depth`, making nothing of it. */
    bool skipValue (int depth)
    {
        switch (peek())
        {
            case 0:   return false;
            case '{': return skipMembers (depth + 1);
            case '[': return skipElements (depth + 1);
            case '"': return skipString();
            case 't': return consumeWord ("true");
            case 'f': return consumeWord ("false");
            case 'n': return consumeWord ("null");
            default:  { bool isInteger = true; return skipNumber (isInteger); }
        }
    }

private:
    const char* p;
    const char* const end;

    /** Where the value of the member at `member` ends, when the sixteen bytes from there hold all
        of it and the ',' or '}' after it: a name of plain ASCII, and as value a string of plain
        ASCII or an integer that is written as it was read (see endOfPlainValue). Its name's
        closing quote goes to `nameEnd`. Nullptr for any other member, for one whose name or
        string holds a ',' or '}', and where fewer than shortMemberBytesLeft are left. */
    const char* endOfShortMember (const char* member, const char*& nameEnd) const
    {
        // Its sixteen bytes, and sixteen more from its value on, for a copy of that many
        constexpr ptrdiff_t shortMemberBytesLeft = 32;

        if (! platform::littleEndian || end - member < shortMemberBytesLeft)
            return nullptr;

        // A wide object is read one member after another, and each waits for where the last
        // ended: that is the first ',' or '}' in the sixteen bytes, found in a few steps. All
        // else is checked beside it, where nothing waits for the checks but a branch foreseen.
        const auto marks = marksOfSixteen (member);

        if (marks.memberEnds == 0)
            return nullptr;

        const auto last = (uint32_t) __builtin_ctz (marks.memberEnds);
        const auto quotes = marks.notPlainAscii & ~1u;   // past the opening one
        const auto quote = (uint32_t) __builtin_ctz (quotes | 1u << 16), value = quote + 2;

        if (value >= last || member[quote] != '"' || member[quote + 1] != ':')
            return nullptr;

        if (member[value] == '"')
        {
            // Plain ASCII between its quotes, the closing one right before the end
            const auto valueBytes = (1u << last) - (1u << value);

            if (last - 1 == value || (marks.notPlainAscii & valueBytes) != (1u << value | 1u << (last - 1)) || member[last - 1] != '"')
                return nullptr;
        }
        else
        {
            // Digits after an optional sign, all within the sixteen bytes
            const auto digits = value + (member[value] == '-' ? 1u : 0u);

            if ((marks.notDigit & ((1u << last) - (1u << digits))) != 0 || ! isIntegerAsRead (member + value, member + digits, member + last))
                return nullptr;
        }

        nameEnd = member + quote;
        return member + last;
    }

    /** Where the value at `value` (inside the text) ends, when it is one that plainMembers()
        takes; nullptr for any other. */
    template <Strings strings>
    const char* endOfPlainValue (const char* value) const
    {
        switch (*value)
        {
            case '"':
            {
                const auto* body = value + 1;

                if constexpr (strings == Strings::plainAscii)
                {
                    const auto* last = endOfPlainAscii (body, end);
                    return last != end && *last == '"' ? last + 1 : nullptr;
                }
                else
                {
                    const auto* quote = static_cast<const char*> (std::memchr (body, '"', (size_t) (end - body)));
                    return quote != nullptr && std::memchr (body, '\\', (size_t) (quote - body)) == nullptr ? quote + 1 : nullptr;
                }
            }

            case 't': return endOfWord (value, "true");
            case 'f': return endOfWord (value, "false");
            case 'n': return endOfWord (value, "null");

            default:
            {
                const auto* last = endOfInteger (value, end);

                // More than 18 characters, or a fraction or exponent next, make it another number
                if (! isIntegerAsRead (value, value + (*value == '-' ? 1 : 0), last) || last - value > 18
                    || (last != end && (*last == '.' || *last == 'e' || *last == 'E')))
                    return nullptr;

                return last;
            }
        }
    }

    /** Whether the sign and digits from `value` up to `last`, its digits from `digits` on, are
        an integer that is written back as it was read where it has at most 18 characters: a
        digit at least, no leading zero, and not -0. */
    static bool isIntegerAsRead (const char* value, const char* digits, const char* last)
    {
        const auto digitCount = last - digits;
        return digitCount > 0 && ! (*digits == '0' && (digitCount > 1 || digits != value));
    }

    const char* endOfWord (const char* at, std::string_view word) const
    {
        return (size_t) (end - at) >= word.size() && std::memcmp (at, word.data(), word.size()) == 0 ? at + word.size() : nullptr;
    }

    forcedinline void skipWhiteSpace()
    {
        // Compact JSON has none: one comparison says so for nearly every token
        while (p != end && (unsigned char) *p <= ' ' && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }

    /** The raw bytes at p up to the next quote or backslash, as a string keeps them: plain ASCII
        in runs, a NUL as \u0000 would be (a String would end at it), other control characters
        as they are (they go back out escaped), ill-formed UTF-8 as U+FFFD. */
    void readRawBytes (std::string& text, bool literalAllowed, bool& needsLiteral)
    {
        while (p != end && *p != '"' && *p != '\\')
        {
            const auto c = (unsigned char) *p;

            if (isPlainAscii (c))
            {
                const auto* run = p;
                p = endOfPlainAscii (p, end);
                text.append (run, (size_t) (p - run));
            }
            else if (c == 0)
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
            }
            else if (const auto length = utf8SequenceLength ((const unsigned char*) p, (size_t) (end - p)))
            {
                text.append (p, length);
                p += length;
            }
            else
            {
                text += replacementCharacter;
                ++p;
            }
        }
    }

    /** The escape at p, its backslash included, into `text`; false when it is not JSON's. */
    bool readEscape (std::string& text, bool literalAllowed, bool& needsLiteral)
    {
        if (++p == end)
            return false;

        switch (*p++)
        {
            case '"':  text += '"';  return true;
            case '\\': text += '\\'; return true;
            case '/':  text += '/';  return true;
            case 'b':  text += '\b'; return true;
            case 'f':  text += '\f'; return true;
            case 'n':  text += '\n'; return true;
            case 'r':  text += '\r'; return true;
            case 't':  text += '\t'; return true;
            case 'u':  break;
            default:   return false;
        }

        uint32_t unit = 0;

        if (! readHex4 (unit))
            return false;

        if (unit >= 0xD800 && unit <= 0xDBFF && end - p >= 6 && p[0] == '\\' && p[1] == 'u')
        {
            const auto* afterHigh = p;
            uint32_t low = 0;
            p += 2;

            if (readHex4 (low) && low >= 0xDC00 && low <= 0xDFFF)
            {
                appendUtf8 (text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return true;
            }

            p = afterHigh;   // not a pair: the high half stands alone
        }

        if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF))
        {
            if (! literalAllowed)
            {
                text += replacementCharacter;
                return true;
            }

            needsLiteral = true;
        }

        // NUL and lone surrogates are stored raw; writeStringBody escapes them back
        appendUtf8 (text, unit);
        return true;
    }

    static int hexValue (char c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool readHex4 (uint32_t& unit)
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

    bool skipMembers (int depth)
    {
        if (! enter (depth))
            return false;

        if (consume ('}'))
            return true;

        do
        {
            if (peek() != '"' || ! skipString() || ! consume (':') || ! skipValue (depth))
                return false;
        }
        while (consume (','));

        return consume ('}');
    }

    bool skipElements (int depth)
    {
        if (! enter (depth))
            return false;

        if (consume (']'))
            return true;

        do
        {
            if (! skipValue (depth))
                return false;
        }
        while (consume (','));

        return consume (']');
    }
};
} // namespace velto::assistant::json
