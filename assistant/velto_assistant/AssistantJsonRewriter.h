// The walker that rewrites: what parsing and then writing would give, in one pass and without a
// value, for relaying. Internal to the module's sources.
#pragma once

#include "AssistantJsonScanner.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace velto::assistant::json
{
class Rewriter
{
public:
    /** Appends to `output`, making room at once for `expectedBytes`, and more as it is needed. */
    Rewriter (Scanner& text, std::string& output, size_t expectedBytes = 0) : in (text), out (output, expectedBytes)
    {
        members.reserve (16);   // the members of nearly every message, and their nested objects', at once
    }

    /** Appends the wire form of the value at the scanner, at `depth`, to the output. False where
        a parse would fail; the output then holds some of it. */
    bool rewrite (int depth)
    {
        const auto start = out.size();

        if (! rewriteValue (depth))
            return false;

        if (! reordered.empty())
            putInParsedOrder (start);

        return true;
    }

private:
    bool rewriteValue (int depth)
    {
        switch (in.peek())
        {
            case 0:   return false;
            case '{': return rewriteObject (depth + 1);
            case '[': return rewriteArray (depth + 1);
            case '"': return rewriteString (/* literalAllowed */ true);
            case 't': return rewriteWord ("true");
            case 'f': return rewriteWord ("false");
            case 'n': return rewriteWord ("null");
            default:  return rewriteNumber();
        }
    }

    /** A member of an object being written: where its name, its value and its end stand in the
        output, and which member's value it takes (its own, unless its name is given again). */
    struct Member
    {
        size_t name, value, end, lastValue;
        bool repeat;
    };

    /** Compared one by one up to this many names an object; past that, through a hash table. */
    static constexpr size_t fewNames = 8;

    /** ", " or ": ", after a member or an element and after a name. */
    void putWithBlank (char c)
    {
        auto* at = out.room (2);
        at[0] = c;
        at[1] = ' ';
    }

    /** The output, in a string kept larger than what is written, its bytes counted beside it: a
        token then goes in with no call into the string's code, which costs more than the token
        for most of them. The string is cut to what was written when the rewrite ends. */
    class Output
    {
    public:
        Output (std::string& text, size_t expectedBytes) : bytes (text), used (text.size())
        {
            bytes.resize (used + expectedBytes);
        }

        ~Output() { bytes.resize (used); }

        size_t size() const { return used; }
        const char* data() const { return bytes.data(); }
        void cutTo (size_t size) { used = std::min (used, size); }

        void operator+= (char c) { *room (1) = c; }
        void operator+= (std::string_view piece) { std::memcpy (room (piece.size()), piece.data(), piece.size()); }

        /** Room for `count` bytes after what was written, counted as written. */
        char* room (size_t count)
        {
            if (bytes.size() - used < count)
                grow (count);

            used += count;
            return &bytes[used - count];
        }

    private:
        static constexpr size_t minimumRoom = 256;

        // Apart from room, which then stays small enough to be inlined at every token
        void grow (size_t count)
        {
            bytes.resize (std::max (used + count, 2 * bytes.size() + minimumRoom));
        }

        std::string& bytes;
        size_t used;
    };

    Scanner& in;
    Output out;
    std::string escaped;           // a string that is not copied as it stands, in the wire's escapes
    std::string decoded;           // for the few strings that are not copied as they stand
    std::vector<Member> members;   // each open object's above its parent's

    bool rewriteWord (std::string_view word)
    {
        out += word;
        return in.consumeWord (word);
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

        if (! in.readString (decoded, literalAllowed, needsLiteral))
            return false;

        escaped.clear();
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

        // JSON allows no '+' and no leading zero, so an integer of any size is written as it was
        // read, but for -0, which is 0
        if (form == NumberForm::integer)
        {
            out += text[0] == '-' && text == "-0" ? "0" : text;
            return true;
        }

        // Nearly every fraction is written as the wire writes it already; most others are made
        // from their digits alone; the rest go through a double
        if (form == NumberForm::fraction && isWrittenAsDouble (text))
        {
            out += text;
            return true;
        }

        if (const auto fromDigits = decimalFromDigits (text); fromDigits.size > 0)
            out += fromDigits.view();
        else if (const auto number = readNumber (text, form); number.kind == Number::Kind::real)
            out += doubleText (number.real).view();
        else
            out += text;

        return true;
    }

    /** A member's name as written, which is the same for equal names however they were read. */
    std::string_view nameOf (const Member& member) const
    {
        return std::string_view (out.data() + member.name, member.value - 2 - member.name);
    }

    /** The member of this object, from `first` on, that has the newest member's name: the first
        that had it, or none. A few names are compared one by one; past that, each is found
        through `slots`, a hash table of member indices plus one (0: empty) at least twice as large
        as the names: a look-up costs the same however wide the object grows, and the table is
        small enough to stay in the caches. */
    std::optional<size_t> earlierWithName (size_t first, std::vector<uint32_t>& slots) const
    {
        const auto newest = members.size() - 1;
        const auto name = nameOf (members[newest]);

        if (newest - first < fewNames)
        {
            for (auto i = first; i < newest; ++i)
                if (! members[i].repeat && nameOf (members[i]) == name)
                    return i;

            return {};
        }

        // Linear probing from the slot of the name's hash, to the name or the first empty slot
        auto find = [this, &slots] (std::string_view text) -> uint32_t&
        {
            auto slot = std::hash<std::string_view>() (text) & (slots.size() - 1);

            while (slots[slot] != 0 && nameOf (members[slots[slot] - 1]) != text)
                slot = (slot + 1) & (slots.size() - 1);

            return slots[slot];
        };

        if (slots.size() < 2 * (newest - first + 1))
        {
            slots.assign (std::max<size_t> (256, slots.size() * 2), 0);   // a power of two, for the mask

            for (auto i = first; i < newest; ++i)
                if (! members[i].repeat)
                    find (nameOf (members[i])) = (uint32_t) i + 1;
        }

        auto& slot = find (name);

        if (slot != 0)
            return slot - 1;

        slot = (uint32_t) newest + 1;
        return {};
    }

    /** A piece of the output, from `from` to `to`, after ", " where `afterSeparator`. */
    struct Piece
    {
        size_t from, to;
        bool afterSeparator;
    };

    /** An object that gives a name more than once, whose members go out as a parsed value holds
        them: each name in the place where it was first given, with the value it was given last.
        `pieces` say so, in that order, and stand for the output from `start`, its opening brace,
        to `end`, its closing one. */
    struct Reordered
    {
        size_t start, end;
        std::vector<Piece> pieces;
    };

    std::vector<Reordered> reordered;   // in the order that their objects ended: inner ones first

    void recordParsedOrder (size_t first, size_t objectStart)
    {
        Reordered object { objectStart - 1, out.size(), {} };

        for (auto i = first; i < members.size(); ++i)
        {
            const auto& member = members[i];
            const bool afterSeparator = ! object.pieces.empty();

            if (member.repeat)
                continue;

            if (member.lastValue != i)
            {
                const auto& last = members[member.lastValue];
                object.pieces.push_back ({ member.name, member.value, afterSeparator });   // the name and ": "
                object.pieces.push_back ({ last.value, last.end, false });
            }
            else if (afterSeparator && object.pieces.back().to + 2 == member.name)
            {
                object.pieces.back().to = member.end;   // right after the piece before, ", " between
            }
            else
            {
                object.pieces.push_back ({ member.name, member.end, afterSeparator });
            }
        }

        reordered.push_back (std::move (object));
    }

    /** Writes the output from `start` on again, with every reordered object in its order, once
        the whole value is written: each byte is copied once, however deep such objects nest. */
    void putInParsedOrder (size_t start)
    {
        std::sort (reordered.begin(), reordered.end(), [] (const auto& a, const auto& b) { return a.start < b.start; });
        std::string ordered;
        ordered.reserve (out.size() - start);
        copyInOrder (start, out.size(), ordered);
        out.cutTo (start);
        out += ordered;
        reordered.clear();
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

            for (const auto& piece : next->pieces)
            {
                if (piece.afterSeparator)
                    ordered += ", ";

                copyInOrder (piece.from, piece.to, ordered);
            }

            from = next->end;
        }
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
                putWithBlank (',');

            const auto name = out.size();

            if (! rewriteString (/* literalAllowed */ false) || ! in.consume (':'))
                return false;

            putWithBlank (':');
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

    bool rewriteArray (int depth)
    {
        out += '[';
        const auto arrayStart = out.size();

        const bool read = in.elements (depth, [&]
        {
            if (out.size() > arrayStart)
                putWithBlank (',');

            return rewriteValue (depth);
        });

        out += ']';
        return read;
    }
};
} // namespace velto::assistant::json
