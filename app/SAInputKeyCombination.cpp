#include "app/SAInputKeyCombination.h"

#include "core/SAInputKeyTable.h"

bool SAInputKeyCombination::KeyProcess(uint32_t vkCode, bool down)
{
    if (vkCode == SA_VK_LMENU || vkCode == SA_VK_RMENU)
        m_AltDown = down;
    else if (vkCode == SA_VK_LSHIFT || vkCode == SA_VK_RSHIFT)
        m_ShiftDown = down;
    if (!m_AltDown || !m_ShiftDown)
        return false;
    Reset();
    return true;
}

void SAInputKeyCombination::Reset()
{
    m_AltDown = false;
    m_ShiftDown = false;
}
