#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace velto::assistant;
using velto::test::TempHome;

namespace
{
const std::string token32 = "0123456789abcdef0123456789abcdef";

std::optional<Endpoint> readText (const TempHome& home, const std::string& text)
{
    const auto file = home.folder.getChildFile ("assistant.json");
    file.replaceWithData (text.data(), text.size());
    return readEndpoint (file);
}

int modeOf (const juce::File& file)
{
    struct stat info {};
    stat (file.getFullPathName().toRawUTF8(), &info);
    return (int) (info.st_mode & 0777);
}
} // namespace

TEST (EndpointReader, Table)
{
    TempHome home;
    const std::string t = "\"" + token32 + "\"";
    const std::string e9 = "\xC3\xA9";   // one character, two bytes
    std::string nonAscii31, nonAscii32;

    for (int i = 0; i < 31; ++i)
        nonAscii31 += e9;

    nonAscii32 = nonAscii31 + e9;

    struct Case { const char* label; std::string text; int port; };   // port 0: empty result
    const Case cases[] = {
        { "port 1", R"({"port":1,"token":)" + t + "}", 1 },
        { "port 65535", R"({"port":65535,"token":)" + t + "}", 65535 },
        { "port 0", R"({"port":0,"token":)" + t + "}", 0 },
        { "port 65536", R"({"port":65536,"token":)" + t + "}", 0 },
        { "negative port", R"({"port":-8123,"token":)" + t + "}", 0 },
        { "port as a string", R"({"port":"8123","token":)" + t + "}", 8123 },
        { "port with a fraction", R"({"port":8123.9,"token":)" + t + "}", 8123 },
        { "port past 32 bits does not wrap", R"({"port":4294975419,"token":)" + t + "}", 0 },
        { "port past 64 bits", R"({"port":99999999999999999999999,"token":)" + t + "}", 0 },
        { "port true", R"({"port":true,"token":)" + t + "}", 1 },
        { "port null", R"({"port":null,"token":)" + t + "}", 0 },
        { "port missing", R"({"token":)" + t + "}", 0 },
        { "token of 31", R"({"port":8123,"token":")" + token32.substr (1) + "\"}", 0 },
        { "token missing", R"({"port":8123})", 0 },
        { "token null", R"({"port":8123,"token":null})", 0 },
        { "32 non-ASCII characters", R"({"port":8123,"token":")" + nonAscii32 + "\"}", 8123 },
        { "31 non-ASCII characters", R"({"port":8123,"token":")" + nonAscii31 + "\"}", 0 },
        { "other member order, extra members, one line", R"({"x":[1],"token":)" + t + R"(,"port":8123,"note":5})", 8123 },
        { "byte-order mark", "\xEF\xBB\xBF" R"({"port":8123,"token":)" + t + "}", 8123 },
        { "written form", "{\r\n  \"port\": 8123,\r\n  \"token\": " + t + ",\r\n  \"note\": \"n\"\r\n}", 8123 },
        { "array", "[8123," + t + "]", 0 },
        { "bare number", "8123", 0 },
        { "junk", "port=8123", 0 },
        { "empty", "", 0 },
        { "half written", R"({"port":8123,"tok)", 0 },
        { "nested beyond the depth limit", std::string (100000, '['), 0 },
    };

    for (const auto& c : cases)
    {
        const auto endpoint = readText (home, c.text);
        EXPECT_EQ (endpoint ? endpoint->port : 0, c.port) << c.label;
    }
}

TEST (EndpointReader, MissingFileOrFolderInItsPlace)
{
    TempHome home;
    EXPECT_FALSE (readEndpoint (home.folder.getChildFile ("none.json")));
    const auto folder = home.folder.getChildFile ("folder.json");
    folder.createDirectory();
    EXPECT_FALSE (readEndpoint (folder));
}

TEST (EndpointReader, HostileFiles)
{
    TempHome home;
    const auto file = home.folder.getChildFile ("assistant.json");

    // A FIFO with no writer would block whoever opens it for reading
    ASSERT_EQ (mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_FALSE (readEndpoint (file));
    file.deleteFile();

    // Valid, but padded far beyond any real endpoint file
    const std::string valid = "{\"port\":8123,\"token\":\"" + token32 + "\"}";
    EXPECT_TRUE (readText (home, valid + std::string (65536 - valid.size(), ' ')));
    EXPECT_FALSE (readText (home, valid + std::string (65536 - valid.size() + 1, ' ')));
}

TEST (EndpointReader, TokenTakenUnchanged)
{
    TempHome home;
    const auto endpoint = readText (home, R"({"port":9,"token":" )" + token32 + " \"}");
    ASSERT_TRUE (endpoint);
    EXPECT_EQ (endpoint->token.toStdString(), " " + token32 + " ");
}

TEST (EndpointWriter, ExactBytesAndMode)
{
    TempHome home;
    const auto file = home.folder.getChildFile ("a/b/Velto/assistant.json");   // missing folders
    ASSERT_TRUE (writeEndpoint ({ 8123, juce::String (token32) + "\"\\" }, file));

    juce::MemoryBlock bytes;
    file.loadFileAsData (bytes);
    EXPECT_EQ (bytes.toString().toStdString(),
               "{\r\n  \"port\": 8123,\r\n  \"token\": \"" + token32 + "\\\"\\\\\",\r\n"
               "  \"note\": \"Written by Velto while its AI assistant connection is on. Keep this key private.\"\r\n}");
    EXPECT_EQ (modeOf (file), 0600);

    // No temporary file left beside it; only the writers' lock, which stays
    juce::StringArray names;
    for (const auto& child : file.getParentDirectory().findChildFiles (juce::File::findFilesAndDirectories, false))
        names.add (child.getFileName());
    names.sort (false);
    EXPECT_EQ (names.joinIntoString (" "), ".assistant.json.lock assistant.json");
}

TEST (EndpointWriter, LeavesAnythingButARegularFileAsItWas)
{
    TempHome home;
    const auto folder = home.folder.getChildFile ("assistant.json");
    folder.createDirectory();
    chmod (folder.getFullPathName().toRawUTF8(), 0755);

    EXPECT_FALSE (writeEndpoint ({ 8123, token32 }, folder));
    EXPECT_TRUE (folder.isDirectory());
    EXPECT_EQ (modeOf (folder), 0755);
    EXPECT_EQ (home.folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
}

TEST (EndpointWriter, ReplacesLongerFileAndNarrowsMode)
{
    TempHome home;
    const auto file = home.folder.getChildFile ("assistant.json");
    file.replaceWithText (juce::String::repeatedString ("x", 5000));
    chmod (file.getFullPathName().toRawUTF8(), 0644);

    ASSERT_TRUE (writeEndpoint ({ 1234, token32 }, file));
    EXPECT_EQ (modeOf (file), 0600);
    EXPECT_LT (file.getSize(), 200);

    const auto endpoint = readEndpoint (file);
    ASSERT_TRUE (endpoint);
    EXPECT_EQ (endpoint->port, 1234);
    EXPECT_EQ (endpoint->token, juce::String (token32));
}

TEST (EndpointWriter, RoundTripAndUnvalidatedRecords)
{
    TempHome home;
    const auto file = home.folder.getChildFile ("assistant.json");
    const auto token = makeToken();
    ASSERT_TRUE (writeEndpoint ({ 65535, token }, file));
    EXPECT_EQ (readEndpoint (file)->token, token);

    ASSERT_TRUE (writeEndpoint ({ 0, "short" }, file));   // written unchanged, refused on reading
    EXPECT_TRUE (file.loadFileAsString().contains ("\"port\": 0,"));
    EXPECT_FALSE (readEndpoint (file));
}

TEST (EndpointWriter, FailsWhereTheFileCannotBeMadeAndSaysWhichFile)
{
    TempHome home;
    const auto blocker = home.folder.getChildFile ("blocker");
    blocker.replaceWithText ("a file, not a folder");
    juce::String failure;
    EXPECT_FALSE (writeEndpoint ({ 8123, token32 }, blocker.getChildFile ("assistant.json"), &failure));
    EXPECT_TRUE (failure.contains (blocker.getFullPathName() + "/.assistant.json.")) << failure;
    EXPECT_TRUE (failure.endsWith (": Not a directory")) << failure;

    const auto folder = home.folder.getChildFile ("assistant.json");
    folder.createDirectory();
    EXPECT_FALSE (writeEndpoint ({ 8123, token32 }, folder, &failure));
    EXPECT_EQ (failure, folder.getFullPathName() + " is not a regular file");
}

TEST (EndpointWriter, AnUnusableLockIsNoReasonToFail)
{
    // The lock beside the file only orders hosts among themselves: one that cannot be opened or
    // taken (left by a run as another user, say) must not stop a host from publishing
    struct Case { const char* label; std::function<void (const juce::File& lock)> make; };
    const Case cases[] = {
        { "a folder in the lock's place", [] (const juce::File& lock) { lock.createDirectory(); } },
        { "a dangling link in the lock's place", [] (const juce::File& lock) { lock.getParentDirectory().createDirectory();
                                                                               lock.createSymbolicLink (lock.getSiblingFile ("gone"), true); } },
    };

    for (const auto& c : cases)
    {
        TempHome home;
        const auto file = home.folder.getChildFile ("Velto/assistant.json");
        c.make (file.getSiblingFile (".assistant.json.lock"));
        const Endpoint mine { 8123, makeToken() };

        juce::String failure;
        EXPECT_TRUE (writeEndpoint (mine, file, &failure)) << c.label << ": " << failure;
        EXPECT_EQ (readEndpoint (file)->token, mine.token) << c.label;
        EXPECT_FALSE (removeEndpoint ({ 8124, makeToken() }, file)) << c.label;
        EXPECT_TRUE (removeEndpoint (mine, file)) << c.label;
        EXPECT_FALSE (file.exists()) << c.label;
    }
}

TEST (EndpointRemover, OnlyWhileTheFileNamesThisEndpoint)
{
    TempHome home;
    const auto file = home.folder.getChildFile ("Velto/assistant.json");
    const Endpoint mine { 8123, makeToken() }, another { 8124, makeToken() };

    struct Case { const char* label; std::function<void()> before; bool removed; bool fileLeft; };
    const Case cases[] = {
        { "this endpoint's file", [&] { writeEndpoint (mine, file); }, true, false },
        { "another host's file", [&] { writeEndpoint (another, file); }, false, true },
        { "same port, another token", [&] { writeEndpoint ({ mine.port, another.token }, file); }, false, true },
        { "no file", [&] { file.deleteFile(); }, false, false },
        { "a file that is not an endpoint", [&] { file.replaceWithText ("{\"token\": \"" + mine.token + "\"}"); }, false, true },
    };

    for (const auto& c : cases)
    {
        c.before();
        const auto text = file.loadFileAsString();
        EXPECT_EQ (removeEndpoint (mine, file), c.removed) << c.label;
        EXPECT_EQ (file.existsAsFile(), c.fileLeft) << c.label;

        if (c.fileLeft)
        {
            EXPECT_EQ (file.loadFileAsString(), text) << c.label;
        }
    }

    // A folder in its place is left as it was
    file.deleteFile();
    file.createDirectory();
    EXPECT_FALSE (removeEndpoint (mine, file));
    EXPECT_TRUE (file.isDirectory());
}

TEST (EndpointFile, PathUnderHome)
{
    const auto path = endpointFile().getFullPathName();
    EXPECT_TRUE (path.endsWith ("/Application Support/Velto/assistant.json")) << path;
    EXPECT_EQ (endpointFile().getParentDirectory(), settingsFolder());
}
