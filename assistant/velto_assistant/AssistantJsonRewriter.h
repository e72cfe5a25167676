// The walker that rewrites: what parsing and then writing would give, in one pass and without a
// value, for relaying. It refuses an object that names a member twice, whose place and value
// only the parsed value settles. Internal to the module's sources.
#pragma once

#include "AssistantJsonScanner.h"

#include <vector>

namespace velto::assistant::json
{
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


class Rewriter
{
public:
    explicit Rewriter (Scanner& text) : in (text) {}

    /** The wire form of the value at the scanner, at `depth`, appended to `out`. False where a
        parse would fail, and for a member named twice; `out` then holds some of it. */
    bool rewriteValue (std::string& out, int depth)
    {
        switch (in.peek())
        {
            case 0:   return false;
            case '{': return rewriteObject (out, depth + 1);
            case '[': return rewriteArray (out, depth + 1);
            case '"': return rewriteString (out, /* literalAllowed */ true);
            case 't': out += "true";  return in.consumeWord ("true");
            case 'f': out += "false"; return in.consumeWord ("false");
            case 'n': out += "null";  return in.consumeWord ("null");
            default:  return rewriteNumber (out);
        }
    }

private:
    Scanner& in;

    /** Writes the string at the scanner as a String or a JsonLiteral would be written back.
        Plain ASCII, which is what nearly every string is, goes across as it stands. */
    bool rewriteString (std::string& out, bool literalAllowed)
    {
        if (std::string_view quoted; in.plainString (quoted))
        {
            out.append (quoted);
            return true;
        }

        std::string text;
        bool needsLiteral = false;

        if (! in.readString (text, literalAllowed, needsLiteral))
            return false;

        out += '"';
        writeStringBody (out, text.data(), text.size());
        out += '"';
        return true;
    }

    bool rewriteNumber (std::string& out)
    {
        // An integer of up to 18 digits is written as it was read, but "-0", which is 0
        const auto* start = in.position();
        bool isInteger = true;

        if (! in.skipNumber (isInteger))
            return false;

        const auto length = (size_t) (in.position() - start);

        if (isInteger && length <= 18 && ! (length == 2 && start[0] == '-' && start[1] == '0'))
        {
            out.append (start, length);
            return true;
        }

        in.moveTo (start);
        Number number;
        in.scanNumber (number);

        switch (number.kind)
        {
            case Number::Kind::integer: out += std::to_string (number.integer); break;
            case Number::Kind::real:    writeDouble (out, number.real); break;
            case Number::Kind::literal: out += number.literal; break;
        }

        return true;
    }

    /** Writes what comes before a member's value: ", " after the first, its name, and ": ".
        A plain name, the most of any, goes out in one piece with them, as a wide object has tens
        of thousands. The name's place in `out` goes to `nameStart` and `nameBytes`. False when
        no name and colon stand there. */
    bool rewriteMemberName (std::string& out, bool first, size_t& nameStart, size_t& nameBytes)
    {
        static constexpr size_t pieceNameBytes = 64;
        const std::string_view separator = first ? "" : ", ";

        if (in.peek() != '"')
            return false;

        if (std::string_view quoted; in.plainString (quoted))
        {
            if (quoted.size() <= pieceNameBytes)
            {
                char piece[pieceNameBytes + 4];
                std::memcpy (piece, separator.data(), separator.size());
                std::memcpy (piece + separator.size(), quoted.data(), quoted.size());
                std::memcpy (piece + separator.size() + quoted.size(), ": ", 2);
                nameStart = out.size() + separator.size();
                out.append (piece, separator.size() + quoted.size() + 2);
            }
            else
            {
                out.append (separator);
                nameStart = out.size();
                out.append (quoted).append (": ");
            }

            nameBytes = quoted.size();
            return in.consume (':');
        }

        out.append (separator);
        nameStart = out.size();

        if (! rewriteString (out, /* literalAllowed */ false) || ! in.consume (':'))
            return false;

        nameBytes = out.size() - nameStart;
        out += ": ";
        return true;
    }

    bool rewriteObject (std::string& out, int depth)
    {
        if (! in.enter (depth))
            return false;

        if (in.consume ('}'))
        {
            out += "{}";
            return true;
        }

        out += '{';
        WrittenNames names (out);

        for (bool first = true;; first = false)
        {
            size_t nameStart = 0, nameBytes = 0;

            if (! rewriteMemberName (out, first, nameStart, nameBytes) || ! names.add (nameStart, nameBytes)
                || ! rewriteValue (out, depth))
                return false;

            if (in.consume ('}'))
            {
                out += '}';
                return names.allDistinct();
            }

            if (! in.consume (','))
                return false;
        }
    }

    bool rewriteArray (std::string& out, int depth)
    {
        if (! in.enter (depth))
            return false;

        if (in.consume (']'))
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

            if (in.consume (']'))
            {
                out += ']';
                return true;
            }

            if (! in.consume (','))
                return false;
        }
    }
};
} // namespace velto::assistant::json
