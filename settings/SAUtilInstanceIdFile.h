#pragma once
// The instance slot: each running viewer (and quillmere-cli) holds one file
// $XDG_DATA_HOME/quillmere/Instance_N (~/.local/share when unset) with an
// exclusive flock, and keeps the identifier stored in it (a braced
// upper-case version 4 GUID as UTF-16LE text with its terminating NUL). A
// viewer takes the first slot no other running viewer holds, so a restarted
// viewer gets the identifier of the first free slot back.
#include <cstdint>
#include <string>

class SAUtilInstanceIdFile
{
public:
    SAUtilInstanceIdFile() = default;
    ~SAUtilInstanceIdFile();
    SAUtilInstanceIdFile(const SAUtilInstanceIdFile&) = delete;
    SAUtilInstanceIdFile& operator=(const SAUtilInstanceIdFile&) = delete;

    // Takes the first slot no running viewer holds. False (logged once) when
    // none can be had: the slot folder or a slot file cannot be made or
    // opened, or every slot is held. Callers go on without a slot.
    bool Open();
    // Releases the slot (the lock goes with the descriptor); false when the
    // close failed.
    bool Close();

    const std::string& InstanceIdGet() const { return m_InstanceId; }
    int32_t InstanceIndexGet() const { return m_InstanceIndex; }
    bool IsOpen() const { return m_Fd >= 0; }

    // A fresh braced upper-case version 4 GUID text.
    static std::string GuidCreate();
    static std::string FolderGet();

private:
    int m_Fd = -1;
    std::string m_InstanceId;
    int32_t m_InstanceIndex = -1;
};
