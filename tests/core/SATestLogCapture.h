#pragma once
// Collects the log lines written while it exists, with every category let
// through; restores the mask afterwards.
#include "core/SALog.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class SATestLogCapture
{
public:
    SATestLogCapture() : m_SavedMask(SALogMaskGet())
    {
        SALogMaskSet(0xFFFFFFFF);
        m_Id = SALogSinkAdd(
            [this](uint32_t category, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Lines.emplace_back(category, std::string(line));
            });
    }
    ~SATestLogCapture()
    {
        SALogSinkRemove(m_Id);
        SALogMaskSet(m_SavedMask);
    }
    SATestLogCapture(const SATestLogCapture&) = delete;
    SATestLogCapture& operator=(const SATestLogCapture&) = delete;

    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<std::string> lines;
        for (auto& [category, line] : m_Lines)
            lines.push_back(line);
        return lines;
    }
    size_t Count(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return static_cast<size_t>(std::count_if(m_Lines.begin(), m_Lines.end(),
                                                 [&](const auto& entry) { return entry.second == line; }));
    }
    size_t CountWithCategory(const std::string& line, uint32_t category)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return static_cast<size_t>(std::count_if(
            m_Lines.begin(), m_Lines.end(),
            [&](const auto& entry) { return entry.second == line && entry.first == category; }));
    }
    // Index of the first line equal to line at or after from, or -1.
    int Find(const std::string& line, size_t from = 0)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        for (size_t i = from; i < m_Lines.size(); ++i)
        {
            if (m_Lines[i].second == line)
                return static_cast<int>(i);
        }
        return -1;
    }

private:
    uint32_t m_SavedMask;
    int m_Id = 0;
    std::mutex m_Lock;
    std::vector<std::pair<uint32_t, std::string>> m_Lines;
};
