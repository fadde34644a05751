#include "core/SAInstanceSlot.h"

#include "core/SALog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr int32_t SA_INSTANCE_SLOT_MAX = 64;
constexpr size_t SA_INSTANCE_IDENTIFIER_LENGTH = 38;

bool PrivateFolderCreate(const std::string& path)
{
    // Creates every missing level, like a recursive mkdir.
    for (size_t at = 1; at <= path.size(); ++at)
    {
        if (at == path.size() || path[at] == '/')
        {
            std::string part = path.substr(0, at);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

bool PrivateIdentifierValid(const std::string& text)
{
    if (text.size() != SA_INSTANCE_IDENTIFIER_LENGTH || text.front() != '{' || text.back() != '}')
        return false;
    for (size_t i = 1; i + 1 < text.size(); ++i)
    {
        char c = text[i];
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}
} // namespace

SAInstanceSlot::~SAInstanceSlot()
{
    Close();
}

std::string SAInstanceSlot::FolderGet()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
        return std::string(data) + "/quillmere";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.local/share/quillmere";
}

std::string SAInstanceSlot::IdentifierCreate()
{
    std::random_device device;
    uint8_t bytes[16];
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(device());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[SA_INSTANCE_IDENTIFIER_LENGTH + 1];
    std::snprintf(text, sizeof(text),
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

bool SAInstanceSlot::Open()
{
    Close();
    const std::string folder = FolderGet();
    if (!PrivateFolderCreate(folder))
    {
        SALog(SA_LOG_FAILURE, "SAInstanceSlot::Open failed! mkdir %s %d\n", folder.c_str(), errno);
        return false;
    }
    for (int32_t index = 0; index < SA_INSTANCE_SLOT_MAX; ++index)
    {
        const std::string path = folder + "/Instance_" + std::to_string(index);
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
        {
            SALog(SA_LOG_FAILURE, "SAInstanceSlot::Open failed! open %s %d\n", path.c_str(), errno);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        {
            close(fd); // another viewer holds this slot
            continue;
        }
        char buffer[64] = {};
        ssize_t got = pread(fd, buffer, sizeof(buffer) - 1, 0);
        std::string identifier(buffer, got > 0 ? static_cast<size_t>(got) : 0);
        while (!identifier.empty() && (identifier.back() == '\n' || identifier.back() == '\0'))
            identifier.pop_back();
        if (!PrivateIdentifierValid(identifier))
        {
            identifier = IdentifierCreate();
            std::string line = identifier + "\n";
            if (ftruncate(fd, 0) != 0 ||
                pwrite(fd, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()))
                SALog(SA_LOG_FAILURE, "SAInstanceSlot::Open failed! write %s %d\n", path.c_str(), errno);
        }
        m_Fd = fd;
        m_Index = index;
        m_Identifier = identifier;
        return true;
    }
    SALog(SA_LOG_FAILURE, "SAInstanceSlot::Open failed! No free slot\n");
    return false;
}

void SAInstanceSlot::Close()
{
    if (m_Fd >= 0)
    {
        close(m_Fd); // releases the lock
        m_Fd = -1;
    }
    m_Index = -1;
}
