#include "settings/SAUtilInstanceIdFile.h"

#include "core/SALog.h"
#include "settings/SAUtilUtf16.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
constexpr size_t INSTANCE_FILE_READ_MAX = 520;
constexpr int32_t INSTANCE_SLOT_MAX = 0x7FFFFFFF;

bool FolderCreate(const std::string& path)
{
    // Every missing parent too, like SHCreateDirectory.
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1))
    {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
        {
            SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen SHCreateDirectory failed! %d\n", errno);
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

// A stored identifier is kept only when it has the shape of a braced GUID;
// an empty or damaged file (a viewer that died before writing) gets a new one.
bool GuidTextValid(const std::string& text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    for (size_t i = 1; i < 37; ++i)
    {
        const char c = text[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}
} // namespace

SAUtilInstanceIdFile::~SAUtilInstanceIdFile()
{
    Close();
}

std::string SAUtilInstanceIdFile::FolderGet()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/')
        base = data;
    else
    {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/')
        {
            SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen SHGetSpecialFolderPathW failed! %d\n", ENOENT);
            return std::string();
        }
        base = std::string(home) + "/.local/share";
    }
    return base + "/quillmere";
}

std::string SAUtilInstanceIdFile::GuidCreate()
{
    uint8_t bytes[16] = {};
    if (getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes)))
    {
        SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen CoCreateGuid failed! %d\n", errno);
        return std::string();
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof(text),
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

bool SAUtilInstanceIdFile::Open()
{
    Close();
    const std::string folder = FolderGet();
    if (folder.empty() || !FolderCreate(folder))
        return false;
    for (int32_t i = 0; i < INSTANCE_SLOT_MAX; ++i)
    {
        const std::string path = folder + "/Instance_" + std::to_string(i);
        // Only a lock held by another viewer means "taken, try the next
        // one". A file that cannot be opened (the folder unwritable or not a
        // folder, no descriptors left) fails the same way at every index:
        // going on would spin through two billion names on the window
        // thread. The viewer then runs without a slot.
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
        {
            SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen open failed! %d\n", errno);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        {
            const int error = errno;
            close(fd);
            if (error == EWOULDBLOCK)
                continue; // held by a running viewer
            SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen flock failed! %d\n", error);
            return false;
        }
        std::vector<uint8_t> buffer(INSTANCE_FILE_READ_MAX);
        const ssize_t got = pread(fd, buffer.data(), buffer.size(), 0);
        if (got < 0)
        {
            SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen ReadFile failed! %d\n", errno);
            close(fd);
            return false;
        }
        std::string id = SAUtilUtf8FromUtf16LeBytes(buffer.data(), static_cast<size_t>(got));
        if (!GuidTextValid(id))
        {
            id = GuidCreate();
            if (id.empty())
            {
                close(fd);
                return false;
            }
            std::vector<uint8_t> bytes = SAUtilUtf16LeBytesFromUtf8(id);
            bytes.push_back(0);
            bytes.push_back(0);
            if (ftruncate(fd, 0) != 0 ||
                pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            {
                SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen StringFromCLSID failed! %d\n", errno);
                close(fd);
                return false;
            }
        }
        m_Fd = fd;
        m_InstanceId = id;
        m_InstanceIndex = i;
        return true;
    }
    SALog(SA_LOG_FAILURE, "SAUtilInstanceIdFileOpen SHCreateDirectory failed! no instances\n");
    return false;
}

bool SAUtilInstanceIdFile::Close()
{
    if (m_Fd < 0)
        return true;
    const int fd = m_Fd;
    m_Fd = -1;
    if (close(fd) != 0)
    {
        SALog(SA_LOG_FAILURE, "CMainFrame::OnClose CloseHandle() failed! %d\n", errno);
        return false;
    }
    return true;
}
