#include "settings/SARegistryList.h"

#include "core/SALog.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include <cstring>

namespace
{
// Cuts a text to the item limit without splitting a surrogate pair.
std::u16string ItemTruncate(std::u16string text)
{
    if (text.size() > SA_REGISTRY_LIST_ITEM_MAX)
    {
        text.resize(SA_REGISTRY_LIST_ITEM_MAX);
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF)
            text.pop_back();
    }
    return text;
}
} // namespace

SARegistryList::SARegistryList(const std::string& valueName) : m_ValueName(valueName)
{
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
}

bool SARegistryList::PrivateBufferRead()
{
    uint8_t bytes[SA_REGISTRY_LIST_BYTES] = {};
    const bool read = SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, m_ValueName, bytes, sizeof(bytes));
    return PrivateBufferFromBytes(std::vector<uint8_t>(bytes, bytes + sizeof(bytes)), read);
}

bool SARegistryList::PrivateBufferFromBytes(const std::vector<uint8_t>& data, bool exists)
{
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
    if (!exists || data.size() > SA_REGISTRY_LIST_BYTES)
        return false;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        m_Buffer[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return true;
}

std::vector<uint8_t> SARegistryList::PrivateBufferBytes() const
{
    std::vector<uint8_t> bytes(SA_REGISTRY_LIST_BYTES);
    for (uint32_t i = 0; i < SA_REGISTRY_LIST_UNITS; ++i)
    {
        bytes[2 * i] = static_cast<uint8_t>(m_Buffer[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(m_Buffer[i] >> 8);
    }
    return bytes;
}

bool SARegistryList::PrivateItemLocate(int32_t index, uint32_t& start, uint32_t& length) const
{
    if (index < 0)
        return false;
    int32_t count = 0;
    uint32_t itemStart = 0;
    for (uint32_t i = 0; i < SA_REGISTRY_LIST_UNITS; ++i)
    {
        if (m_Buffer[i] != 0)
            continue;
        if (i == itemStart)
            return false; // an empty item ends the list
        if (count == index)
        {
            start = itemStart;
            length = i - itemStart;
            return true;
        }
        ++count;
        itemStart = i + 1;
    }
    // Ran off the end: the index is past the list, or its item was cut
    // (no terminator) when older items were pushed out.
    return false;
}

std::u16string SARegistryList::PrivateItemText(uint32_t start, uint32_t length) const
{
    return ItemTruncate(std::u16string(m_Buffer + start, length));
}

bool SARegistryList::ItemRetrieve(int32_t index, std::string& item)
{
    item.clear();
    if (!PrivateBufferRead())
        SALog(SA_LOG_FAILURE, "SARegistryList::ItemRetrieve SAUtilRegistryValueGet failed!\n");
    uint32_t start = 0;
    uint32_t length = 0;
    if (!PrivateItemLocate(index, start, length))
        return false;
    item = SAUtilUtf8FromUtf16(PrivateItemText(start, length));
    return !item.empty();
}

bool SARegistryList::PrivateItemRemove(const std::u16string& target)
{
    uint32_t start = 0;
    uint32_t length = 0;
    for (int32_t index = 0;; ++index)
    {
        if (!PrivateItemLocate(index, start, length))
            return false;
        if (SAUtilUtf16EqualNoCase(PrivateItemText(start, length), target))
            break;
    }
    const uint32_t next = start + length + 1;
    std::memmove(m_Buffer + start, m_Buffer + next, (SA_REGISTRY_LIST_UNITS - next) * sizeof(char16_t));
    std::memset(m_Buffer + SA_REGISTRY_LIST_UNITS - (next - start), 0, (next - start) * sizeof(char16_t));
    return true;
}

void SARegistryList::PrivateItemRemoveByIndex(const std::string& item)
{
    const std::u16string target = ItemTruncate(SAUtilUtf16FromUtf8(item));
    const int32_t result = SAUtilRegistryValueUpdate(
        SA_REGISTRY_KEY_MAIN, m_ValueName, REG_MULTI_SZ, REG_OPTION_NON_VOLATILE,
        [&](std::vector<uint8_t>& data, bool exists)
        {
            if (!PrivateBufferFromBytes(data, exists) || !PrivateItemRemove(target))
                return false; // nothing to remove: the stored bytes stay as they are
            data = PrivateBufferBytes();
            return true;
        });
    if (result != ERROR_SUCCESS)
        SALog(SA_LOG_FAILURE, "SARegistryList::PrivateItemRemoveByIndex SAUtilRegistryValueSet failed!\n");
}

bool SARegistryList::ItemInsert(const std::string& item)
{
    const std::u16string text = ItemTruncate(SAUtilUtf16FromUtf8(item));
    if (text.empty())
    {
        SALog(SA_LOG_FAILURE, "SARegistryList::ItemInsert failed! Empty item\n");
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(text.size()) + 1;
    bool readFailed = false;
    const int32_t result = SAUtilRegistryValueUpdate(
        SA_REGISTRY_KEY_MAIN, m_ValueName, REG_MULTI_SZ, REG_OPTION_NON_VOLATILE,
        [&](std::vector<uint8_t>& data, bool exists)
        {
            readFailed = !PrivateBufferFromBytes(data, exists);
            if (m_Buffer[0] == 0)
            {
                // An empty first item ends the list: whatever follows it
                // (another writer's bytes, a value of another type) is not
                // part of it, and left in place it could leave the value
                // without its final null, unreadable from then on.
                std::memset(m_Buffer, 0, sizeof(m_Buffer));
            }
            else
            {
                PrivateItemRemove(text);
                std::memmove(m_Buffer + n, m_Buffer, (SA_REGISTRY_LIST_UNITS - n) * sizeof(char16_t));
                // The oldest item may have been cut; drop what is left of it
                // so the buffer always ends in a null and stays readable as
                // a whole.
                for (uint32_t i = SA_REGISTRY_LIST_UNITS - 1; i >= n && m_Buffer[i] != 0; --i)
                    m_Buffer[i] = 0;
            }
            std::memcpy(m_Buffer, text.data(), text.size() * sizeof(char16_t));
            m_Buffer[n - 1] = 0;
            data = PrivateBufferBytes();
            return true;
        });
    if (readFailed)
        SALog(SA_LOG_FAILURE, "SARegistryList::ItemInsert SAUtilRegistryValueGet failed!\n");
    if (result != ERROR_SUCCESS)
    {
        SALog(SA_LOG_FAILURE, "SARegistryList::ItemInsert SAUtilRegistryValueSet failed!\n");
        return false;
    }
    return true;
}
