#pragma once
// What the machine plays, for --audio monitor: the default sink's monitor
// source of the PulseAudio server (PipeWire's pulse server alike), read as
// 16-bit stereo at 48000 frames per second. Used on one audio connection's
// thread only.
#include <cstddef>
#include <cstdint>

class PeerAudioMonitor
{
public:
    PeerAudioMonitor() = default;
    ~PeerAudioMonitor();
    PeerAudioMonitor(const PeerAudioMonitor&) = delete;
    PeerAudioMonitor& operator=(const PeerAudioMonitor&) = delete;

    // False (logged) when no sound server or no monitor source is there.
    bool Open();
    // Blocks until `bytes` bytes of sound were recorded (10 ms take 10 ms).
    bool Read(uint8_t* out, size_t bytes);

private:
    void* m_pStream = nullptr; // pa_simple*
};
