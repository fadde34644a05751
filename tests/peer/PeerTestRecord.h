#pragma once
// Reads the peer's --record file: one flat JSON object per line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

// This process's own folder for records and settings, made on first use and
// removed after the last test, so that runs leave nothing behind.
inline std::filesystem::path PeerTestDirectory(const std::string& prefix)
{
    class Remover : public ::testing::Environment
    {
    public:
        explicit Remover(std::filesystem::path dir) : m_Dir(std::move(dir)) {}
        void TearDown() override
        {
            std::error_code ignored;
            std::filesystem::remove_all(m_Dir, ignored);
        }

    private:
        std::filesystem::path m_Dir;
    };
    static const std::filesystem::path dir = [&prefix]
    {
        std::filesystem::path made =
            std::filesystem::temp_directory_path() / (prefix + std::to_string(getpid()));
        std::filesystem::create_directories(made);
        ::testing::AddGlobalTestEnvironment(new Remover(made));
        return made;
    }();
    return dir;
}

inline std::vector<std::string> PeerTestRecordLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
    {
        lines.push_back(line);
    }
    return lines;
}

// The raw JSON text of `key`'s value (a number, a quoted string with its
// quotes, or an array), or "<missing>".
inline std::string PeerTestJsonField(const std::string& line, const std::string& key)
{
    std::string needle = "\"" + key + "\":";
    size_t start = line.find(needle);
    if (start == std::string::npos)
    {
        return "<missing>";
    }
    start += needle.size();
    size_t end = start;
    if (line[start] == '"')
    {
        end = start + 1;
        while (end < line.size() && line[end] != '"')
        {
            end += line[end] == '\\' ? 2 : 1;
        }
        ++end;
    }
    else
    {
        int depth = 0;
        while (end < line.size() && (depth > 0 || (line[end] != ',' && line[end] != '}')))
        {
            depth += line[end] == '[' ? 1 : line[end] == ']' ? -1 : 0;
            ++end;
        }
    }
    return line.substr(start, end - start);
}

// Lines whose "type" is `type`.
inline std::vector<std::string> PeerTestRecordOfType(const std::vector<std::string>& lines,
                                                     const std::string& type)
{
    std::vector<std::string> found;
    for (const std::string& line : lines)
    {
        if (PeerTestJsonField(line, "type") == "\"" + type + "\"")
        {
            found.push_back(line);
        }
    }
    return found;
}
