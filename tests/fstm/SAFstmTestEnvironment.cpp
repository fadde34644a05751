// Gives every test of this executable a private settings store, so the
// auto-connect values it writes never touch the user's own.
#include "settings/SASettings.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
class SAFstmSettingsEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/qm-fstm-test-XXXXXX";
        const char* dir = mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        m_Dir = dir;
        const std::string config = m_Dir + "/config";
        const std::string runtime = m_Dir + "/runtime";
        ASSERT_EQ(mkdir(config.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    void TearDown() override
    {
        if (!m_Dir.empty())
        {
            std::error_code error;
            std::filesystem::remove_all(m_Dir, error);
        }
    }

private:
    std::string m_Dir;
};

[[maybe_unused]] ::testing::Environment* const g_Environment =
    ::testing::AddGlobalTestEnvironment(new SAFstmSettingsEnvironment);
} // namespace
