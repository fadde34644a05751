#pragma once
// Detects the key combination that ends mouse capture: any ALT together
// with any SHIFT, pressed in either order. Releasing one before the other
// is pressed clears it, so ALT, release, SHIFT does not fire. Firing clears
// both, so holding the keys fires once.
//
// Threads: the GUI thread only (the keyboard grab's event filter).
#include <cstdint>

class SAInputKeyCombination
{
public:
    // vkCode: the key's virtual-key code; down: press (true) or release.
    // True when the combination is complete with this key.
    bool KeyProcess(uint32_t vkCode, bool down);
    void Reset();
    bool AltDownGet() const { return m_AltDown; }
    bool ShiftDownGet() const { return m_ShiftDown; }

private:
    bool m_AltDown = false;
    bool m_ShiftDown = false;
};
