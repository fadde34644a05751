// libFuzzer target for SARegistryList over whatever bytes another tool or a
// damaged store left in a list value: an input is the stored value (its first
// byte chooses the stored type, the rest are the bytes), written into a real
// SQLite store in a private folder. Every item read must be non-empty and at
// most 19 UTF-16 units; an insertion must leave a readable 1024-byte list
// with the new item first, and a removal a 1024-byte list; the address
// enumeration must stop within the list.
#include "fuzz/FuzzSupport.h"
#include "settings/SARegistryList.h"
#include "settings/SASettings.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include <cstdlib>
#include <filesystem>

namespace
{
constexpr const char* LIST = "AutoConnectToIpAddressList";
std::string g_Folder;

std::vector<std::vector<uint8_t>> Seeds()
{
    // Lists as the viewer writes them, through a store of their own.
    std::vector<std::vector<uint8_t>> seeds;
    const std::vector<std::vector<std::string>> lists = {
        {"10.0.0.1", "192.168.100.200"}, {"host-name", "10.0.0.5", "a-very-long-host-name.example.org"}};
    for (const std::vector<std::string>& items : lists)
    {
        SAUtilRegistryValueDelete(SA_REGISTRY_KEY_MAIN, LIST);
        SARegistryList list(LIST);
        for (const std::string& item : items)
            list.ItemInsert(item);
        std::vector<uint8_t> seed(1 + SA_REGISTRY_LIST_BYTES);
        seed[0] = REG_MULTI_SZ;
        SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, LIST, seed.data() + 1, SA_REGISTRY_LIST_BYTES);
        seeds.push_back(seed);
    }
    return seeds;
}

void FolderRemove()
{
    std::error_code ignored;
    std::filesystem::remove_all(g_Folder, ignored);
}

// Every retrieval reads the store again, so a list of hundreds of one-letter
// items would cost hundreds of queries per input, while each retrieval parses
// the whole list anyway: the first WALK items are enough.
constexpr int32_t WALK = 8;

std::vector<std::string> Items()
{
    SARegistryList list(LIST);
    std::vector<std::string> items;
    std::string item;
    for (int32_t i = 0; i < WALK && list.ItemRetrieve(i, item); ++i)
    {
        if (item.empty() || SAUtilUtf16FromUtf8(item).size() > SA_REGISTRY_LIST_ITEM_MAX ||
            i >= int32_t(SA_REGISTRY_LIST_UNITS))
            std::abort();
        items.push_back(item);
    }
    return items;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLogQuiet();
    // A private store on a memory file system when there is one.
    char pattern[] = "/dev/shm/qm-fuzz-registry-XXXXXX";
    char fallback[] = "/tmp/qm-fuzz-registry-XXXXXX";
    const char* folder = mkdtemp(pattern);
    if (folder == nullptr)
        folder = mkdtemp(fallback);
    if (folder == nullptr)
        std::abort();
    g_Folder = folder;
    std::atexit(FolderRemove);
    setenv("XDG_CONFIG_HOME", (g_Folder + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", g_Folder.c_str(), 1);
    FuzzSeedsWrite(Seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 2 * SA_REGISTRY_LIST_BYTES)
        return 0;
    const uint32_t types[] = {REG_MULTI_SZ, REG_SZ, REG_BINARY, REG_DWORD};
    if (!SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, LIST, types[data[0] % 4], data + 1,
                                static_cast<uint32_t>(size - 1), 0))
        std::abort();
    const std::vector<std::string> before = Items();
    uint32_t address = 0;
    for (int32_t i = 0; i < WALK && SASettings::AutoConnectHostIpAddressEnum(i, address); ++i)
    {
        if (address == 0 || i >= int32_t(before.size()))
            std::abort();
    }
    // An item already stored goes to the front; a new one too. (One walk
    // of the list per input: each step of it is a query of the store.)
    const std::string item = before.empty() ? "10.0.0.1" : before.back();
    SARegistryList list(LIST);
    std::string first;
    uint32_t bytes = 0;
    if (!list.ItemInsert(item) || !list.ItemRetrieve(0, first) || first != item ||
        SAUtilRegistryValueQuery(SA_REGISTRY_KEY_MAIN, LIST, nullptr, nullptr, &bytes) != ERROR_SUCCESS ||
        bytes != SA_REGISTRY_LIST_BYTES)
        std::abort();
    list.PrivateItemRemoveByIndex(item);
    bytes = 0;
    if (SAUtilRegistryValueQuery(SA_REGISTRY_KEY_MAIN, LIST, nullptr, nullptr, &bytes) != ERROR_SUCCESS ||
        bytes != SA_REGISTRY_LIST_BYTES)
        std::abort();
    return 0;
}
