// The walker that rewrites: what parsing and then writing would give, in one pass and without a
// value, for relaying. It refuses an object that names a member twice, whose place and value
// only the parsed value settles. Internal to the module's sources.
#pragma once

#include "AssistantJsonScanner.h"

#include <vector>

namespace velto::assistant::json
{
/** Where a rewrite writes: into the string's own bytes, grown ahead of the writing, so that a
    piece costs a copy and no call. The string holds what was written once this is gone. */
class Output
{
public:
    static constexpr size_t pieceBytes = 16;   // what a short piece is copied as

    /** Appends to `text`, which grows by `expectedBytes` at once. */
    Output (std::string& text, size_t expectedBytes) : bytes (text), used (text.size())
    {
        bytes.resize (used + expectedBytes);
    }

    ~Output() { bytes.resize (used); }

    Output (const Output&) = delete;
    Output& operator= (const Output&) = delete;

    void append (const char* data, size_t count)
    {
        std::memcpy (room (count), data, count);
        used += count;
    }

    void append (std::string_view text) { append (text.data(), text.size()); }

    /** Appends the `count` bytes at `data`, of which `readable` may be read: a short piece, as
        nearly every name and number is, goes in one fixed copy of a few instructions, not a
        call, and what it copies beyond `count` is written over next. */
    void appendPiece (const char* data, size_t count, size_t readable)
    {
        copyPiece (room (std::max (count, pieceBytes)), { data, count }, readable);
        used += count;
    }

    /** Appends a plain member as it stands: ", " unless it is the first, its quoted name, ": "
        and its value, with `readable` bytes readable from each of them (see appendPiece).
        Returns where the name went. */
    size_t appendMember (bool first, std::string_view name, std::string_view value, size_t nameReadable, size_t valueReadable)
    {
        auto* at = room (name.size() + value.size() + 4 + 2 * pieceBytes);
        std::memcpy (at, ", ", 2);
        at += first ? 0 : 2;
        const auto nameStart = (size_t) (at - bytes.data());
        at = copyPiece (at, name, nameReadable);
        std::memcpy (at, ": ", 2);
        at = copyPiece (at + 2, value, valueReadable);
        used = (size_t) (at - bytes.data());
        return nameStart;
    }

    void append (char c)
    {
        *room (1) = c;
        ++used;
    }

    size_t size() const { return used; }
    const char* data() const { return bytes.data(); }

private:
    std::string& bytes;
    size_t used;

    /** Room for `count` bytes at the end. */
    char* room (size_t count)
    {
        if (bytes.size() - used < count)
            bytes.resize (std::max (bytes.size() * 2, used + count));

        return bytes.data() + used;
    }

    /** Copies `piece` to `at`, which has room for pieceBytes more than it; returns its end. */
    static char* copyPiece (char* at, std::string_view piece, size_t readable)
    {
        if (piece.size() <= pieceBytes && readable >= pieceBytes)
            std::memcpy (at, piece.data(), pieceBytes);
        else
            std::memcpy (at, piece.data(), piece.size());

        return at + piece.size();
    }
};

/** The member names of one object being rewritten, each as it stands in the output: equal names
    are written equally. The first few are compared one by one as they come, as nearly every
    object has only a few. Past that only their hashes are gathered, with their places, and
    checked together once the object has ended. Each name costs the same however wide the object
    grows. */
class WrittenNames
{
public:
    /** For the object whose names are written into `written` from here on. */
    explicit WrittenNames (const Output& written) : out (written), objectStart (written.size()) {}

    /** Takes the name written at `start`, quotes included, with `textBytesLeft` of the text
        still to come; false when it equals one of the first few. Later ones are for
        allDistinct(). */
    bool add (size_t start, size_t length, size_t textBytesLeft)
    {
        const std::string_view name (out.data() + start, length);

        if (keys.size() <= fewNames && ! addOneOfTheFirst (name, textBytesLeft))
            return false;

        keys.push_back ((uint64_t) hashOf (name) << 32 | (uint32_t) (start - objectStart));
        return true;
    }

    /** Whether no two names of the object are equal, once all are in. */
    bool allDistinct() const
    {
        if (keys.size() <= fewNames)
            return true;

        // A place past four gigabytes into one object does not fit its key: such an object is
        // left to the parsed value, as one with a repeated name is
        if (out.size() - objectStart > UINT32_MAX)
            return false;

        // Names that fall on a slot no other name falls on cannot repeat: only the rest are
        // suspects. One round in a table of eight slots a name leaves about one in twenty, a
        // second among them by other bits of their hashes about one in twelve of those, and only
        // these few are sorted and compared.
        auto suspects = onSharedSlots (keys, 0);

        if (! suspects.empty())
            suspects = onSharedSlots (suspects, 1);

        // By hash and then by text, so that equal names stand side by side however many share a
        // hash
        std::sort (suspects.begin(), suspects.end(), [this] (uint64_t a, uint64_t b)
        {
            return a >> 32 != b >> 32 ? a >> 32 < b >> 32 : textAt (a) < textAt (b);
        });

        for (size_t i = 1; i < suspects.size(); ++i)
            if (suspects[i] >> 32 == suspects[i - 1] >> 32 && textAt (suspects[i]) == textAt (suspects[i - 1]))
                return false;

        return true;
    }

private:
    static constexpr size_t fewNames = 8;
    static constexpr size_t maxReservedNames = (size_t) 1 << 20;   // 8 MB of keys

    /** The keys whose slot another key falls on too, in a table of eight slots a key that fits
        the nearest caches: two bits a slot, whether one key fell on it and whether another did.
        Each round takes a slot from other bits of the hash. */
    static std::vector<uint64_t> onSharedSlots (const std::vector<uint64_t>& keys, int round)
    {
        int slotBits = 10;

        while (slotBits < 32 && ((size_t) 1 << slotBits) < keys.size() * 8)
            ++slotBits;

        const uint32_t mixers[] = { 1, 0x9E3779B1u };
        auto slotOf = [&, mixer = mixers[round]] (uint64_t key) { return ((uint32_t) (key >> 32) * mixer) >> (32 - slotBits); };
        std::vector<uint64_t> slots ((size_t) 1 << (slotBits - 5));
        uint64_t anyShared = 0;

        for (const auto key : keys)
        {
            const auto slot = slotOf (key);
            auto& word = slots[slot / 32];
            const auto taken = (uint64_t) 1 << (slot % 32 * 2), again = word & taken;
            word |= taken | again << 1;
            anyShared |= again;
        }

        std::vector<uint64_t> shared;

        if (anyShared != 0)
            for (const auto key : keys)
                if (const auto slot = slotOf (key); (slots[slot / 32] >> (slot % 32 * 2 + 1) & 1) != 0)
                    shared.push_back (key);

        return shared;
    }

    bool addOneOfTheFirst (std::string_view name, size_t textBytesLeft)
    {
        for (const auto key : keys)
            if (textAt (key) == name)
                return false;

        if (keys.size() == fewNames)
        {
            // Room, once, for as many names as the rest of the text holds at the rate of the
            // first few: memory taken but not touched costs nothing, while each doubling of a
            // wide object's keys would copy all of them and touch their memory again
            const auto bytesPerName = std::max<size_t> (((size_t) (name.data() - out.data()) - objectStart) / fewNames, 1);
            keys.reserve (std::min (fewNames + 1 + textBytesLeft / bytesPerName, maxReservedNames));
        }

        return true;
    }

    /** The name of `key`, quotes included: from its place up to the first quote that no
        backslash escapes, as the writer escapes every quote inside a name. */
    std::string_view textAt (uint64_t key) const
    {
        const auto* name = out.data() + objectStart + (uint32_t) key;
        auto* last = name + 1;

        while (*last != '"')
            last += *last == '\\' ? 2 : 1;

        return std::string_view (name, (size_t) (last + 1 - name));
    }

    /** A hash of a few multiplications however long the name, eight bytes at a time; a name is
        at least its two quotes. Only equal names must hash equally: the texts settle the rest. */
    static uint32_t hashOf (std::string_view name)
    {
        constexpr uint64_t multiplier = 0x9E3779B97F4A7C15ull;
        auto mix = [] (uint64_t hash, uint64_t bytes)
        {
            hash = (hash ^ bytes) * multiplier;
            return hash ^ (hash >> 29);
        };

        auto load = [] (const char* from, size_t count)
        {
            uint64_t bytes = 0;
            std::memcpy (&bytes, from, count);
            return bytes;
        };

        const auto* p = name.data();
        const auto length = name.size();
        auto hash = mix (length, 0);

        if (length >= 8)
        {
            for (size_t i = 0; i + 8 < length; i += 8)
                hash = mix (hash, load (p + i, 8));

            hash = mix (hash, load (p + length - 8, 8));   // the last eight, overlapping the step before
        }
        else if (length >= 4)
        {
            hash = mix (hash, load (p, 4) | load (p + length - 4, 4) << 32);
        }
        else
        {
            hash = mix (hash, (uint64_t) (unsigned char) p[0] | (uint64_t) (unsigned char) p[length / 2] << 8
                                  | (uint64_t) (unsigned char) p[length - 1] << 16);
        }

        return (uint32_t) (hash >> 32);
    }

    const Output& out;
    const size_t objectStart;
    std::vector<uint64_t> keys;   // a name's hash above its place in the object
};


class Rewriter
{
public:
    Rewriter (Scanner& text, Output& output) : in (text), out (output) {}

    /** The wire form of the value at the scanner, at `depth`, appended to the output. False
        where a parse would fail, for a member named twice, and for an object whose wire form
        passes four gigabytes; the output then holds some of it. */
    bool rewriteValue (int depth)
    {
        switch (in.peek())
        {
            case 0:   return false;
            case '{': return rewriteObject (depth + 1);
            case '[': return rewriteArray (depth + 1);
            case '"': return rewriteString (/* literalAllowed */ true);
            case 't': out.append ("true");  return in.consumeWord ("true");
            case 'f': out.append ("false"); return in.consumeWord ("false");
            case 'n': out.append ("null");  return in.consumeWord ("null");
            default:  return rewriteNumber();
        }
    }

private:
    Scanner& in;
    Output& out;
    std::string decoded, encoded;   // for the few strings and numbers that are not copied as they stand

    /** Writes the string at the scanner as a String or a JsonLiteral would be written back.
        Plain ASCII, which is what nearly every string is, goes across as it stands. */
    bool rewriteString (bool literalAllowed)
    {
        if (std::string_view quoted; in.plainString (quoted))
        {
            out.appendPiece (quoted.data(), quoted.size(), in.bytesLeftFrom (quoted.data()));
            return true;
        }

        bool needsLiteral = false;
        decoded.clear();

        if (! in.readString (decoded, literalAllowed, needsLiteral))
            return false;

        encoded = "\"";
        writeStringBody (encoded, decoded.data(), decoded.size());
        encoded += '"';
        out.append (encoded);
        return true;
    }

    bool rewriteNumber()
    {
        // An integer of up to 18 digits is written as it was read, but "-0", which is 0
        const auto* start = in.position();
        bool isInteger = true;

        if (! in.skipNumber (isInteger))
            return false;

        const auto length = (size_t) (in.position() - start);

        if (isInteger && length <= 18 && ! (length == 2 && start[0] == '-' && start[1] == '0'))
        {
            out.appendPiece (start, length, in.bytesLeftFrom (start));
            return true;
        }

        in.moveTo (start);
        Number number;
        in.scanNumber (number);
        encoded.clear();

        switch (number.kind)
        {
            case Number::Kind::integer: encoded = std::to_string (number.integer); break;
            case Number::Kind::real:    writeDouble (encoded, number.real); break;
            case Number::Kind::literal: encoded = number.literal; break;
        }

        out.append (encoded);
        return true;
    }

    /** Writes what comes before a member's value: ", " after the first, its name, and ": ",
        and gives the name to `names`. False when no name and colon stand there, or the name is
        one of the first few again. */
    bool rewriteMemberName (bool first, WrittenNames& names)
    {
        if (in.peek() != '"')
            return false;

        out.append (", ", first ? 0 : 2);
        const auto nameStart = out.size();

        if (! rewriteString (/* literalAllowed */ false) || ! in.consume (':'))
            return false;

        const auto nameBytes = out.size() - nameStart;
        out.append (": ");
        return names.add (nameStart, nameBytes, in.bytesLeftFrom (in.position()));
    }

    bool rewriteObject (int depth)
    {
        if (! in.enter (depth))
            return false;

        if (in.consume ('}'))
        {
            out.append ("{}");
            return true;
        }

        out.append ('{');
        WrittenNames names (out);

        for (bool first = true;; first = false)
        {
            // Nearly every member goes across as it stands, in a few fixed copies
            bool repeated = false;
            auto copy = [&] (std::string_view name, std::string_view value, bool isShort)
            {
                const auto nameStart = isShort ? out.appendMember (first, name, value, Output::pieceBytes, Output::pieceBytes)
                                               : out.appendMember (first, name, value, in.bytesLeftFrom (name.data()), in.bytesLeftFrom (value.data()));
                first = false;
                repeated = ! names.add (nameStart, name.size(), in.bytesLeftFrom (value.data()));
                return ! repeated;
            };

            const bool copied = in.plainMembers<Scanner::Strings::plainAscii> (copy);

            if (repeated || (! copied && (! rewriteMemberName (first, names) || ! rewriteValue (depth))))
                return false;

            if (in.consume ('}'))
            {
                out.append ('}');
                return names.allDistinct();
            }

            if (! in.consume (','))
                return false;
        }
    }

    bool rewriteArray (int depth)
    {
        if (! in.enter (depth))
            return false;

        if (in.consume (']'))
        {
            out.append ("[]");
            return true;
        }

        out.append ('[');

        for (bool first = true;; first = false)
        {
            if (! first)
                out.append (", ");

            if (! rewriteValue (depth))
                return false;

            if (in.consume (']'))
            {
                out.append (']');
                return true;
            }

            if (! in.consume (','))
                return false;
        }
    }
};
} // namespace velto::assistant::json
