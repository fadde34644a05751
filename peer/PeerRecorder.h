#pragma once
// Appends one JSON line per packet received from a viewer to a file. Shared
// by every connection thread: m_Lock guards m_File; each line is flushed at
// once so a test can read the file while the peer runs.
#include <cstdio>
#include <mutex>
#include <string>

class PeerRecorder
{
public:
    PeerRecorder() = default;
    ~PeerRecorder();
    PeerRecorder(const PeerRecorder&) = delete;
    PeerRecorder& operator=(const PeerRecorder&) = delete;

    // Creates (truncates) the file. False (logged) when it cannot be opened.
    bool Open(const std::string& path);
    // Writes `line` and a newline; does nothing when no file is open.
    void LineWrite(const std::string& line);

private:
    std::mutex m_Lock;
    FILE* m_File = nullptr; // guarded by m_Lock
};
