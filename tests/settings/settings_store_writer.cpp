// Helper process for the multi-process store test: writes `count` distinct
// values into the main key and into the volatile Audio key, and rewrites one
// shared 1024-byte value, checking after each write that the shared value it
// reads back is whole (every byte the same) rather than a mixture of two
// writers' bytes. Exit status: 0 ok, 2 bad arguments, 3 a write failed,
// 4 a torn or unreadable shared value.
#include "settings/SAUtilRegistry.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: settings_store_writer ID COUNT\n");
        return 2;
    }
    const int id = atoi(argv[1]);
    const int count = atoi(argv[2]);
    for (int i = 0; i < count; ++i)
    {
        const std::string name = "P" + std::to_string(id) + "_" + std::to_string(i);
        const int32_t value = id * 100000 + i;
        if (!SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, name, REG_DWORD, &value, 4,
                                    REG_OPTION_NON_VOLATILE) ||
            !SAUtilRegistryValueSet(SA_REGISTRY_KEY_AUDIO, name, REG_DWORD, &value, 4, REG_OPTION_VOLATILE))
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
