#pragma once
// A short list of strings kept in one REG_MULTI_SZ value of the main key:
// items, each ended by one null unit, the list ending at the first empty
// item, always written as the whole 1024-byte (512-unit) buffer. Most
// recently inserted items come first; items compare without regard to case.
//
// Items are at most SA_REGISTRY_LIST_ITEM_MAX (19) UTF-16 units. Longer texts
// are cut to their first 19 units, on insertion (so what is stored is what
// is read back and deduplicated) and on retrieval (for values written by
// other tools); a surrogate pair is never split.
//
// Threads: an object is created on the stack for one operation and never
// shared. An insertion or removal reads, changes and writes the list back in
// one transaction of the store, so two processes (viewers, quillmere-reg)
// changing the same list at the same moment lose neither change.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t SA_REGISTRY_LIST_UNITS = 512;
constexpr uint32_t SA_REGISTRY_LIST_BYTES = SA_REGISTRY_LIST_UNITS * 2;
constexpr uint32_t SA_REGISTRY_LIST_ITEM_MAX = 19;

class SARegistryList
{
public:
    explicit SARegistryList(const std::string& valueName);

    // Puts `item` at the front, removing an equal item first; the oldest
    // items fall off the end when the buffer is full. False for an empty item
    // (it would end the list and hide every other item) or a failed write.
    bool ItemInsert(const std::string& item);
    // The item at the zero-based index; false past the end of the list.
    bool ItemRetrieve(int32_t index, std::string& item);
    // Despite its name, takes the item text: removes the first item equal to
    // it and writes the list back; leaves the stored value untouched when no
    // item matches.
    void PrivateItemRemoveByIndex(const std::string& item);

private:
    // Reads the value into m_Buffer (zero-filled first); false when absent.
    bool PrivateBufferRead();
    // m_Buffer from stored bytes as a 1024-byte read gives them: false (and
    // an empty buffer) when the value is absent or too long for the buffer.
    bool PrivateBufferFromBytes(const std::vector<uint8_t>& data, bool exists);
    std::vector<uint8_t> PrivateBufferBytes() const;
    // Removes the first item equal to `target` (letter case ignored) from
    // m_Buffer; false when none is.
    bool PrivateItemRemove(const std::u16string& target);
    // Finds item `index` in m_Buffer: start unit and length in units.
    bool PrivateItemLocate(int32_t index, uint32_t& start, uint32_t& length) const;
    std::u16string PrivateItemText(uint32_t start, uint32_t length) const;

    std::string m_ValueName;
    char16_t m_Buffer[SA_REGISTRY_LIST_UNITS];
};
