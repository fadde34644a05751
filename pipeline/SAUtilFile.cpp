#include "pipeline/SAUtilFile.h"

#include "core/SALog.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <utility>

SAUtilFile::SAUtilFile(std::string directory, std::string extension, int32_t limit)
    : m_Directory(std::move(directory)), m_Extension(std::move(extension)), m_Limit(limit)
{
}

void SAUtilFile::PrivateCreate()
{
    if (m_Created)
        return;
    if (mkdir(m_Directory.c_str(), 0755) == 0 || errno == EEXIST)
    {
        // EEXIST also covers a plain file of that name; the fopen below then
        // fails and says so.
        m_Created = true;
        return;
    }
    SALog(SA_LOG_FAILURE, "SAUtilFile::Create failed! mkdir %d\n", errno);
}

bool SAUtilFile::Save(const uint8_t* data, size_t size, const std::string& name)
{
    PrivateCreate();
    if (!m_Created)
    {
        SALog(SA_LOG_FAILURE, "SAUtilFile::Save failed! Target path not created\n");
        return false;
    }
    if (m_FilesCounted >= m_Limit)
        return false;
    ++m_FilesCounted;

    std::string path;
    try
    {
        path = m_Directory + "/" + std::to_string(m_FilesCounted) + "_" + name + "." + m_Extension;
    }
    catch (const std::bad_alloc&)
    {
        SALog(SA_LOG_FAILURE, "SAUtilFile::Save failed! no memory\n");
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
    {
        SALog(SA_LOG_FAILURE, "SAUtilFile::Save failed! fopen %d\n", errno);
        return false;
    }
    if (size > 0 && std::fwrite(data, 1, size, file.get()) != size)
    {
        SALog(SA_LOG_FAILURE, "SAUtilFile::Save failed! fwrite %d\n", errno);
        return false;
    }
    return true;
}
