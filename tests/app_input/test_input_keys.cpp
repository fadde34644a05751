// The key translation table and the ALT+SHIFT detector, without any window
// system: what the keyboard grab sends for each kernel key code.
#include "app/SAInputKeyCombination.h"
#include "core/SAInputKeyTable.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <map>
#include <set>
#include <utility>

namespace
{
struct Expected
{
    uint32_t Evdev;
    uint16_t VKeyCode;
    uint16_t ScanCode;
    bool Extended;
};

// Virtual-key codes and set-1 scan codes as a US keyboard reports them.
const Expected KEYS[] = {
    {KEY_A, 0x41, 0x1E, false},          {KEY_Z, 0x5A, 0x2C, false},
    {KEY_Q, 0x51, 0x10, false},          {KEY_M, 0x4D, 0x32, false},
    {KEY_1, 0x31, 0x02, false},          {KEY_0, 0x30, 0x0B, false},
    {KEY_ESC, 0x1B, 0x01, false},        {KEY_ENTER, 0x0D, 0x1C, false},
    {KEY_KPENTER, 0x0D, 0x1C, true},     {KEY_SPACE, 0x20, 0x39, false},
    {KEY_BACKSPACE, 0x08, 0x0E, false},  {KEY_TAB, 0x09, 0x0F, false},
    {KEY_F1, 0x70, 0x3B, false},         {KEY_F10, 0x79, 0x44, false},
    {KEY_F11, 0x7A, 0x57, false},        {KEY_F12, 0x7B, 0x58, false},
    {KEY_F13, 0x7C, 0x64, false},        {KEY_F23, 0x86, 0x6E, false},
    {KEY_F24, 0x87, 0x76, false},        {KEY_LEFTSHIFT, 0xA0, 0x2A, false},
    {KEY_RIGHTSHIFT, 0xA1, 0x36, true},  {KEY_LEFTCTRL, 0xA2, 0x1D, false},
    {KEY_RIGHTCTRL, 0xA3, 0x1D, true},   {KEY_LEFTALT, 0xA4, 0x38, false},
    {KEY_RIGHTALT, 0xA5, 0x38, true},    {KEY_LEFTMETA, 0x5B, 0x5B, true},
    {KEY_RIGHTMETA, 0x5C, 0x5C, true},   {KEY_COMPOSE, 0x5D, 0x5D, true},
    {KEY_UP, 0x26, 0x48, true},          {KEY_DOWN, 0x28, 0x50, true},
    {KEY_LEFT, 0x25, 0x4B, true},        {KEY_RIGHT, 0x27, 0x4D, true},
    {KEY_HOME, 0x24, 0x47, true},        {KEY_END, 0x23, 0x4F, true},
    {KEY_PAGEUP, 0x21, 0x49, true},      {KEY_PAGEDOWN, 0x22, 0x51, true},
    {KEY_INSERT, 0x2D, 0x52, true},      {KEY_DELETE, 0x2E, 0x53, true},
    {KEY_NUMLOCK, 0x90, 0x45, true},     {KEY_CAPSLOCK, 0x14, 0x3A, false},
    {KEY_SCROLLLOCK, 0x91, 0x46, false}, {KEY_SYSRQ, 0x2C, 0x37, true},
    {KEY_PAUSE, 0x13, 0x45, false},      {KEY_KPSLASH, 0x6F, 0x35, true},
    {KEY_KPASTERISK, 0x6A, 0x37, false}, {KEY_KPMINUS, 0x6D, 0x4A, false},
    {KEY_KPPLUS, 0x6B, 0x4E, false},     {KEY_MINUS, 0xBD, 0x0C, false},
    {KEY_EQUAL, 0xBB, 0x0D, false},      {KEY_LEFTBRACE, 0xDB, 0x1A, false},
    {KEY_RIGHTBRACE, 0xDD, 0x1B, false}, {KEY_SEMICOLON, 0xBA, 0x27, false},
    {KEY_APOSTROPHE, 0xDE, 0x28, false}, {KEY_GRAVE, 0xC0, 0x29, false},
    {KEY_BACKSLASH, 0xDC, 0x2B, false},  {KEY_COMMA, 0xBC, 0x33, false},
    {KEY_DOT, 0xBE, 0x34, false},        {KEY_SLASH, 0xBF, 0x35, false},
    {KEY_102ND, 0xE2, 0x56, false},
};
} // namespace

TEST(InputKeyTable, TranslatesEveryKeyOfAUsKeyboard)
{
    for (const Expected& expected : KEYS)
    {
        SCOPED_TRACE(testing::Message() << "evdev " << expected.Evdev);
        SAInputKeyCode key;
        ASSERT_TRUE(SAInputKeyTranslate(expected.Evdev, true, key));
        EXPECT_EQ(key.VKeyCode, expected.VKeyCode);
        EXPECT_EQ(key.ScanCode, expected.ScanCode);
        EXPECT_EQ(key.Extended, expected.Extended);
    }
    // Every letter and digit: the virtual key is the character.
    const uint32_t letters[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    for (int i = 0; i < 26; ++i)
    {
        SAInputKeyCode key;
        ASSERT_TRUE(SAInputKeyTranslate(letters[i], true, key));
        EXPECT_EQ(key.VKeyCode, 'A' + i);
        EXPECT_FALSE(key.Extended);
        // The kernel numbers the keys of the original keyboard by their
        // set-1 scan code.
        EXPECT_EQ(key.ScanCode, letters[i]);
    }
    const uint32_t digits[] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
    for (int i = 0; i < 10; ++i)
    {
        SAInputKeyCode key;
        ASSERT_TRUE(SAInputKeyTranslate(digits[i], true, key));
        EXPECT_EQ(key.VKeyCode, '0' + i);
    }
    for (uint32_t f = 0; f < 24; ++f)
    {
        const uint32_t evdev = f < 10 ? KEY_F1 + f : f < 12 ? KEY_F11 + (f - 10) : KEY_F13 + (f - 12);
        SAInputKeyCode key;
        ASSERT_TRUE(SAInputKeyTranslate(evdev, true, key)) << "F" << f + 1;
        EXPECT_EQ(key.VKeyCode, 0x70 + f) << "F" << f + 1;
    }
}

TEST(InputKeyTable, KeypadFollowsNumLock)
{
    const std::pair<uint32_t, std::pair<uint16_t, uint16_t>> keypad[] = {
        {KEY_KP0, {0x60, 0x2D}}, {KEY_KP1, {0x61, 0x23}}, {KEY_KP2, {0x62, 0x28}},   {KEY_KP3, {0x63, 0x22}},
        {KEY_KP4, {0x64, 0x25}}, {KEY_KP5, {0x65, 0x0C}}, {KEY_KP6, {0x66, 0x27}},   {KEY_KP7, {0x67, 0x24}},
        {KEY_KP8, {0x68, 0x26}}, {KEY_KP9, {0x69, 0x21}}, {KEY_KPDOT, {0x6E, 0x2E}},
    };
    for (const auto& [evdev, vk] : keypad)
    {
        SAInputKeyCode numeric, navigation;
        ASSERT_TRUE(SAInputKeyTranslate(evdev, true, numeric));
        ASSERT_TRUE(SAInputKeyTranslate(evdev, false, navigation));
        EXPECT_EQ(numeric.VKeyCode, vk.first);
        EXPECT_EQ(navigation.VKeyCode, vk.second);
        // The same key either way: only the virtual key differs, and the
        // navigation meaning is not the extended navigation block.
        EXPECT_EQ(numeric.ScanCode, navigation.ScanCode);
        EXPECT_FALSE(numeric.Extended);
        EXPECT_FALSE(navigation.Extended);
    }
}

TEST(InputKeyTable, NoTwoKeysLookAlikeAndUnknownCodesAreRefused)
{
    // A copy-and-paste slip in the table shows up as two keys the server
    // cannot tell apart.
    std::map<std::pair<uint16_t, bool>, uint32_t> byScan;
    std::map<std::pair<uint16_t, bool>, uint32_t> byVKey;
    int known = 0;
    for (uint32_t evdev = 0; evdev < 0x300; ++evdev)
    {
        SAInputKeyCode key;
        if (!SAInputKeyTranslate(evdev, true, key))
            continue;
        ++known;
        EXPECT_NE(key.VKeyCode, 0) << evdev;
        EXPECT_NE(key.ScanCode, 0) << evdev;
        const auto scan = byScan.emplace(std::make_pair(key.ScanCode, key.Extended), evdev);
        EXPECT_TRUE(scan.second) << "evdev " << evdev << " and " << scan.first->second
                                 << " share a scan code";
        const auto vkey = byVKey.emplace(std::make_pair(key.VKeyCode, key.Extended), evdev);
        // PAUSE and NUM LOCK share scan code 0x45 but differ in the flag;
        // PRINT SCREEN and the keypad's * share 0x37 likewise.
        EXPECT_TRUE(vkey.second) << "evdev " << evdev << " and " << vkey.first->second << " share a key";
    }
    EXPECT_GE(known, 115);
    SAInputKeyCode key;
    EXPECT_FALSE(SAInputKeyTranslate(KEY_RESERVED, true, key));
    EXPECT_FALSE(SAInputKeyTranslate(KEY_BRIGHTNESSUP, true, key));
    EXPECT_FALSE(SAInputKeyTranslate(0xFFFFFFFFu, true, key));
}

TEST(InputKeyTable, ReadInReverseEveryKeyComesBack)
{
    // What a server applying the packets finds: every key the table sends,
    // in both keypad meanings, and right SHIFT and NUM LOCK as the keyboard
    // grab sends them (without the extended flag).
    int checked = 0;
    for (uint32_t evdev = 0; evdev < 0x300; ++evdev)
    {
        for (bool numeric : {true, false})
        {
            SAInputKeyCode key;
            if (!SAInputKeyTranslate(evdev, numeric, key))
                continue;
            const bool sent = key.Extended && key.VKeyCode != SA_VK_RSHIFT && key.VKeyCode != SA_VK_NUMLOCK;
            uint32_t back = 0;
            ASSERT_TRUE(SAInputKeyReverse(key.VKeyCode, key.ScanCode, sent, back)) << evdev;
            EXPECT_EQ(back, evdev) << "vk " << key.VKeyCode << " scan " << key.ScanCode;
            ++checked;
        }
    }
    EXPECT_GE(checked, 230);
    uint32_t back = 0;
    EXPECT_TRUE(SAInputKeyReverse('Q', 0, false, back)); // no scan code: by virtual key
    EXPECT_EQ(back, static_cast<uint32_t>(KEY_Q));
    EXPECT_FALSE(SAInputKeyReverse(0xFF, 0x7F, false, back));
}

TEST(InputKeyCombination, AnyAltWithAnyShiftInEitherOrderFiresOnce)
{
    const uint16_t alts[] = {SA_VK_LMENU, SA_VK_RMENU};
    const uint16_t shifts[] = {SA_VK_LSHIFT, SA_VK_RSHIFT};
    for (uint16_t alt : alts)
        for (uint16_t shift : shifts)
        {
            SAInputKeyCombination altFirst;
            EXPECT_FALSE(altFirst.KeyProcess(alt, true));
            EXPECT_TRUE(altFirst.KeyProcess(shift, true));
            // Both are cleared: keys still held, or repeating, fire no more.
            EXPECT_FALSE(altFirst.AltDownGet());
            EXPECT_FALSE(altFirst.ShiftDownGet());
            EXPECT_FALSE(altFirst.KeyProcess(shift, true));
            EXPECT_FALSE(altFirst.KeyProcess(shift, false));
            EXPECT_FALSE(altFirst.KeyProcess(alt, false));

            SAInputKeyCombination shiftFirst;
            EXPECT_FALSE(shiftFirst.KeyProcess(shift, true));
            EXPECT_FALSE(shiftFirst.KeyProcess('A', true)); // another key between does not matter
            EXPECT_TRUE(shiftFirst.KeyProcess(alt, true));
        }
}

TEST(InputKeyCombination, ReleasingOneBeforePressingTheOtherDoesNotFire)
{
    SAInputKeyCombination detector;
    EXPECT_FALSE(detector.KeyProcess(SA_VK_LMENU, true));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_LMENU, false));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_LSHIFT, true));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_LSHIFT, false));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_RMENU, true));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_RMENU, false));
    // CTRL is no SHIFT.
    EXPECT_FALSE(detector.KeyProcess(SA_VK_LMENU, true));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_LCONTROL, true));
    EXPECT_FALSE(detector.KeyProcess(SA_VK_RCONTROL, true));
    EXPECT_TRUE(detector.KeyProcess(SA_VK_RSHIFT, true));
}
