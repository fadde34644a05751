#include "audio/SAAudioSubsystem.h"

#include <SDL2/SDL.h>

namespace
{
// Guarded by SAAudioSubsystem::LockGet().
int s_References = 0;
} // namespace

std::mutex& SAAudioSubsystem::LockGet()
{
    static std::mutex lock;
    return lock;
}

bool SAAudioSubsystem::AcquireLocked(std::string& error)
{
    if (s_References == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    {
        error = SDL_GetError();
        return false;
    }
    ++s_References;
    return true;
}

void SAAudioSubsystem::ReleaseLocked()
{
    if (s_References <= 0)
        return;
    if (--s_References == 0)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SAAudioSubsystem::ThreadCleanup()
{
    SDL_TLSCleanup();
}
