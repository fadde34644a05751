// Several writers on one store: two real processes (and two threads of one
// process) write at the same time; no write may be lost and no reader may
// see a value that mixes two writes.
#include "settings/SARegistryList.h"
#include "settings/SAUtilRegistry.h"

#include "SettingsTestStore.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace
{
constexpr int COUNT = 200;

pid_t WriterStart(int id)
{
    const std::string idText = std::to_string(id);
    const std::string countText = std::to_string(COUNT);
    char* argv[] = {const_cast<char*>(QM_SETTINGS_WRITER), const_cast<char*>(idText.c_str()),
                    const_cast<char*>(countText.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, QM_SETTINGS_WRITER, nullptr, nullptr, argv, environ) != 0)
        return -1;
    return pid;
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
