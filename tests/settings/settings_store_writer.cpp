// Helper process for the multi-process store tests.
//
//   settings_store_writer ID COUNT
//     writes `count` distinct values into the main key and into the volatile
//     Audio key, and rewrites one shared 1024-byte value, checking after each
//     write that the shared value it reads back is whole (every byte the
//     same) rather than a mixture of two writers' bytes.
//   settings_store_writer viewer ID COUNT
//     as a viewer does: a value and an item of the shared list "RaceList"
//     ("<ID>.<i>") per step.
//   settings_store_writer deep COUNT
//     writes DWORD "Deep" = i, `count` times, into the persistent key
//     Software\QmDeep\B\C and the volatile key Software\QmDeep\B\Volatile
//     (whose parents are persistent), for a race with deletions of the tree.
//   settings_store_writer forever ID
//     writes 64 KiB values "K<ID>_<i>" (every byte i % 251) until it is killed,
//     printing i on standard output once value i is stored.
// Exit status: 0 ok, 2 bad arguments, 3 a write failed, 4 a torn or
// unreadable shared value.
#include "settings/SARegistryList.h"
#include "settings/SAUtilRegistry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
bool DwordWrite(const char* key, const std::string& name, int32_t value, uint32_t options)
{
    return SAUtilRegistryValueSet(key, name, REG_DWORD, &value, 4, options);
}

int Values(int id, int count)
{
    for (int i = 0; i < count; ++i)
    {
        const std::string name = "P" + std::to_string(id) + "_" + std::to_string(i);
        const int32_t value = id * 100000 + i;
        if (!DwordWrite(SA_REGISTRY_KEY_MAIN, name, value, REG_OPTION_NON_VOLATILE) ||
            !DwordWrite(SA_REGISTRY_KEY_AUDIO, name, value, REG_OPTION_VOLATILE))
        {
            fprintf(stderr, "writer %d: write %d failed\n", id, i);
            return 3;
        }
        uint8_t shared[1024];
        const uint8_t fill = static_cast<uint8_t>(id * 16 + i % 16);
        for (uint8_t& byte : shared)
            byte = fill;
        if (!SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "Shared", REG_BINARY, shared, sizeof(shared), 0))
        {
            fprintf(stderr, "writer %d: shared write %d failed\n", id, i);
            return 3;
        }
        uint8_t readBack[1024] = {};
        if (!SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "Shared", readBack, sizeof(readBack)))
        {
            fprintf(stderr, "writer %d: shared read %d failed\n", id, i);
            return 4;
        }
        for (uint8_t byte : readBack)
        {
            if (byte != readBack[0])
            {
                fprintf(stderr, "writer %d: torn shared value at %d\n", id, i);
                return 4;
            }
        }
    }
    return 0;
}

int Viewer(int id, int count)
{
    SARegistryList list("RaceList");
    for (int i = 0; i < count; ++i)
    {
        if (!DwordWrite(SA_REGISTRY_KEY_MAIN, "P" + std::to_string(id) + "_" + std::to_string(i),
                        id * 100000 + i, REG_OPTION_NON_VOLATILE) ||
            !list.ItemInsert(std::to_string(id) + "." + std::to_string(i)))
        {
            fprintf(stderr, "viewer %d: write %d failed\n", id, i);
            return 3;
        }
    }
    return 0;
}

int Deep(int count)
{
    for (int32_t i = 0; i < count; ++i)
    {
        if (!DwordWrite("Software\\QmDeep\\B\\C", "Deep", i, REG_OPTION_NON_VOLATILE) ||
            !DwordWrite("Software\\QmDeep\\B\\Volatile", "Deep", i, REG_OPTION_VOLATILE))
        {
            fprintf(stderr, "deep: write %d failed\n", i);
            return 3;
        }
    }
    return 0;
}

int Forever(int id)
{
    std::vector<uint8_t> data(64 * 1024);
    for (int i = 0;; ++i)
    {
        std::memset(data.data(), i % 251, data.size());
        if (!SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "K" + std::to_string(id) + "_" + std::to_string(i),
                                    REG_BINARY, data.data(), static_cast<uint32_t>(data.size()), 0))
            return 3;
        printf("%d\n", i);
        fflush(stdout);
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "forever") == 0)
        return Forever(atoi(argv[2]));
    if (argc == 3 && strcmp(argv[1], "deep") == 0)
        return Deep(atoi(argv[2]));
    if (argc == 4 && strcmp(argv[1], "viewer") == 0)
        return Viewer(atoi(argv[2]), atoi(argv[3]));
    if (argc == 3)
        return Values(atoi(argv[1]), atoi(argv[2]));
    fprintf(stderr, "usage: settings_store_writer [viewer] ID COUNT | deep COUNT | forever ID\n");
    return 2;
}
