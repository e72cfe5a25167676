// The tokens of JSON text, read left to right: white space, punctuation, literals, strings and
// numbers, and the nesting depth. The two walkers over it, the one that rewrites and the one that
// builds values, read through it alone. Each byte of the text is looked at a bounded number of
// times, whatever it holds, so every walker takes time in proportion to the text.
// Internal to the module's sources.
#pragma once

#include "AssistantJsonText.h"

namespace velto::assistant::json
{
class Scanner
{
public:
    explicit Scanner (std::string_view text) : p (text.data()), end (text.data() + text.size()) {}

    /** The next character after white space, or 0 at the end of the text. */
    char peek()
    {
        while (p != end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;

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

    /** Reads the array at p, at `depth` (one deeper than the value that holds it), calling
        `element()` with p at each element, which must move past it. False where `element` does,
        where the text is no array, and deeper than maxJsonDepth, so that no text can exhaust the
        stack of a walker. */
    template <typename Element>
    bool elements (int depth, Element&& element)
    {
        return within ('[', ']', depth, element);
    }

    /** The same for the object at p: `member()` is called with p at each member's name, which
        must stand there, and moves past the member. */
    template <typename Member>
    bool members (int depth, Member&& member)
    {
        return within ('{', '}', depth, [&] { return peek() == '"' && member(); });
    }

    /** The string at p as it stands, quotes included, where it is written back as it stands:
        plain ASCII, well-formed UTF-8 and the escapes that the writer itself writes (all but \/
        and \u), as nearly every string is. Moves past it; false, not moving, for any other. */
    bool stringAsWritten (std::string_view& quoted)
    {
        for (const auto* q = p + 1; q != end;)
        {
            const auto c = (unsigned char) *q;

            if (c == '"')
            {
                quoted = std::string_view (p, (size_t) (q + 1 - p));
                p = q + 1;
                return true;
            }

            if (isPlainAscii (c))
                q = endOfRun (q, end, isPlainAscii);
            else if (c == '\\' && end - q >= 2 && isWrittenEscape (q[1]))
                q += 2;
            else if (const auto length = c >= 0x80 ? utf8SequenceLength ((const unsigned char*) q, (size_t) (end - q)) : 0)
                q += length;
            else
                return false;
        }

        return false;
    }

    /** Reads the string at p in one pass, as UTF-8 into `text`, or only past it where `text` is
        null. U+0000 and unpaired surrogates go in as they are, with `needsLiteral` set, where
        `literalAllowed`; elsewhere (member names, which must be Strings) they become U+FFFD, as
        ill-formed UTF-8 does. False at the end of the text or at an escape that is not JSON's. */
    bool readString (std::string* text, bool literalAllowed, bool& needsLiteral)
    {
        ++p;   // the opening quote

        while (p != end && *p != '"')
        {
            const auto c = (unsigned char) *p;
            const auto* run = p;

            if (isPlainAscii (c))
            {
                p = endOfRun (p, end, isPlainAscii);

                if (text != nullptr)
                    text->append (run, (size_t) (p - run));
            }
            else if (c == '\\')
            {
                if (! readEscape (text, literalAllowed, needsLiteral))
                    return false;
            }
            else
            {
                // A NUL as \u0000 would be (a String would end at it), another control character as
                // it is (it goes back out escaped), UTF-8 whole, ill-formed UTF-8 as U+FFFD
                const size_t length = c != 0 ? utf8SequenceLength ((const unsigned char*) p, (size_t) (end - p)) : 0;
                const bool literalNul = c == 0 && literalAllowed;
                p += std::max<size_t> (length, 1);
                needsLiteral = needsLiteral || literalNul;

                if (text != nullptr)
                    text->append (length > 0 ? std::string_view (run, length) : literalNul ? std::string_view ("\0", 1) : replacementCharacter);
            }
        }

        return p != end && *p++ == '"';   // at the closing quote, moving past it, or at the end
    }

    /** Moves past the number at p, as JSON's grammar has it, giving its text and its form;
        false, with p anywhere, when there is none. */
    bool number (std::string_view& text, NumberForm& form)
    {
        const auto* start = p;
        form = NumberForm::integer;

        if (p != end && *p == '-')
            ++p;

        if (p == end || ! isDigit ((unsigned char) *p))
            return false;

        if (*p++ != '0')   // JSON allows no leading zeros: "01" ends the number after the 0
            p = endOfRun (p, end, isDigit);

        if (p != end && *p == '.')
        {
            if (++p == end || ! isDigit ((unsigned char) *p))
                return false;

            p = endOfRun (p, end, isDigit);
            form = NumberForm::fraction;
        }

        if (p != end && (*p == 'e' || *p == 'E'))
        {
            if (++p != end && (*p == '+' || *p == '-'))
                ++p;

            if (p == end || ! isDigit ((unsigned char) *p))
                return false;

            p = endOfRun (p, end, isDigit);
            form = NumberForm::exponent;
        }

        text = std::string_view (start, (size_t) (p - start));
        return true;
    }

    /** Moves past the value at p as a walker would read it, at `depth`, making nothing of it. */
    bool skipValue (int depth)
    {
        bool unused = false;
        std::string_view text;
        NumberForm form;

        switch (peek())
        {
            case 0:   return false;
            case '{': return members (depth + 1, [&] { return readString (nullptr, false, unused) && consume (':') && skipValue (depth + 1); });
            case '[': return elements (depth + 1, [&] { return skipValue (depth + 1); });
            case '"': return readString (nullptr, false, unused);
            case 't': return consumeWord ("true");
            case 'f': return consumeWord ("false");
            case 'n': return consumeWord ("null");
            default:  return number (text, form);
        }
    }

private:
    const char* p;
    const char* const end;

    /** The letter of an escape that the writer writes as it is read: all but \/ and \u. */
    static bool isWrittenEscape (char c)
    {
        return c == '"' || c == '\\' || c == 'b' || c == 'f' || c == 'n' || c == 'r' || c == 't';
    }

    /** The escape at p, its backslash included, into `text` where one is given; false when it is
        not JSON's. */
    bool readEscape (std::string* text, bool literalAllowed, bool& needsLiteral)
    {
        if (++p == end)
            return false;

        if (*p != 'u')
        {
            const auto simple = escapeLetters.find (*p++);

            if (text != nullptr && simple != std::string_view::npos)
                *text += escapedCharacters[simple];

            return simple != std::string_view::npos;
        }

        uint32_t unit = 0, low = 0;

        if (! readHex4 (p + 1, unit))
            return false;

        p += 5;   // 'u' and its digits

        // A high surrogate and a low one are one code point; half a pair stands alone
        if (unit >= 0xD800 && unit <= 0xDBFF && end - p >= 2 && p[0] == '\\' && p[1] == 'u' && readHex4 (p + 2, low)
            && low >= 0xDC00 && low <= 0xDFFF)
        {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            p += 6;
        }

        // NUL and lone surrogates, which a String cannot hold, are stored raw where a literal may
        // hold the string (writeStringBody escapes them back), else as U+FFFD
        if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF))
        {
            needsLiteral = needsLiteral || literalAllowed;
            unit = literalAllowed ? unit : 0xFFFD;
        }

        if (text != nullptr)
            appendUtf8 (*text, unit);

        return true;
    }

    /** Whether four hex digits stand at `digits`, before the end of the text, read into `unit`. */
    bool readHex4 (const char* digits, uint32_t& unit) const
    {
        return end - digits >= 4 && std::from_chars (digits, digits + 4, unit, 16).ptr == digits + 4;
    }

    template <typename Each>
    bool within (char open, char close, int depth, Each&& each)
    {
        if (depth > maxJsonDepth || ! consume (open))
            return false;

        if (consume (close))
            return true;

        while (each())
            if (! consume (','))
                return consume (close);

        return false;
    }
};
} // namespace velto::assistant::json
