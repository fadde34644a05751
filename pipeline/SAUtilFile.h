#pragma once
// Diagnostic dumps of encoded frames: each Save writes one file
// "<directory>/<n>_<name>.<extension>" relative to the current directory,
// n counting from 1, until `limit` files were written; later saves are
// skipped silently. The directory is created on the first save.
//
// Not thread-safe: each decoder task owns its dumpers.
#include <cstddef>
#include <cstdint>
#include <string>

class SAUtilFile
{
public:
    SAUtilFile(std::string directory, std::string extension, int32_t limit = 10);

    bool Save(const uint8_t* data, size_t size, const std::string& name);

    int32_t FilesCountedGet() const { return m_FilesCounted; }

private:
    void PrivateCreate();

    std::string m_Directory;
    bool m_Created = false;
    std::string m_Extension;
    int32_t m_Limit;
    int32_t m_FilesCounted = 0;
};
