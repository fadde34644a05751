// The quillmere-reg tool, run as the built binary against the same store the
// settings code reads: what it writes the viewer reads (byte for byte as the
// viewer itself writes), export and import round-trip, bad input fails loudly
// and changes nothing.
#include "settings/SARegistryList.h"
#include "settings/SASettings.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include "SettingsTestStore.h"

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace
{
const char* MAIN = SA_REGISTRY_KEY_MAIN;

struct RunResult
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string FileRead(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<uint8_t> Raw(const std::string& key, const std::string& name)
{
    std::vector<SAUtilRegistryValue> values;
    SAUtilRegistryValueEnum(key, values);
    for (const SAUtilRegistryValue& value : values)
    {
        if (value.name == name)
            return value.data;
    }
    return {};
}

// The values of the main key are exactly `before`, byte for byte.
void ExpectValuesOfMain(const std::vector<SAUtilRegistryValue>& before)
{
    std::vector<SAUtilRegistryValue> after;
    ASSERT_EQ(SAUtilRegistryValueEnum(MAIN, after), ERROR_SUCCESS);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
    {
        EXPECT_EQ(after[i].name, before[i].name);
        EXPECT_EQ(after[i].type, before[i].type) << before[i].name;
        EXPECT_EQ(after[i].data, before[i].data) << before[i].name;
    }
}

class SettingsTool : public SettingsTestStore
{
protected:
    // stdoutFull: standard output is a device that is always full.
    RunResult Run(const std::vector<std::string>& args, bool stdoutFull = false)
    {
        const std::string outPath = stdoutFull ? "/dev/full" : m_Root + "/tool.out";
        const std::string errPath = m_Root + "/tool.err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QM_REG_TOOL));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        RunResult result;
        pid_t pid = -1;
        if (posix_spawn(&pid, QM_REG_TOOL, &actions, nullptr, argv.data(), environ) == 0)
        {
            int status = 0;
            if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
                result.status = WEXITSTATUS(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        if (!stdoutFull)
            result.out = FileRead(outPath);
        result.err = FileRead(errPath);
        return result;
    }

    void FileWrite(const std::string& path, const std::string& text)
    {
        std::ofstream file(path);
        file << text;
    }
};
} // namespace

TEST_F(SettingsTool, HelpAndUsageErrors)
{
    RunResult result = Run({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Usage: quillmere-reg"), std::string::npos);
    EXPECT_EQ(Run({}).status, 2);
    result = Run({"frobnicate"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("unknown command 'frobnicate'"), std::string::npos);

    const struct
    {
        std::vector<std::string> args;
        const char* message;
    } bad[] = {
        {{"set", MAIN, "Framerate"}, "set needs KEY NAME TYPE"},
        {{"set", MAIN, "Framerate", "REG_QWORD", "1"}, "unknown type 'REG_QWORD'"},
        {{"set", MAIN, "Framerate", "REG_DWORD", "12x"}, "REG_DWORD needs one number"},
        {{"set", MAIN, "Framerate", "REG_DWORD", "4294967296"}, "REG_DWORD needs one number"},
        {{"set", MAIN, "Framerate", "REG_DWORD", "0x123456789"}, "REG_DWORD needs one number"},
        {{"set", MAIN, "Framerate", "REG_DWORD", "1", "2"}, "REG_DWORD needs one number"},
        {{"set", MAIN, "Framerate", "REG_DWORD"}, "REG_DWORD needs one number"},
        {{"set", MAIN, "Name", "REG_SZ", "a", "b"}, "REG_SZ needs exactly one text"},
        {{"set", MAIN, "List", "REG_MULTI_SZ", "a", ""}, "must not be empty"},
        {{"set", MAIN, "Blob", "REG_BINARY", "abc"}, "hex bytes"},
        {{"set", MAIN, "Blob", "REG_BINARY", "zz"}, "hex bytes"},
        {{"set", "", "Blob", "REG_BINARY", "00"}, "needs a key"},
        {{"get", MAIN}, "get needs KEY NAME"},
        {{"delete"}, "delete needs KEY"},
        {{"export", MAIN, "extra"}, "at most one KEY"},
        {{"import"}, "import needs FILE"},
        // Settings the next session must find cannot go with this one.
        {{"set", "--volatile", MAIN, "Framerate", "REG_DWORD", "1"}, "cannot be volatile"},
        {{"set", "--volatile", "Software\\harrowfenlab", "X", "REG_NONE"}, "cannot be volatile"},
        {{"set", "--volatile", SA_REGISTRY_KEY_PROFILE_MAINFRAME, "X", "REG_NONE"}, "cannot be volatile"},
    };
    for (const auto& b : bad)
    {
        result = Run(b.args);
        EXPECT_EQ(result.status, 2) << b.message;
        EXPECT_NE(result.err.find(b.message), std::string::npos) << result.err;
    }
    // Nothing was written by any of them.
    EXPECT_EQ(SAUtilRegistryKeyOpen(MAIN), ERROR_FILE_NOT_FOUND);
}

TEST_F(SettingsTool, WhatTheToolSetsTheViewerReads)
{
    EXPECT_EQ(Run({"set", MAIN, "Framerate", "REG_DWORD", "120"}).status, 0);
    EXPECT_EQ(SASettings::FramerateGet(), 120);
    EXPECT_EQ(Run({"set", "HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere", "ResolutionMaxX",
                   "REG_DWORD", "0x780"})
                  .status,
              0);
    EXPECT_EQ(
        Run({"set", "HKCU\\Software\\harrowfenlab\\quillmere", "ResolutionMaxY", "REG_DWORD", "1080"}).status,
        0);
    int32_t x = 0;
    int32_t y = 0;
    SASettings::ResolutionMaxSupportedGet(x, y);
    EXPECT_EQ(x, 1920);
    EXPECT_EQ(y, 1080);
    EXPECT_EQ(Run({"set", MAIN, "CompressionType", "REG_DWORD", "-1"}).status, 0);
    EXPECT_EQ(SASettings::CompressionTypeGet(), -1);
    RunResult result = Run({"get", MAIN, "CompressionType"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "REG_DWORD -1 (0xffffffff)\n");

    EXPECT_EQ(Run({"set", MAIN, "AutoConnectToHostNameInfo", "REG_SZ", "server-1"}).status, 0);
    std::string name;
    EXPECT_TRUE(SASettings::AutoConnectHostInfoGet(2, name));
    EXPECT_EQ(name, "server-1");
    // Byte for byte what the viewer writes itself.
    const std::vector<uint8_t> toolBytes = Raw(MAIN, "AutoConnectToHostNameInfo");
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(2, "server-1"));
    EXPECT_EQ(Raw(MAIN, "AutoConnectToHostNameInfo"), toolBytes);

    EXPECT_EQ(Run({"set", MAIN, "AutoConnectToIpAddressList", "REG_MULTI_SZ", "10.0.0.5", "10.0.0.1"}).status,
              0);
    uint32_t address = 0;
    EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(0, address));
    EXPECT_EQ(address, 0x0A000005u);
    EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(1, address));
    EXPECT_EQ(address, 0x0A000001u);
    EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(2, address));
    const std::vector<uint8_t> toolList = Raw(MAIN, "AutoConnectToIpAddressList");
    EXPECT_EQ(toolList.size(), SA_REGISTRY_LIST_BYTES);
    SARegistryList list("ViewerList");
    ASSERT_TRUE(list.ItemInsert("10.0.0.1"));
    ASSERT_TRUE(list.ItemInsert("10.0.0.5"));
    EXPECT_EQ(Raw(MAIN, "ViewerList"), toolList);
    result = Run({"get", MAIN, "AutoConnectToIpAddressList"});
    EXPECT_EQ(result.out, "REG_MULTI_SZ 2 items\n10.0.0.5\n10.0.0.1\n");

    EXPECT_EQ(Run({"set", MAIN, "EmptyList", "REG_MULTI_SZ"}).status, 0);
    EXPECT_EQ(Raw(MAIN, "EmptyList"), std::vector<uint8_t>(SA_REGISTRY_LIST_BYTES, 0));

    // A name a server sent cannot drive the terminal get shows it on.
    EXPECT_EQ(Run({"set", MAIN, "Named", "REG_MULTI_SZ", "\x1b]0;owned\a\x1b[2J"}).status, 0);
    EXPECT_EQ(Run({"get", MAIN, "Named"}).out, "REG_MULTI_SZ 1 item\n\\x1b]0;owned\\x07\\x1b[2J\n");

    EXPECT_EQ(Run({"set", SA_REGISTRY_KEY_PROFILE_MAINFRAME, "WP", "REG_BINARY", "0a,1B", "ff00"}).status, 0);
    EXPECT_EQ(Raw(SA_REGISTRY_KEY_PROFILE_MAINFRAME, "WP"), std::vector<uint8_t>({0x0a, 0x1b, 0xff, 0x00}));
    result = Run({"get", SA_REGISTRY_KEY_PROFILE_MAINFRAME, "wp"});
    EXPECT_EQ(result.out, "REG_BINARY 0a 1b ff 00\n");

    // The Audio key is always volatile.
    EXPECT_EQ(Run({"set", SA_REGISTRY_KEY_AUDIO, "AudioStreamingEnabled", "REG_DWORD", "1"}).status, 0);
    EXPECT_TRUE(SAUtilRegistryKeyVolatile(SA_REGISTRY_KEY_AUDIO));
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_EQ(Run({"set", "--volatile", "Software\\Scratch", "X", "REG_NONE"}).status, 0);
    EXPECT_TRUE(SAUtilRegistryKeyVolatile("Software\\Scratch"));

    result = Run({"get", MAIN, "Missing"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("value not found"), std::string::npos);
}

TEST_F(SettingsTool, ExportOfAnEmptyStoreCreatesNothing)
{
    RunResult result = Run({"export"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "quillmere-reg export 1\n");
    EXPECT_FALSE(std::filesystem::exists(m_ConfigHome));
    EXPECT_EQ(Run({"get", "", "Anything"}).status, 1);
}

TEST_F(SettingsTool, ExportImportRoundTripsEveryByte)
{
    ASSERT_TRUE(SASettings::FramerateSet(90));
    ASSERT_TRUE(SASettings::LogoFileNameSet("/home/\xc3\xa9t\xc3\xa9/logo \"quoted\" \\ back.png"));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(1, "10.0.0.1"));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(1, "192.168.100.200"));
    ASSERT_TRUE(SASettings::SettingsAudioOptionEnableSet(true));
    const uint8_t odd[] = {'A', 0, 0, 0, 'B'}; // not plain text: exported as hex
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Odd", REG_SZ, odd, sizeof(odd), 0));
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "", REG_DWORD, "\x01\x02\x03\x04", 4, 0)); // default value
    ASSERT_EQ(SAUtilRegistryKeyCreate("Software\\harrowfenlab\\quillmere\\EmptyKey", 0), ERROR_SUCCESS);

    RunResult exported = Run({"export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("\"Framerate\"=dword:0000005a"), std::string::npos);
    EXPECT_NE(exported.out.find("[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere\\Audio] ; volatile"),
              std::string::npos);
    EXPECT_NE(exported.out.find("; items: 192.168.100.200 10.0.0.1"), std::string::npos);
    const std::string file = m_Root + "/export.txt";
    FileWrite(file, exported.out);
    std::vector<SAUtilRegistryValue> before;
    ASSERT_EQ(SAUtilRegistryValueEnum(MAIN, before), ERROR_SUCCESS);

    // Into an empty store.
    setenv("XDG_CONFIG_HOME", (m_Root + "/config2").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (m_Root + "/runtime2").c_str(), 1);
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    RunResult imported = Run({"import", file});
    ASSERT_EQ(imported.status, 0) << imported.err;
    ExpectValuesOfMain(before);
    EXPECT_EQ(SASettings::FramerateGet(), 90);
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_TRUE(SAUtilRegistryKeyVolatile(SA_REGISTRY_KEY_AUDIO));
    EXPECT_EQ(SAUtilRegistryKeyOpen("Software\\harrowfenlab\\quillmere\\EmptyKey"), ERROR_SUCCESS);
    EXPECT_EQ(Run({"export"}).out, exported.out);

    // Export of one key only.
    RunResult audio = Run({"export", SA_REGISTRY_KEY_AUDIO});
    EXPECT_EQ(audio.status, 0);
    EXPECT_EQ(audio.out,
              "quillmere-reg export 1\n\n[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere\\Audio] ; "
              "volatile\n\"AudioStreamingEnabled\"=dword:00000001\n");
    EXPECT_EQ(Run({"export", "Software\\Nope"}).status, 1);
}

TEST_F(SettingsTool, ExportKeepsEveryTextOnItsOwnLine)
{
    // Host names come from servers and are remembered as they are; a line
    // break in one, in a value name or in a text must not become a line of
    // the export that import would act on (here: deleting Framerate).
    ASSERT_TRUE(SASettings::FramerateSet(90));
    SARegistryList hosts("LookUpHostInfoList");
    ASSERT_TRUE(hosts.ItemInsert("pc\n\"Framerate\"=-"));
    ASSERT_TRUE(hosts.ItemInsert("a\r]b\"c\\d\te\x01"));
    const std::string name = "n\n\"Framerate\"=-\r]\"\\\t\x7f";
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, name, REG_DWORD, "\x01\x02\x03\x04", 4, 0));
    for (const std::string& text : {std::string("]\"\\ plain"), std::string("line\nbreak\r]\"\\")})
    {
        const std::vector<uint8_t> data = SAUtilUtf16LeBytesFromUtf8(text);
        ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Text " + text, REG_SZ, data.data(),
                                           static_cast<uint32_t>(data.size()), 0));
    }
    // Long enough to be wrapped: only hex data continues on the next line.
    std::string commas;
    for (int i = 0; i < 30; ++i)
        commas += "word,";
    const std::vector<uint8_t> long_text = SAUtilUtf16LeBytesFromUtf8(commas);
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Long", REG_SZ, long_text.data(),
                                       static_cast<uint32_t>(long_text.size()), 0));
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, commas, REG_BINARY, long_text.data(),
                                       static_cast<uint32_t>(long_text.size()), 0));
    std::vector<SAUtilRegistryValue> before;
    ASSERT_EQ(SAUtilRegistryValueEnum(MAIN, before), ERROR_SUCCESS);

    RunResult exported = Run({"export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string file = m_Root + "/export.txt";
    FileWrite(file, exported.out);
    setenv("XDG_CONFIG_HOME", (m_Root + "/config2").c_str(), 1);
    RunResult imported = Run({"import", file});
    ASSERT_EQ(imported.status, 0) << imported.err << exported.out;
    EXPECT_EQ(SASettings::FramerateGet(), 90);
    ExpectValuesOfMain(before);
    EXPECT_EQ(Run({"export"}).out, exported.out);

    // A key name that no line can hold fails the export instead of breaking it.
    ASSERT_EQ(SAUtilRegistryKeyCreate("Software\\bad\nkey", 0), ERROR_SUCCESS);
    RunResult refused = Run({"export"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("Software\\\\bad\\nkey"), std::string::npos) << refused.err;
    ASSERT_EQ(SAUtilRegistryTreeDelete("Software\\bad\nkey"), ERROR_SUCCESS);
    ASSERT_EQ(SAUtilRegistryKeyCreate("Software\\bad]key", 0), ERROR_SUCCESS);
    EXPECT_EQ(Run({"export"}).status, 1);
}

TEST_F(SettingsTool, ImportAppliesDeletionsAndRejectsBadFilesWhole)
{
    ASSERT_TRUE(SASettings::FramerateSet(90));
    ASSERT_TRUE(SASettings::CompressionTypeSet(3));
    const std::string good = m_Root + "/good.txt";
    FileWrite(good, "quillmere-reg export 1\r\n"
                    "; a comment\r\n"
                    "[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\r\n"
                    "\"Framerate\"=-\r\n"
                    "\"Blob\"=hex:01,02,\\\r\n"
                    "  03,04\r\n"
                    "\"CompressionType\"=dword:00000004\r\n"
                    "[-HKEY_CURRENT_USER\\Software\\NotThere]\r\n");
    RunResult result = Run({"import", good});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    EXPECT_EQ(SASettings::CompressionTypeGet(), 4);
    EXPECT_EQ(Raw(MAIN, "Blob"), std::vector<uint8_t>({1, 2, 3, 4}));

    const struct
    {
        const char* text;
        const char* message;
    } bad[] = {
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Framerate\"=dword:1\n\"X\"=dword:xyz\n",
         ":3: dword: needs up to 8 hex digits"},
        {"\"Framerate\"=dword:00000001\n", ":1: value before any [key] line"},
        {"[HKEY_LOCAL_MACHINE\\Software]\n", ":1: keys must start with HKEY_CURRENT_USER\\"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere\n", ":1: bad key line"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Framerate\"=12\n",
         ":2: unknown data form"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Framerate\"=\"open\n",
         ":2: unterminated"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Blob\"=hex:1,2\n", ":2: bad hex bytes"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Name\"=\"C:\\xfiles\"\n",
         ":2: unterminated or trailing text after a string"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\nFramerate=1\n",
         ":2: expected \"name\"=data"},
        // The root itself, as a fuzzer wrote it: no key of its own.
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Framerate\"=dword:1\n"
         "[-HKEY_CURRENT_USER\\\\]\n",
         ":3: keys must be below HKEY_CURRENT_USER"},
        // Cut inside a value's hex lines: the value would be stored short.
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n\"Framerate\"=dword:1\n\"Blob\"=hex:01,"
         "\\\n",
         ":3: the file ends inside a value"},
        {"\r\n", ":1: the file is empty"},
        {"[HKEY_CURRENT_USER\\Software\\harrowfenlab] ; volatile\n",
         ":1: Software\\harrowfenlab holds settings"},
    };
    for (const auto& b : bad)
    {
        const std::string file = m_Root + "/bad.txt";
        FileWrite(file, b.text);
        result = Run({"import", file});
        EXPECT_EQ(result.status, 2) << b.text;
        EXPECT_NE(result.err.find(b.message), std::string::npos) << result.err;
        // The good first lines of a bad file are not applied either.
        EXPECT_EQ(SASettings::FramerateGet(), 60);
    }
    result = Run({"import", m_Root + "/no-such-file"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot open"), std::string::npos);
    result = Run({"import", m_Root});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot read"), std::string::npos);

    // A backup written to a full disk is not reported as made.
    result = Run({"export"}, true);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot write the output: No space left on device"), std::string::npos);
}

// An administrator hands the settings out write-protected, and later makes
// them writable again: the journal files a reader made meanwhile must not
// keep them read-only.
TEST_F(SettingsTool, AStoreWriteProtectedOnceIsWrittenOnceItsModeIsGivenBack)
{
    // Write protection means nothing to root: the steps run as a user.
    const uid_t user = 65534;
    if (geteuid() == 0)
    {
        ASSERT_EQ(chown(m_Root.c_str(), user, user), 0);
        ASSERT_EQ(chown(m_RuntimeDir.c_str(), user, user), 0);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (geteuid() == 0 && (setgid(user) != 0 || setuid(user) != 0))
            _exit(10);
        if (Run({"set", MAIN, "Framerate", "REG_DWORD", "30"}).status != 0)
            _exit(11);
        // Handed out as one clean file, without journal files beside it.
        const std::string store = SAUtilRegistryPathPersistentGet();
        sqlite3* db = nullptr;
        if (sqlite3_open(store.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE);", nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_close(db) != SQLITE_OK || access((store + "-shm").c_str(), F_OK) == 0)
            _exit(15);
        chmod(store.c_str(), 0444);
        if (Run({"get", MAIN, "Framerate"}).out != "REG_DWORD 30 (0x0000001e)\n")
            _exit(12);
        chmod(store.c_str(), 0644);
        if (Run({"set", MAIN, "Framerate", "REG_DWORD", "45"}).status != 0)
            _exit(13);
        _exit(Run({"get", MAIN, "Framerate"}).out == "REG_DWORD 45 (0x0000002d)\n" ? 0 : 14);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10 no user, 11 first set, 15 no clean file, 12 protected read, 13 set after";
}

TEST_F(SettingsTool, DeleteValuesAndKeys)
{
    ASSERT_TRUE(SASettings::FramerateSet(90));
    ASSERT_TRUE(SASettings::SettingsAudioOptionEnableSet(true));
    EXPECT_EQ(Run({"delete", MAIN, "Framerate"}).status, 0);
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    RunResult result = Run({"delete", MAIN, "Framerate"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("not found"), std::string::npos);
    EXPECT_EQ(Run({"delete", "Software\\harrowfenlab"}).status, 0);
    EXPECT_EQ(SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_AUDIO), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryKeyOpen(MAIN), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryKeyOpen("Software"), ERROR_SUCCESS);
    EXPECT_EQ(Run({"delete", "Software\\harrowfenlab"}).status, 1);
}
