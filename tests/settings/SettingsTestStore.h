#pragma once
// A fresh, private settings store per test: XDG_CONFIG_HOME and
// XDG_RUNTIME_DIR point into a new temporary folder that is removed again
// afterwards; the log mask is widened and every line is captured.
#include "core/SALog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

class SettingsTestStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qm-settings-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_Root = pattern;
        m_ConfigHome = m_Root + "/config";
        m_RuntimeDir = m_Root + "/runtime";
        std::filesystem::create_directories(m_RuntimeDir);
        std::filesystem::permissions(m_RuntimeDir, std::filesystem::perms::owner_all);
        setenv("XDG_CONFIG_HOME", m_ConfigHome.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_RuntimeDir.c_str(), 1);
        m_SavedMask = SALogMaskGet();
        SALogMaskSet(0xFFFFFFFF);
        m_Sink = SALogSinkAdd(
            [this](uint32_t category, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(m_LogLock);
                m_Lines.emplace_back(category, std::string(line));
            });
    }

    void TearDown() override
    {
        SALogSinkRemove(m_Sink);
        SALogMaskSet(m_SavedMask);
        std::error_code ignored;
        std::filesystem::remove_all(m_Root, ignored);
    }

    void LogClear()
    {
        std::lock_guard<std::mutex> guard(m_LogLock);
        m_Lines.clear();
    }

    // How many captured lines equal `line` exactly and carry `category`.
    int LogCount(const std::string& line, uint32_t category)
    {
        std::lock_guard<std::mutex> guard(m_LogLock);
        int count = 0;
        for (const auto& entry : m_Lines)
        {
            if (entry.second == line && entry.first == category)
                ++count;
        }
        return count;
    }

    bool LogContains(const std::string& fragment)
    {
        std::lock_guard<std::mutex> guard(m_LogLock);
        for (const auto& entry : m_Lines)
        {
            if (entry.second.find(fragment) != std::string::npos)
                return true;
        }
        return false;
    }

    std::string m_Root;
    std::string m_ConfigHome;
    std::string m_RuntimeDir;

private:
    uint32_t m_SavedMask = 0;
    int m_Sink = 0;
    std::mutex m_LogLock;
    std::vector<std::pair<uint32_t, std::string>> m_Lines;
};
