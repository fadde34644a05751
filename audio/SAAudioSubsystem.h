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
// Threads: any. The lock is never held while audio is queued or played.
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
};
