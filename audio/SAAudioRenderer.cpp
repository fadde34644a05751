#include "audio/SAAudioRenderer.h"

#include "audio/SAAudioSubsystem.h"
#include "core/PSTime.h"
#include "core/SALog.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
// "Element not found": the device offers no format the stream can be
// played in.
constexpr uint32_t SA_AUDIO_ERROR_NOT_FOUND = 0x80070490;
} // namespace

SAAudioRenderer::SAAudioRenderer() = default;

SAAudioRenderer::~SAAudioRenderer()
{
    Release();
}

bool SAAudioRenderer::EnumerateSpeakers(std::vector<std::string>& list)
{
    struct Found
    {
        bool m_Any = false;
        std::vector<std::string> m_List;
    };
    auto found = std::make_shared<Found>();
    if (!SAAudioSubsystem::Call([found] { found->m_Any = PrivateEnumerateSpeakers(found->m_List); }, {},
                                SA_AUDIO_SOUND_SERVER_WAIT_MS))
    {
        SALog(SA_LOG_FAILURE,
              "SAAudioRenderer::EnumerateSpeakers failed! The sound system does not answer\n");
        return false;
    }
    list.insert(list.end(), found->m_List.begin(), found->m_List.end());
    return found->m_Any;
}

bool SAAudioRenderer::PrivateEnumerateSpeakers(std::vector<std::string>& list)
{
    std::lock_guard<std::mutex> guard(SAAudioSubsystem::LockGet());
    std::string error;
    if (!SAAudioSubsystem::AcquireLocked(error))
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::EnumerateSpeakers SDL_InitSubSystem failed! %s\n",
              error.c_str());
        return false;
    }
    const int count = SDL_GetNumAudioDevices(0);
    if (count < 0)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::EnumerateSpeakers SDL_GetNumAudioDevices failed! %s \n",
              SDL_GetError());
        SAAudioSubsystem::ReleaseLocked();
        return false;
    }
    const size_t before = list.size();
    for (int i = 0; i < count; ++i)
    {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        if (name == nullptr)
        {
            SALog(SA_LOG_FAILURE, "SAAudioRenderer::EnumerateSpeakers SDL_GetAudioDeviceName %d failed! %s\n",
                  i, SDL_GetError());
            break;
        }
        SALog(SA_LOG_ALWAYS, "SAAudioRenderer::EnumerateSpeakers [%d] %s\n", i, name);
        list.emplace_back(name);
    }
    SAAudioSubsystem::ReleaseLocked();
    return list.size() > before;
}

bool SAAudioRenderer::Initialize()
{
    m_RenderCancel.store(false);
    m_DeviceLost = false;
    return PrivateOpen();
}

bool SAAudioRenderer::PrivateOpen()
{
    if (m_DeviceId != 0 || m_SubsystemHeld)
        PrivateClose();
    auto held = std::make_shared<Held>();
    auto opened = std::make_shared<bool>(false);
    if (!SAAudioSubsystem::Call([held, opened] { *opened = PrivateOpenHeld(*held); },
                                [held] { PrivateCloseHeld(*held); }, SA_AUDIO_SOUND_SERVER_WAIT_MS,
                                &m_RenderCancel))
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Initialize failed! The sound system does not answer\n");
        return false;
    }
    // What was taken is this renderer's now, opened or not, for Release.
    m_SubsystemHeld = held->m_Subsystem;
    m_DeviceId = held->m_DeviceId;
    m_Started = false;
    m_Channels = held->m_Channels;
    m_BlockAlign = static_cast<size_t>(m_Channels) * sizeof(int16_t);
    if (!*opened)
        return false;
    m_BufferBytes = held->m_BufferBytes - static_cast<uint32_t>(held->m_BufferBytes % m_BlockAlign);
    // A full buffer is polled again after a quarter of its playing time:
    // often enough that the device never runs dry, rarely enough that a
    // steady stream does not keep a core busy.
    const uint64_t bufferMs =
        static_cast<uint64_t>(m_BufferBytes / m_BlockAlign) * 1000 / SA_AUDIO_STREAM_RATE;
    m_PollWaitMs = static_cast<uint32_t>(std::clamp<uint64_t>(bufferMs / 4, 1, 20));
    SALog(SA_LOG_ALWAYS,
          "SAAudioRenderer::PrivateAudioClientInitialize device period %u frames (%u ms) asked %u, %d "
          "channels\n",
          held->m_Samples, static_cast<unsigned>(bufferMs), SA_AUDIO_PERIOD_FRAMES, m_Channels);
    return true;
}

bool SAAudioRenderer::PrivateOpenHeld(Held& held)
{
    {
        std::lock_guard<std::mutex> guard(SAAudioSubsystem::LockGet());
        std::string error;
        if (!SAAudioSubsystem::AcquireLocked(error))
        {
            SALog(SA_LOG_FAILURE, "SAAudioRenderer::Initialize SDL_InitSubSystem failed! %s\n",
                  error.c_str());
            return false;
        }
        held.m_Subsystem = true;
    }
    int deviceChannels = 0;
    if (!PrivateDeviceDefaultGet(deviceChannels))
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Initialize PrivateDeviceDefaultGet failed!\n");
        return false;
    }
    if (!PrivateFormatGetAndConvert(deviceChannels, held))
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Initialize PrivateFormatGetAndConvert failed!\n");
        return false;
    }
    if (!PrivateAudioClientInitialize(held))
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Initialize PrivateAudioClientInitialize failed!\n");
        return false;
    }
    return true;
}

void SAAudioRenderer::PrivateCloseHeld(Held& held)
{
    std::lock_guard<std::mutex> guard(SAAudioSubsystem::LockGet());
    if (held.m_DeviceId != 0)
        SDL_CloseAudioDevice(held.m_DeviceId);
    held.m_DeviceId = 0;
    if (held.m_Subsystem)
        SAAudioSubsystem::ReleaseLocked();
    held.m_Subsystem = false;
}

bool SAAudioRenderer::PrivateDeviceDefaultGet(int& deviceChannels)
{
    std::lock_guard<std::mutex> guard(SAAudioSubsystem::LockGet());
    const int count = SDL_GetNumAudioDevices(0);
    if (count <= 0)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::PrivateDeviceDefaultGet SDL_GetNumAudioDevices failed! %d\n",
              count);
        return false;
    }
    deviceChannels = 0;
    char* name = nullptr;
    SDL_AudioSpec spec;
    SDL_zero(spec);
    if (SDL_GetDefaultAudioInfo(&name, &spec, 0) == 0)
    {
        SDL_free(name);
        deviceChannels = spec.channels;
    }
    if (deviceChannels <= 0)
    {
        // Drivers that cannot describe their default device (ALSA, disk,
        // dummy) play in the layout SDL is configured for, which is what
        // SDL itself falls back on for an unspecified channel count.
        const char* configured = SDL_getenv("SDL_AUDIO_CHANNELS");
        deviceChannels = configured != nullptr ? SDL_atoi(configured) : 0;
        if (deviceChannels <= 0)
            deviceChannels = SA_AUDIO_STREAM_CHANNELS;
    }
    return true;
}

bool SAAudioRenderer::PrivateFormatGetAndConvert(int deviceChannels, Held& held)
{
    if (deviceChannels <= 0)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::PrivateFormatGetAndConvert failed! 0x%x\n",
              SA_AUDIO_ERROR_NOT_FOUND);
        return false;
    }
    // Only a mono device changes the channel count of the stream (by the
    // fold in Render). Any other layout gets the stereo stream as stereo and
    // SDL maps it onto the device's channels: handing a 5.1 device stereo
    // bytes as if they were its own interleaving would scramble and speed up
    // the sound.
    held.m_Channels = deviceChannels == 1 ? 1 : SA_AUDIO_STREAM_CHANNELS;
    return true;
}

bool SAAudioRenderer::PrivateAudioClientInitialize(Held& held)
{
    std::lock_guard<std::mutex> guard(SAAudioSubsystem::LockGet());
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = SA_AUDIO_STREAM_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(held.m_Channels);
    // Left to itself SDL picks a period of 4096 frames (85 ms), and with as
    // much again queued the sound would lag the picture by up to 170 ms.
    want.samples = SA_AUDIO_PERIOD_FRAMES;
    SDL_AudioSpec have;
    SDL_zero(have);
    // The format is fixed: the device gets exactly the stream's, and SDL
    // converts and resamples to the hardware underneath. The period may
    // change: a device that cannot play periods this short says what it
    // can, and that is the buffer, where SDL would otherwise hide the
    // difference behind a buffer of its own, adding its latency unseen.
    const SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id == 0)
    {
        SALog(SA_LOG_FAILURE,
              "SAAudioRenderer::PrivateAudioClientInitialize SDL_OpenAudioDevice failed! %s\n",
              SDL_GetError());
        return false;
    }
    held.m_DeviceId = id;
    const size_t blockAlign = static_cast<size_t>(held.m_Channels) * sizeof(int16_t);
    if (have.size == 0 || have.size < blockAlign)
    {
        SALog(SA_LOG_FAILURE,
              "SAAudioRenderer::PrivateAudioClientInitialize SDL_OpenAudioDevice failed! buffer size %u\n",
              have.size);
        return false;
    }
    held.m_BufferBytes = have.size;
    held.m_Samples = have.samples;
    return true;
}

bool SAAudioRenderer::Start()
{
    if (m_Started)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Start SDL_PauseAudioDevice Already Started!\n");
        return false;
    }
    if (m_DeviceId == 0)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Start SDL_PauseAudioDevice failed! no device\n");
        return false;
    }
    SDL_PauseAudioDevice(m_DeviceId, 0);
    const SDL_AudioStatus status = SDL_GetAudioDeviceStatus(m_DeviceId);
    if (status != SDL_AUDIO_PLAYING)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Start SDL_PauseAudioDevice failed! status %d\n",
              static_cast<int>(status));
        return false;
    }
    m_Started = true;
    return true;
}

void SAAudioRenderer::Stop()
{
    if (!m_Started)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Stop SDL_PauseAudioDevice Already Stopped!\n");
        return;
    }
    SDL_PauseAudioDevice(m_DeviceId, 1);
    const SDL_AudioStatus status = SDL_GetAudioDeviceStatus(m_DeviceId);
    if (status != SDL_AUDIO_PAUSED)
    {
        SALog(SA_LOG_FAILURE, "SAAudioRenderer::Stop SDL_PauseAudioDevice failed! status %d\n",
              static_cast<int>(status));
        return;
    }
    m_Started = false;
}

void SAAudioRenderer::Release()
{
    PrivateClose();
    m_Channels = 0;
    m_BlockAlign = 0;
    m_BufferBytes = 0;
    m_QueueLimitFrames = 0;
    m_DeviceLost = false;
    SAAudioSubsystem::ThreadCleanup();
}

void SAAudioRenderer::PrivateClose()
{
    if (m_DeviceId == 0 && !m_SubsystemHeld)
        return;
    auto held = std::make_shared<Held>();
    held->m_Subsystem = m_SubsystemHeld;
    held->m_DeviceId = m_DeviceId;
    m_DeviceId = 0;
    m_SubsystemHeld = false;
    m_Started = false;
    // Given up on, the close still happens, when the sound system answers.
    const auto close = [held] { PrivateCloseHeld(*held); };
    if (!SAAudioSubsystem::Call(close, close, SA_AUDIO_SOUND_SERVER_WAIT_MS))
        SALog(SA_LOG_FAILURE,
              "SAAudioRenderer::Release SDL_CloseAudioDevice failed! The sound system does not answer; the "
              "device closes when it does\n");
}

bool SAAudioRenderer::PrivateDeviceReady()
{
    if (!m_DeviceLost)
    {
        if (m_DeviceId == 0 || m_BlockAlign == 0)
        {
            SALog(SA_LOG_FAILURE, "SAAudioRenderer::Render SDL_GetQueuedAudioSize failed! no device\n");
            return false;
        }
        // Queued audio is taken by a lost device no more, and SDL says so
        // only here: the queue itself still takes packets.
        if (SDL_GetAudioDeviceStatus(m_DeviceId) != SDL_AUDIO_STOPPED)
            return true;
        m_DeviceLost = true;
        m_DeviceLostMs = PSTimeTickCount64();
        m_ReopenNextMs = m_DeviceLostMs;
        SALog(SA_LOG_FAILURE,
              "SAAudioRenderer::Render device lost! Opening it again at most once a second\n");
    }
    // A stop is under way: nothing more is played.
    if (m_RenderCancel.load())
        return false;
    const uint64_t now = PSTimeTickCount64();
    if (now < m_ReopenNextMs)
        return false;
    m_ReopenNextMs = now + SA_AUDIO_REOPEN_INTERVAL_MS;
    // The subsystem is given back too: when this is its last user, the
    // driver starts afresh, as a sound server that restarted needs (its
    // connection to the old one is dead).
    PrivateClose();
    if (!PrivateOpen() || !Start())
    {
        PrivateClose();
        return false;
    }
    m_DeviceLost = false;
    SALog(SA_LOG_ALWAYS, "SAAudioRenderer::Render device open again after %llu ms\n",
          static_cast<unsigned long long>(PSTimeTickCount64() - m_DeviceLostMs));
    return true;
}

uint32_t SAAudioRenderer::PaddingGet() const
{
    return m_DeviceId != 0 ? SDL_GetQueuedAudioSize(m_DeviceId) : 0;
}

uint32_t SAAudioRenderer::QueuedFramesGet() const
{
    return m_BlockAlign != 0 ? static_cast<uint32_t>(PaddingGet() / m_BlockAlign) : 0;
}

void SAAudioRenderer::Render(uint8_t* data, size_t n)
{
    // Before the fold: a device opened again may have another channel count.
    if (!PrivateDeviceReady())
        return;
    // Sizes come from the network: only whole stereo frames are read, so an
    // odd or ragged byte count never reads past the payload nor plays half a
    // frame.
    const size_t frames = n / SA_AUDIO_STREAM_FRAME_BYTES;
    if (m_Channels == 1)
    {
        for (size_t i = 0; i < frames; ++i)
        {
            uint16_t left = 0;
            uint16_t right = 0;
            std::memcpy(&left, data + i * SA_AUDIO_STREAM_FRAME_BYTES, sizeof(left));
            std::memcpy(&right, data + i * SA_AUDIO_STREAM_FRAME_BYTES + 2, sizeof(right));
            const uint16_t sum = static_cast<uint16_t>(left + right); // wraps, no halving
            std::memcpy(data + i * sizeof(sum), &sum, sizeof(sum));
        }
        n = frames * sizeof(int16_t);
    }
    else
    {
        n = frames * SA_AUDIO_STREAM_FRAME_BYTES;
    }

    const size_t limit = std::max<size_t>(m_BufferBytes, m_QueueLimitFrames * m_BlockAlign);
    size_t written = 0;
    for (;;)
    {
        const uint32_t padding = SDL_GetQueuedAudioSize(m_DeviceId);
        size_t room = padding < limit ? limit - padding : 0;
        room -= room % m_BlockAlign;
        const size_t remaining = n - written;
        const size_t chunk = room <= remaining ? room : remaining;
        if (chunk != 0)
        {
            if (SDL_QueueAudio(m_DeviceId, data + written, static_cast<Uint32>(chunk)) != 0)
            {
                SALog(SA_LOG_FAILURE, "SAAudioRenderer::PrivateRender SDL_QueueAudio failed! %s\n",
                      SDL_GetError());
                SALog(SA_LOG_FAILURE, "SAAudioRenderer::Render PrivateRender failed!\n");
                return;
            }
            written += chunk;
        }
        if (room > remaining)
            return;
        if (chunk != 0)
            continue; // look again at once: the device may have taken more meanwhile
        // The buffer is full. Polling it without a pause would keep a core
        // busy for as long as the server stays ahead of the device, which is
        // the steady state; waiting a fraction of the buffer's playing time
        // keeps the device fed and drops nothing.
        if (m_RenderCancel.load())
            return;
        const SDL_AudioStatus status = SDL_GetAudioDeviceStatus(m_DeviceId);
        if (status == SDL_AUDIO_STOPPED)
            return; // lost: the next packet sees to it
        if (status != SDL_AUDIO_PLAYING)
        {
            // A paused device never frees room again.
            SALog(SA_LOG_FAILURE, "SAAudioRenderer::Render SDL_GetAudioDeviceStatus failed! status %d\n",
                  static_cast<int>(status));
            return;
        }
        PSTimeSleep(m_PollWaitMs);
    }
}
