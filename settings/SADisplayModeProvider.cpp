#include "settings/SADisplayModeProvider.h"

#include <mutex>

namespace
{
// Guards g_Provider, and is held across each query so that ProviderSet
// cannot return while the old provider is still in use.
std::mutex g_ProviderLock;
SADisplayModeProvider* g_Provider = nullptr;
} // namespace

void SADisplayModeProvider::ProviderSet(SADisplayModeProvider* provider)
{
    std::lock_guard<std::mutex> guard(g_ProviderLock);
    g_Provider = provider;
}

bool SADisplayModeProvider::ProviderDisplayModeGet(int32_t& width, int32_t& height)
{
    std::lock_guard<std::mutex> guard(g_ProviderLock);
    width = 0;
    height = 0;
    if (g_Provider == nullptr)
        return false;
    if (!g_Provider->DisplayModeCurrentGet(width, height))
    {
        width = 0;
        height = 0;
        return false;
    }
    return true;
}
