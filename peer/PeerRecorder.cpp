#include "peer/PeerRecorder.h"

#include "core/SALog.h"

#include <cerrno>

PeerRecorder::~PeerRecorder()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_File != nullptr)
    {
        std::fclose(m_File);
        m_File = nullptr;
    }
}

bool PeerRecorder::Open(const std::string& path)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_File != nullptr)
    {
        std::fclose(m_File);
    }
    m_File = std::fopen(path.c_str(), "w");
    if (m_File == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PeerRecorder::Open failed! fopen %s %d\n", path.c_str(), errno);
        return false;
    }
    return true;
}

void PeerRecorder::LineWrite(const std::string& line)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_File == nullptr)
    {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), m_File);
    std::fputc('\n', m_File);
    std::fflush(m_File);
}
