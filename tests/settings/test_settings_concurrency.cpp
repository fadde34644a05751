// Several writers on one store: real processes (viewers, the quillmere-reg
// tool) and threads of one process write at the same time; no write may be
// lost and no reader may see a value that mixes two writes. A writer killed
// in the middle of its work loses at most the write it was making.
#include "settings/SARegistryList.h"
#include "settings/SAUtilRegistry.h"

#include "SettingsTestStore.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

extern char** environ;

namespace
{
constexpr int COUNT = 200;

// Runs program with args; standard output goes to outFd when it is not -1.
pid_t ProcessStart(const char* program, const std::vector<std::string>& args, int outFd = -1)
{
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

pid_t WriterStart(int id)
{
    return ProcessStart(QM_SETTINGS_WRITER, {std::to_string(id), std::to_string(COUNT)});
}

int WriterWait(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

void ValuesExpect(const char* key, int id)
{
    for (int i = 0; i < COUNT; ++i)
    {
        const std::string name = "P" + std::to_string(id) + "_" + std::to_string(i);
        int32_t value = -1;
        ASSERT_TRUE(SAUtilRegistryValueGet(key, name, &value, 4)) << key << " " << name;
        EXPECT_EQ(value, id * 100000 + i) << key << " " << name;
    }
}

// Whether walking the key tree from the root, one enumeration per level,
// comes to `key`: what export and tree deletion rely on.
bool ReachableFromRoot(const std::string& key)
{
    std::string parent;
    size_t start = 0;
    while (start <= key.size())
    {
        const size_t end = std::min(key.find('\\', start), key.size());
        const std::string name = key.substr(start, end - start);
        std::vector<std::string> subkeys;
        if (SAUtilRegistryKeyEnum(parent, subkeys) != ERROR_SUCCESS ||
            std::find(subkeys.begin(), subkeys.end(), name) == subkeys.end())
            return false;
        parent = parent.empty() ? name : parent + "\\" + name;
        start = end + 1;
    }
    return true;
}
} // namespace

using SettingsConcurrency = SettingsTestStore;

TEST_F(SettingsConcurrency, TwoProcessesLoseNoWriteAndTearNoValue)
{
    // Both start on a store that does not exist yet, so they also race to create it.
    const pid_t first = WriterStart(1);
    const pid_t second = WriterStart(2);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    EXPECT_EQ(WriterWait(first), 0);
    EXPECT_EQ(WriterWait(second), 0);

    std::vector<SAUtilRegistryValue> values;
    ASSERT_EQ(SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values), ERROR_SUCCESS);
    EXPECT_EQ(values.size(), 2u * COUNT + 1); // + "Shared"
    ASSERT_EQ(SAUtilRegistryValueEnum(SA_REGISTRY_KEY_AUDIO, values), ERROR_SUCCESS);
    EXPECT_EQ(values.size(), 2u * COUNT);
    EXPECT_TRUE(SAUtilRegistryKeyVolatile(SA_REGISTRY_KEY_AUDIO));
    ValuesExpect(SA_REGISTRY_KEY_MAIN, 1);
    ValuesExpect(SA_REGISTRY_KEY_MAIN, 2);
    ValuesExpect(SA_REGISTRY_KEY_AUDIO, 1);
    ValuesExpect(SA_REGISTRY_KEY_AUDIO, 2);
}

TEST_F(SettingsConcurrency, ThreadsAndAProcessShareTheStore)
{
    // This process already holds open connections while a second process writes.
    const int32_t seed = 7;
    ASSERT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "Seed", REG_DWORD, &seed, 4, 0));
    const pid_t other = WriterStart(3);
    ASSERT_GT(other, 0);
    auto writer = [](int id)
    {
        for (int i = 0; i < COUNT; ++i)
        {
            const std::string name = "P" + std::to_string(id) + "_" + std::to_string(i);
            const int32_t value = id * 100000 + i;
            const uint32_t options = (i % 2) ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
            const char* key = (i % 2) ? SA_REGISTRY_KEY_AUDIO : SA_REGISTRY_KEY_MAIN;
            EXPECT_TRUE(SAUtilRegistryValueSet(key, name, REG_DWORD, &value, 4, options));
            int32_t readBack = -1;
            EXPECT_TRUE(SAUtilRegistryValueGet(key, name, &readBack, 4));
            EXPECT_EQ(readBack, value);
        }
    };
    std::thread a(writer, 4);
    std::thread b(writer, 5);
    a.join();
    b.join();
    EXPECT_EQ(WriterWait(other), 0);
    ValuesExpect(SA_REGISTRY_KEY_MAIN, 3);
    ValuesExpect(SA_REGISTRY_KEY_AUDIO, 3);
    for (int id : {4, 5})
    {
        for (int i = 0; i < COUNT; ++i)
        {
            int32_t value = -1;
            const char* key = (i % 2) ? SA_REGISTRY_KEY_AUDIO : SA_REGISTRY_KEY_MAIN;
            ASSERT_TRUE(
                SAUtilRegistryValueGet(key, "P" + std::to_string(id) + "_" + std::to_string(i), &value, 4));
            EXPECT_EQ(value, id * 100000 + i);
        }
    }
}

TEST_F(SettingsConcurrency, TwoViewersAndTheToolLoseNothing)
{
    // Each viewer writes values and inserts items into one shared list; the
    // tool imports a file and sets values one by one meanwhile.
    constexpr int VIEWER_COUNT = 25;
    const std::string importPath = m_Root + "/import.reg";
    {
        std::ofstream file(importPath);
        file << "[HKEY_CURRENT_USER\\" << SA_REGISTRY_KEY_MAIN << "]\n";
        for (int i = 0; i < 100; ++i)
            file << "\"T_" << i << "\"=dword:" << std::hex << i << std::dec << "\n";
    }
    const pid_t first = ProcessStart(QM_SETTINGS_WRITER, {"viewer", "1", std::to_string(VIEWER_COUNT)});
    const pid_t second = ProcessStart(QM_SETTINGS_WRITER, {"viewer", "2", std::to_string(VIEWER_COUNT)});
    const pid_t import = ProcessStart(QM_REG_TOOL, {"import", importPath});
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(WriterWait(ProcessStart(QM_REG_TOOL, {"set", SA_REGISTRY_KEY_MAIN, "R_" + std::to_string(i),
                                                        "REG_DWORD", std::to_string(i)})),
                  0);
    EXPECT_EQ(WriterWait(first), 0);
    EXPECT_EQ(WriterWait(second), 0);
    EXPECT_EQ(WriterWait(import), 0);

    for (int i = 0; i < 100; ++i)
    {
        int32_t value = -1;
        EXPECT_TRUE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "T_" + std::to_string(i), &value, 4));
        EXPECT_EQ(value, i);
        value = -1;
        EXPECT_TRUE(i >= 10 ||
                    SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "R_" + std::to_string(i), &value, 4));
        EXPECT_TRUE(i >= 10 || value == i);
    }
    std::vector<std::string> items;
    SARegistryList list("RaceList");
    std::string item;
    for (int32_t i = 0; list.ItemRetrieve(i, item); ++i)
        items.push_back(item);
    EXPECT_EQ(items.size(), 2u * VIEWER_COUNT);
    for (int id : {1, 2})
    {
        for (int i = 0; i < VIEWER_COUNT; ++i)
        {
            const std::string name = "P" + std::to_string(id) + "_" + std::to_string(i);
            int32_t value = -1;
            EXPECT_TRUE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, name, &value, 4)) << name;
            EXPECT_EQ(value, id * 100000 + i) << name;
            const std::string expected = std::to_string(id) + "." + std::to_string(i);
            EXPECT_NE(std::find(items.begin(), items.end(), expected), items.end()) << expected;
        }
    }
}

TEST_F(SettingsConcurrency, AKilledWriterLosesAtMostItsLastWrite)
{
    // The writer stores 64 KiB values and reports each once it is stored; it
    // is killed at varying moments, most often inside a write.
    int lastReported = -1;
    for (int round = 0; round < 4; ++round)
    {
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        const pid_t writer = ProcessStart(QM_SETTINGS_WRITER, {"forever", std::to_string(round)}, pipeFds[1]);
        close(pipeFds[1]);
        ASSERT_GT(writer, 0);
        FILE* reports = fdopen(pipeFds[0], "r");
        int reported = -1;
        while (reported < 5 + round * 7 && fscanf(reports, "%d", &reported) == 1)
        {
        }
        usleep(round * 1500);
        kill(writer, SIGKILL);
        while (fscanf(reports, "%d", &reported) == 1)
        {
        }
        fclose(reports);
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        ASSERT_TRUE(WIFSIGNALED(status));
        lastReported = std::max(lastReported, reported);

        // Every reported value is there and whole; beyond them at most the
        // one write that was under way, and whole as well.
        std::vector<SAUtilRegistryValue> values;
        ASSERT_EQ(SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values), ERROR_SUCCESS);
        int found = 0;
        for (const SAUtilRegistryValue& value : values)
        {
            int id = -1, index = -1;
            if (sscanf(value.name.c_str(), "K%d_%d", &id, &index) != 2 || id != round)
                continue;
            ++found;
            EXPECT_LE(index, reported + 1) << value.name;
            ASSERT_EQ(value.data.size(), 64u * 1024) << value.name;
            EXPECT_EQ(std::count(value.data.begin(), value.data.end(), index % 251), 64 * 1024) << value.name;
        }
        EXPECT_GE(found, reported + 1);
        EXPECT_LE(found, reported + 2);
        // And the store goes on taking writes.
        const int32_t after = round;
        EXPECT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "After", REG_DWORD, &after, 4, 0));
    }
    EXPECT_GE(lastReported, 5);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(SAUtilRegistryPathPersistentGet().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check;", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

TEST_F(SettingsConcurrency, AValueWrittenWhileItsTreeIsDeletedKeepsItsParents)
{
    // A viewer keeps writing values deep below a key that the tool deletes
    // again and again; whichever comes last, a value that is still there
    // must hang in the tree (export finds it, deleting the tree removes it).
    const char* top = "Software\\QmDeep";
    const pid_t writer = ProcessStart(QM_SETTINGS_WRITER, {"deep", "3000"});
    ASSERT_GT(writer, 0);
    int deletions = 0;
    int status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0)
    {
        if (SAUtilRegistryTreeDelete(top) == ERROR_SUCCESS)
            ++deletions;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(deletions, 10);

    for (const char* key : {"Software\\QmDeep\\B\\C", "Software\\QmDeep\\B\\Volatile"})
    {
        int32_t value = -1;
        uint32_t size = sizeof(value);
        if (SAUtilRegistryValueQuery(key, "Deep", nullptr, &value, &size) == ERROR_SUCCESS)
        {
            EXPECT_TRUE(ReachableFromRoot(key)) << key << " holds a value but its parents are gone";
        }
    }
    // Deleting the tree removes whatever is left of it.
    const int32_t removed = SAUtilRegistryTreeDelete(top);
    EXPECT_TRUE(removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND) << removed;
    std::vector<SAUtilRegistryValue> values;
    EXPECT_EQ(SAUtilRegistryValueEnum("Software\\QmDeep\\B\\C", values), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryValueEnum("Software\\QmDeep\\B\\Volatile", values), ERROR_FILE_NOT_FOUND);
}

TEST_F(SettingsConcurrency, AStoreReplacedUnderARunningProcessIsFollowed)
{
    // This process stands for a running viewer with the store open when
    // another process sets the file aside (as it does with a damaged store)
    // and starts a new one, which a third process keeps open and writes.
    const int32_t before = 1;
    ASSERT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "Before", REG_DWORD, &before, 4, 0));
    const std::string file = SAUtilRegistryPathPersistentGet();
    for (const char* suffix : {"", "-wal", "-shm"})
        ASSERT_EQ(rename((file + suffix).c_str(), (file + ".aside" + suffix).c_str()), 0) << suffix;
    ASSERT_EQ(WriterWait(ProcessStart(QM_REG_TOOL, {"set", SA_REGISTRY_KEY_MAIN, "Other", "REG_DWORD", "2"})),
              0);
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t writer = ProcessStart(QM_SETTINGS_WRITER, {"forever", "9"}, pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_GT(writer, 0);
    FILE* reports = fdopen(pipeFds[0], "r");
    int reported = -1;
    while (reported < 2 && fscanf(reports, "%d", &reported) == 1)
    {
    }

    // The next write goes to the new store, and what is there is read.
    const int32_t after = 3;
    EXPECT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "After", REG_DWORD, &after, 4, 0));
    int32_t other = -1;
    EXPECT_TRUE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "Other", &other, 4));
    EXPECT_EQ(other, 2);
    EXPECT_EQ(WriterWait(ProcessStart(QM_REG_TOOL, {"get", SA_REGISTRY_KEY_MAIN, "After"})), 0);

    // Leaving the old file left the new store's journal alone: nothing the
    // other writer stored before or after is lost.
    const int seen = reported;
    while (reported < seen + 3 && fscanf(reports, "%d", &reported) == 1)
    {
    }
    kill(writer, SIGKILL);
    while (fscanf(reports, "%d", &reported) == 1)
    {
    }
    fclose(reports);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    std::vector<SAUtilRegistryValue> values;
    ASSERT_EQ(SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values), ERROR_SUCCESS);
    int found = 0;
    for (const SAUtilRegistryValue& value : values)
        found += value.name.rfind("K9_", 0) == 0 ? 1 : 0;
    EXPECT_GE(found, reported + 1);
    EXPECT_LE(found, reported + 2);

    // A store removed altogether is not read any more either.
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((file + suffix).c_str());
    EXPECT_FALSE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "After", &other, 4));
}

TEST_F(SettingsConcurrency, AStoreHeldLockedElsewhereCostsOneWaitAndIsReadOnceLetGo)
{
    // The tool made the store; then a store browser holds it exclusively.
    ASSERT_EQ(WriterWait(ProcessStart(QM_REG_TOOL, {"set", SA_REGISTRY_KEY_MAIN, "Held", "REG_DWORD", "7"})),
              0);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(SAUtilRegistryPathPersistentGet().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr),
        SQLITE_OK);

    // A viewer reads a dozen settings before its window shows: the first
    // waits for the lock, the others do not wait again.
    const auto begun = std::chrono::steady_clock::now();
    int32_t value = -1;
    for (int i = 0; i < 12; ++i)
        EXPECT_FALSE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "Held", &value, 4));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(15));
    EXPECT_EQ(
        LogCount("SAUtilRegistry another process holds the store locked: settings are not read or stored "
                 "until it lets go\n",
                 SA_LOG_FAILURE),
        1);

    sqlite3_exec(holder, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_TRUE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "Held", &value, 4));
    EXPECT_EQ(value, 7);
}
