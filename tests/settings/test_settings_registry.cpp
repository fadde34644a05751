// The registry primitives on a real SQLite store: raw-byte reads, the
// registry's result codes, keys as rows, volatile keys in the runtime store,
// and switching stores through the environment.
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include "SettingsTestStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace
{
const char* MAIN = SA_REGISTRY_KEY_MAIN;

bool Write(const std::string& key, const std::string& name, uint32_t type, const std::vector<uint8_t>& data,
           uint32_t options = REG_OPTION_NON_VOLATILE)
{
    return SAUtilRegistryValueSet(key, name, type, data.data(), static_cast<uint32_t>(data.size()), options);
}

// Counts rows of a table straight from a store file, independent of the code under test.
int RowCount(const std::string& file, const std::string& sql)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    {
        sqlite3_close(db);
        return -1;
    }
    sqlite3_stmt* statement = nullptr;
    int count = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        count = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return count;
}
} // namespace

using SettingsRegistry = SettingsTestStore;

TEST_F(SettingsRegistry, StoreFilesFollowTheEnvironmentAndUseWal)
{
    EXPECT_EQ(SAUtilRegistryPathPersistentGet(), m_ConfigHome + "/harrowfenlab/quillmere/registry.sqlite3");
    EXPECT_EQ(SAUtilRegistryPathVolatileGet(),
              m_RuntimeDir + "/harrowfenlab/quillmere/registry-volatile.sqlite3");
    // Reading an empty store creates nothing.
    uint8_t buffer[4] = {};
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, sizeof(buffer)));
    EXPECT_FALSE(std::filesystem::exists(SAUtilRegistryPathPersistentGet()));

    ASSERT_TRUE(Write(MAIN, "Framerate", REG_DWORD, {90, 0, 0, 0}));
    const std::string file = SAUtilRegistryPathPersistentGet();
    ASSERT_TRUE(std::filesystem::exists(file));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode;", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
    sqlite3_finalize(statement);
    sqlite3_close(db);

    // Another store: the value is not there; back again: it is.
    const std::string first = m_ConfigHome;
    const std::string second = m_Root + "/other-config";
    setenv("XDG_CONFIG_HOME", second.c_str(), 1);
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, sizeof(buffer)));
    ASSERT_TRUE(Write(MAIN, "Framerate", REG_DWORD, {30, 0, 0, 0}));
    setenv("XDG_CONFIG_HOME", first.c_str(), 1);
    ASSERT_TRUE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, sizeof(buffer)));
    EXPECT_EQ(buffer[0], 90);
    setenv("XDG_CONFIG_HOME", second.c_str(), 1);
    ASSERT_TRUE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, sizeof(buffer)));
    EXPECT_EQ(buffer[0], 30);

    // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    const std::string home = m_Root + "/home";
    const char* savedHome = getenv("HOME");
    const std::string homeCopy = savedHome ? savedHome : "";
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(SAUtilRegistryPathPersistentGet(), home + "/.config/harrowfenlab/quillmere/registry.sqlite3");
    if (savedHome)
        setenv("HOME", homeCopy.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST_F(SettingsRegistry, RuntimeFallbackIsAPrivateFolderUnderTmp)
{
    unsetenv("XDG_RUNTIME_DIR");
    const std::string folder = "/tmp/quillmere-" + std::to_string(getuid());
    EXPECT_EQ(SAUtilRegistryPathVolatileGet(), folder + "/harrowfenlab/quillmere/registry-volatile.sqlite3");
    struct stat info;
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, getuid());
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(SettingsRegistry, ReadsAreRawBytesWithRegistryResults)
{
    // Missing key, then missing value: ERROR_FILE_NOT_FOUND, logged at 0x80.
    uint8_t buffer[8];
    memset(buffer, 0xAB, sizeof(buffer));
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, 4));
    EXPECT_EQ(LogCount("SAUtilRegistryValueGet  RegOpenKeyExW failed! Software\\harrowfenlab\\quillmere 2\n",
                       SA_LOG_REGISTRY),
              1);
    ASSERT_TRUE(Write(MAIN, "Other", REG_DWORD, {1, 0, 0, 0}));
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, 4));
    EXPECT_EQ(LogCount("SAUtilRegistryValueGet RegQueryValueExW failed! Framerate 2\n", SA_LOG_REGISTRY), 1);
    EXPECT_EQ(buffer[0], 0xAB);

    // Longer than the buffer: ERROR_MORE_DATA, logged as a failure, buffer untouched.
    ASSERT_TRUE(Write(MAIN, "Long", REG_BINARY, {1, 2, 3, 4, 5}));
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Long", buffer, 4));
    EXPECT_EQ(LogCount("SAUtilRegistryValueGet RegQueryValueExW failed! Long 234\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(buffer[0], 0xAB);
    uint32_t type = 0;
    uint32_t size = 4;
    EXPECT_EQ(SAUtilRegistryValueQuery(MAIN, "Long", &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    size = 0;
    EXPECT_EQ(SAUtilRegistryValueQuery(MAIN, "Long", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, REG_BINARY);

    // A 4-byte value of another type is read as its bytes; a shorter one
    // replaces only its own bytes.
    ASSERT_TRUE(Write(MAIN, "Text", REG_SZ, {'A', 0, 'B', 0}));
    uint8_t dword[4] = {9, 9, 9, 9};
    // "AB" without a terminator needs 6 bytes.
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Text", dword, 4));
    ASSERT_TRUE(Write(MAIN, "Bin4", REG_BINARY, {0x78, 0x56, 0x34, 0x12}));
    ASSERT_TRUE(SAUtilRegistryValueGet(MAIN, "Bin4", dword, 4));
    EXPECT_EQ(dword[0] | dword[1] << 8 | dword[2] << 16 | dword[3] << 24, 0x12345678);
    ASSERT_TRUE(Write(MAIN, "Short", REG_BINARY, {0x01, 0x02}));
    ASSERT_TRUE(SAUtilRegistryValueGet(MAIN, "Short", dword, 4));
    EXPECT_EQ(dword[0], 0x01);
    EXPECT_EQ(dword[1], 0x02);
    EXPECT_EQ(dword[2], 0x34);

    // Names and keys compare without regard to case.
    ASSERT_TRUE(SAUtilRegistryValueGet("software\\HARROWFENLAB\\Quillmere", "bin4", dword, 4));
}

TEST_F(SettingsRegistry, StringsGetATerminatorThatMustFit)
{
    const std::vector<uint8_t> fifteen = SAUtilUtf16LeBytesFromUtf8("abcdefghijklmno");
    const std::vector<uint8_t> sixteen = SAUtilUtf16LeBytesFromUtf8("abcdefghijklmnop");
    ASSERT_TRUE(Write(MAIN, "Fifteen", REG_SZ, fifteen));
    ASSERT_TRUE(Write(MAIN, "Sixteen", REG_SZ, sixteen));
    uint8_t buffer[64];
    memset(buffer, 0x55, sizeof(buffer));
    ASSERT_TRUE(SAUtilRegistryValueGet(MAIN, "Fifteen", buffer, 32));
    EXPECT_EQ(SAUtilUtf8FromUtf16LeBytes(buffer, 32), "abcdefghijklmno");
    EXPECT_EQ(buffer[30], 0);
    EXPECT_EQ(buffer[31], 0);
    EXPECT_EQ(buffer[32], 0x55); // nothing past the capacity
    EXPECT_EQ(
        LogCount("SAUtilRegistryValueGet  RegQueryValueExW Software\\harrowfenlab\\quillmere Fifteen Data: "
                 "abcdefghijklmno\n",
                 SA_LOG_REGISTRY),
        1);
    EXPECT_FALSE(SAUtilRegistryValueGet(MAIN, "Sixteen", buffer, 32));
    EXPECT_EQ(LogCount("SAUtilRegistryValueGet RegQueryValueExW failed! Sixteen 234\n", SA_LOG_FAILURE), 1);
    // A binary value of the same bytes gets no terminator and fits.
    ASSERT_TRUE(Write(MAIN, "SixteenRaw", REG_BINARY, sixteen));
    EXPECT_TRUE(SAUtilRegistryValueGet(MAIN, "SixteenRaw", buffer, 32));
}

TEST_F(SettingsRegistry, WritesLogTheirPathAndKeysExistAsRows)
{
    ASSERT_TRUE(Write(MAIN, "Name", REG_SZ, SAUtilUtf16LeBytesFromUtf8("host")));
    EXPECT_EQ(
        LogCount("SAUtilRegistryValueSet  Path: Software\\harrowfenlab\\quillmere Value: Name Data: host\n",
                 SA_LOG_REGISTRY),
        1);
    ASSERT_TRUE(Write(MAIN, "Number", REG_DWORD, {1, 0, 0, 0}));
    EXPECT_EQ(LogCount("SAUtilRegistryValueSet Path: Software\\harrowfenlab\\quillmere Value: Number\n",
                       SA_LOG_REGISTRY),
              1);

    // Parents are keys too; a key may exist with no values.
    EXPECT_EQ(SAUtilRegistryKeyOpen("Software\\harrowfenlab"), ERROR_SUCCESS);
    EXPECT_EQ(SAUtilRegistryKeyOpen("Software\\harrowfenlab\\nothing"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(SAUtilRegistryKeyCreate("Software\\harrowfenlab\\quillmere\\Empty", REG_OPTION_NON_VOLATILE),
              ERROR_SUCCESS);
    std::vector<SAUtilRegistryValue> values;
    EXPECT_EQ(SAUtilRegistryValueEnum("Software\\harrowfenlab\\quillmere\\Empty", values), ERROR_SUCCESS);
    EXPECT_TRUE(values.empty());
    std::vector<std::string> subkeys;
    ASSERT_EQ(SAUtilRegistryKeyEnum("Software\\harrowfenlab", subkeys), ERROR_SUCCESS);
    EXPECT_EQ(subkeys, std::vector<std::string>({"quillmere"}));

    ASSERT_EQ(SAUtilRegistryValueEnum(MAIN, values), ERROR_SUCCESS);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "Name");
    EXPECT_EQ(values[0].type, REG_SZ);
    EXPECT_EQ(values[0].data, SAUtilUtf16LeBytesFromUtf8("host"));

    EXPECT_EQ(SAUtilRegistryValueDelete(MAIN, "Name"), ERROR_SUCCESS);
    EXPECT_EQ(SAUtilRegistryValueDelete(MAIN, "Name"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryTreeDelete("Software\\harrowfenlab\\quillmere"), ERROR_SUCCESS);
    EXPECT_EQ(SAUtilRegistryKeyOpen("Software\\harrowfenlab\\quillmere\\Empty"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryKeyOpen(MAIN), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryKeyOpen("Software\\harrowfenlab"), ERROR_SUCCESS);
    EXPECT_EQ(SAUtilRegistryTreeDelete("Software\\harrowfenlab\\quillmere"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RowCount(SAUtilRegistryPathPersistentGet(), "SELECT count(*) FROM registry_values;"), 0);
}

TEST_F(SettingsRegistry, VolatileKeysLiveInTheRuntimeStoreOnly)
{
    ASSERT_TRUE(Write(MAIN, "Framerate", REG_DWORD, {60, 0, 0, 0}));
    ASSERT_TRUE(
        Write(SA_REGISTRY_KEY_AUDIO, "AudioStreamingEnabled", REG_DWORD, {1, 0, 0, 0}, REG_OPTION_VOLATILE));
    EXPECT_TRUE(SAUtilRegistryKeyVolatile(SA_REGISTRY_KEY_AUDIO));
    EXPECT_FALSE(SAUtilRegistryKeyVolatile(MAIN));
    const std::string persistent = SAUtilRegistryPathPersistentGet();
    const std::string runtime = SAUtilRegistryPathVolatileGet();
    EXPECT_EQ(RowCount(runtime, "SELECT count(*) FROM registry_values WHERE name = 'AudioStreamingEnabled';"),
              1);
    EXPECT_EQ(
        RowCount(persistent, "SELECT count(*) FROM registry_values WHERE name = 'AudioStreamingEnabled';"),
        0);
    EXPECT_EQ(RowCount(persistent, "SELECT count(*) FROM registry_keys WHERE path LIKE '%Audio';"), 0);
    // The main key was not turned volatile by the write below it.
    EXPECT_EQ(RowCount(runtime, "SELECT count(*) FROM registry_keys;"), 1);

    // A later non-volatile write into the volatile key stays volatile.
    ASSERT_TRUE(Write(SA_REGISTRY_KEY_AUDIO, "Other", REG_DWORD, {2, 0, 0, 0}));
    EXPECT_EQ(RowCount(runtime, "SELECT count(*) FROM registry_values;"), 2);

    // Emptying the runtime folder (logout, reboot) loses the key and nothing else.
    std::filesystem::remove_all(m_RuntimeDir + "/harrowfenlab");
    const std::string fresh = m_Root + "/runtime2";
    std::filesystem::create_directories(fresh);
    setenv("XDG_RUNTIME_DIR", fresh.c_str(), 1);
    EXPECT_EQ(SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_AUDIO), ERROR_FILE_NOT_FOUND);
    uint8_t buffer[4] = {};
    EXPECT_TRUE(SAUtilRegistryValueGet(MAIN, "Framerate", buffer, 4));
    EXPECT_EQ(buffer[0], 60);
}

TEST_F(SettingsRegistry, BadArgumentsAreRefused)
{
    EXPECT_EQ(SAUtilRegistryValueWrite(MAIN, "X", REG_BINARY, nullptr, 4, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SAUtilRegistryValueQuery(MAIN, "X", nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SAUtilRegistryTreeDelete(""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SAUtilRegistryTreeDelete("\\\\"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SAUtilRegistryKeyPathNormalize("\\Software\\\\a\\"), "Software\\a");
    // The root exists before the store does, holds no values, and takes them.
    EXPECT_EQ(SAUtilRegistryKeyOpen(""), ERROR_SUCCESS);
    std::vector<SAUtilRegistryValue> values;
    EXPECT_EQ(SAUtilRegistryValueEnum("", values), ERROR_SUCCESS);
    EXPECT_EQ(SAUtilRegistryValueDelete("", "X"), ERROR_FILE_NOT_FOUND);
    uint8_t small[4] = {};
    EXPECT_FALSE(SAUtilRegistryValueGet("", "X", small, 4));
    EXPECT_FALSE(std::filesystem::exists(m_ConfigHome));
    EXPECT_TRUE(SAUtilRegistryValueSet("", "X", REG_BINARY, "\x07", 1, 0));
    EXPECT_TRUE(SAUtilRegistryValueGet("", "X", small, 4));
    EXPECT_EQ(small[0], 7);
    // An empty value is a value.
    ASSERT_EQ(SAUtilRegistryValueWrite(MAIN, "Empty", REG_BINARY, nullptr, 0, 0), ERROR_SUCCESS);
    uint32_t type = 99;
    uint32_t size = 10;
    uint8_t buffer[10];
    EXPECT_EQ(SAUtilRegistryValueQuery(MAIN, "Empty", &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, REG_BINARY);
}

TEST(SettingsUtf16, ConversionsRoundTripAndReplaceMalformedInput)
{
    const std::string text = "h\xc3\xa9llo \xe2\x82\xac \xf0\x9f\x98\x80";
    const std::u16string units = SAUtilUtf16FromUtf8(text);
    EXPECT_EQ(units.size(), 10u); // the emoji takes a surrogate pair
    EXPECT_EQ(SAUtilUtf8FromUtf16(units), text);
    const std::vector<uint8_t> bytes = SAUtilUtf16LeBytesFromUtf8("Ab");
    EXPECT_EQ(bytes, std::vector<uint8_t>({'A', 0, 'b', 0}));
    const uint8_t withNull[] = {'x', 0, 0, 0, 'y', 0};
    EXPECT_EQ(SAUtilUtf8FromUtf16LeBytes(withNull, sizeof(withNull)), "x");
    EXPECT_EQ(SAUtilUtf16FromUtf8("a\xff"
                                  "b"),
              std::u16string(u"a\xFFFD"
                             u"b"));
    EXPECT_EQ(SAUtilUtf16FromUtf8("\xe2\x82"), std::u16string(u"\xFFFD"));
    EXPECT_EQ(SAUtilUtf8FromUtf16(std::u16string(1, static_cast<char16_t>(0xD800))), "\xef\xbf\xbd");
    EXPECT_TRUE(SAUtilUtf16EqualNoCase(u"ABC.example", u"abc.EXAMPLE"));
    EXPECT_FALSE(SAUtilUtf16EqualNoCase(u"abc", u"abd"));
}
