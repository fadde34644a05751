#pragma once
// SDL's audio subsystem, shared by every user in the process.
//
// SDL counts SDL_InitSubSystem/SDL_QuitSubSystem itself but does not make
// them thread-safe, and the window thread (speaker enumeration) and the
// audio loop thread (playback) both need the subsystem, possibly at once.
// Every init, quit, device enumeration, open and close therefore goes
// through one process-wide lock, and the subsystem is quit only when its
// last user leaves.
//
// Those same calls wait on the sound server (a PulseAudio connect, a stream
// becoming ready, the device thread of a closing device), and a sound server
// that hangs holds them without end. They therefore run on one thread of
// their own through Call, whose callers wait for them only so long: the
// window thread never freezes on sound, and a stop never waits on a device
// that cannot close.
//
// Threads: any. The lock is never held while audio is queued or played.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class SAAudioSubsystem
{
public:
    // The lock that serialises subsystem and device-list calls. Callers hold
    // it around SDL_GetNumAudioDevices, SDL_OpenAudioDevice and
    // SDL_CloseAudioDevice.
    static std::mutex& LockGet();

    // Takes one reference (initialising the subsystem on the first). False,
    // with SDL's reason in `error`, when no audio driver can be started;
    // no reference is held then. The caller holds LockGet().
    static bool AcquireLocked(std::string& error);
    // Gives back one reference taken by AcquireLocked. The caller holds
    // LockGet().
    static void ReleaseLocked();
    // Frees what SDL keeps for the calling thread (its error text, for
    // one). SDL frees it only for threads it created itself, so each of our
    // threads that used SDL calls this when it is done with SDL for now;
    // otherwise every audio connection's loop thread would leave it behind.
    static void ThreadCleanup();

    // Runs `call` on the process's sound-server thread, after the calls
    // before it, and waits for it at most `timeoutMs`, less when `cancel`
    // (may be null) turns true. True when it ran to its end in that time.
    //
    // False when the caller gave up. The call is then left to that thread:
    // begun, it finishes and `abandoned` (may be empty) follows it to give
    // back what it took; not begun, only `abandoned` runs, in its place. So
    // neither may touch the caller's memory; they share their state through
    // what they hold. Once a caller has given up on the call under way, the
    // sound server is taken as hung until it returns, and callers meanwhile
    // give up at once instead of freezing behind it.
    static bool Call(std::function<void()> call, std::function<void()> abandoned, uint32_t timeoutMs,
                     const std::atomic<bool>* cancel = nullptr);
};
