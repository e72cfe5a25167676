// Numbers on the wire are the same in every locale. A DAW does not own its process's locale: a
// plug-in's toolkit sets the user's for good, and JUCE itself switches it for a moment, while the
// server's workers run. A decimal comma must never reach the JSON, nor a "3.5" be read as 3.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <thread>

using namespace velto::assistant;

namespace
{
constexpr const char* decimalCommaLocale = VELTO_TEST_LOCALE;

/** Makes the decimal-comma locale available to setlocale: macOS has it built in; on Debian,
    which ships only C.UTF-8, CTest's locale.make has compiled it into VELTO_TEST_LOCALES before
    these tests start. False when neither has it. */
bool findDecimalCommaLocale()
{
    if (std::setlocale (LC_ALL, decimalCommaLocale) == nullptr)
    {
        setenv ("LOCPATH", VELTO_TEST_LOCALES, 1);

        if (std::setlocale (LC_ALL, decimalCommaLocale) == nullptr)
            return false;
    }

    return std::setlocale (LC_ALL, "C") != nullptr;
}

const std::string missingLocale = std::string ("no ") + decimalCommaLocale + ": run these tests through ctest, whose "
                                  "locale.make compiles it into " VELTO_TEST_LOCALES " first (Debian: the locales package)";

/** The whole process in the decimal-comma locale until the object goes. */
class DecimalCommaProcess
{
public:
    DecimalCommaProcess()
    {
        // A test that cannot make the locale has tested nothing: it fails, it does not skip
        made = findDecimalCommaLocale() && std::setlocale (LC_ALL, decimalCommaLocale) != nullptr
            && std::string (std::localeconv()->decimal_point) == ",";
    }

    ~DecimalCommaProcess() { std::setlocale (LC_ALL, "C"); }

    bool made = false;
};

std::string roundTrip (const std::string& line)
{
    juce::var value;
    return parseJson (std::string_view (line), value) ? toJson (value).toStdString() : "PARSE ERROR";
}

std::string rewritten (const std::string& line)
{
    std::string out;
    return rewriteJson (line, out) ? out : "REFUSED";
}

/** A message handler that answers with the params it was given, as a tool echoes its arguments. */
juce::var echoParams (const juce::var& message)
{
    return rpcResult (message.getProperty ("id", {}), message.getProperty ("params", {}));
}

struct NumberCase { const char* label; const char* in; const char* out; };

const NumberCase numberCases[] = {
    { "a half bar", R"({"bar":3.5})", R"({"bar": 3.5})" },
    { "negative fraction", "[-0.25]", "[-0.25]" },
    { "exponent", "[1e-7]", "[0.0000001]" },
    { "a tenth", "[0.1]", "[0.1]" },
    { "beyond 15 places", "[2.5e-15]", "[2.5e-15]" },
    { "whole double keeps .0", "[120.0]", "[120.0]" },
    { "17 digits", "[1.2345678901234567]", "[1.2345678901234567]" },
    { "exponent form", "[1e300]", "[1e300]" },
    { "integers untouched", "[1234567,-42]", "[1234567, -42]" },
};
} // namespace

TEST (Locale, NumbersAreTheWireFormInADecimalCommaLocale)
{
    const DecimalCommaProcess locale;
    ASSERT_TRUE (locale.made) << missingLocale;

    for (const auto& c : numberCases)
    {
        EXPECT_EQ (roundTrip (c.in), c.out) << c.label << ": parsed, then written";
        EXPECT_EQ (rewritten (c.in), c.out) << c.label << ": rewritten in one pass";
    }

    // Written from values that the code makes itself, as a host's handler does
    struct WrittenCase { const char* label; double in; const char* out; };
    const WrittenCase written[] = {
        { "3.5", 3.5, "3.5" }, { "0.1", 0.1, "0.1" }, { "2.5e-15", 2.5e-15, "2.5e-15" }, { "-0.25", -0.25, "-0.25" },
    };

    for (const auto& c : written)
        EXPECT_EQ (toJson (c.in).toStdString(), c.out) << c.label;
}

TEST (Locale, AServerAnswersInTheWireFormWhileTheLocaleChanges)
{
    const DecimalCommaProcess locale;
    ASSERT_TRUE (locale.made) << missingLocale;

    Server server (echoParams);
    ASSERT_TRUE (server.start());
    const Endpoint endpoint { server.port(), server.token() };

    // The whole process in the decimal-comma locale: every answer as the client sent it
    for (const auto& c : numberCases)
    {
        const auto request = std::string (R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":)") + c.in + "}";
        std::string body;
        ASSERT_EQ (postToVelto (endpoint, request, body, 5000), 200) << c.label;
        EXPECT_EQ (body, std::string (R"({"jsonrpc": "2.0", "id": 1, "result": )") + c.out + "}") << c.label;
    }

    // Another thread switches the process between the two locales, as JUCE does around a key
    // press or a question about the user's region, while the server answers
    std::atomic<bool> done { false };
    std::thread switcher ([&done]
    {
        for (bool comma = false; ! done; comma = ! comma)
            std::setlocale (LC_ALL, comma ? decimalCommaLocale : "C");
    });

    int wrong = 0;
    std::string firstWrong;

    for (int i = 0; i < 200; ++i)
    {
        const auto request = R"({"jsonrpc":"2.0","id":)" + std::to_string (i) + R"(,"method":"tools/call","params":{"bar":)"
                           + std::to_string (i) + ".5}}";
        const auto expected = R"({"jsonrpc": "2.0", "id": )" + std::to_string (i) + R"(, "result": {"bar": )"
                            + std::to_string (i) + ".5}}";
        std::string body;

        if (postToVelto (endpoint, request, body, 5000) != 200 || body != expected)
            if (wrong++ == 0)
                firstWrong = body;
    }

    done = true;
    switcher.join();
    EXPECT_EQ (wrong, 0) << "the first wrong answer: " << firstWrong;
}
