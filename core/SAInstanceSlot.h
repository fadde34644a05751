#pragma once
// The instance slot of a running viewer: the first free file
// $XDG_DATA_HOME/quillmere/Instance_N (N = 0, 1, ...), held with an exclusive
// non-blocking flock for as long as the viewer runs. The file keeps the
// slot's identifier, a braced upper-case version 4 GUID sent in the connect
// and audio requests; a slot taken again reuses its identifier.
//
// Threads: one owner; not shared.
#include <cstdint>
#include <string>

class SAInstanceSlot
{
public:
    SAInstanceSlot() = default;
    ~SAInstanceSlot();
    SAInstanceSlot(const SAInstanceSlot&) = delete;
    SAInstanceSlot& operator=(const SAInstanceSlot&) = delete;

    // Takes the first free slot (at most 64 are tried). False (logged) when
    // none can be had.
    bool Open();
    // Releases the slot; the file and its identifier stay for the next viewer.
    void Close();

    int32_t IndexGet() const { return m_Index; }
    const std::string& IdentifierGet() const { return m_Identifier; }

    // A new random identifier in the form {XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}.
    static std::string IdentifierCreate();
    // $XDG_DATA_HOME/quillmere, or ~/.local/share/quillmere.
    static std::string FolderGet();

private:
    int m_Fd = -1;
    int32_t m_Index = -1;
    std::string m_Identifier;
};
