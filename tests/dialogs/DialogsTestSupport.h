#pragma once
// A private store per test (tests/settings/SettingsTestStore.h), the screen's
// display-mode provider installed as the application installs it, and helpers
// that act on a dialog the way a user does and read the store afterwards.
#include "app/dialogs/SADisplayModeProviderScreen.h"
#include "settings/SAUtilRegistry.h"
#include "tests/settings/SettingsTestStore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class DialogsTest : public SettingsTestStore
{
protected:
    void SetUp() override
    {
        SettingsTestStore::SetUp();
        m_pDisplay = std::make_unique<SADisplayModeProviderScreen>();
        SADisplayModeProvider::ProviderSet(m_pDisplay.get());
    }

    void TearDown() override
    {
        SADisplayModeProvider::ProviderSet(nullptr);
        m_pDisplay.reset();
        SettingsTestStore::TearDown();
    }

    // Shows the dialog as a window of its own and waits until it is on screen.
    static void DialogShow(QDialog& dialog)
    {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        QApplication::processEvents();
    }

    // The control with the given identifier; fails the test when it is missing.
    template <typename T> static T* Control(QWidget& dialog, int id)
    {
        T* control = dialog.findChild<T*>(QString::number(id));
        EXPECT_NE(control, nullptr) << "no control " << id;
        return control;
    }

    static void Click(QAbstractButton* button)
    {
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, button->height() / 2));
    }

    static void Keys(QWidget* widget, Qt::Key key, int count)
    {
        ASSERT_NE(widget, nullptr);
        for (int i = 0; i < count; ++i)
            QTest::keyClick(widget, key);
    }

    static void DwordStore(const char* name, int32_t value)
    {
        ASSERT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, name, REG_DWORD, &value, 4,
                                           REG_OPTION_NON_VOLATILE));
    }

    // The stored value when it is a REG_DWORD of exactly 4 bytes; a value of
    // another type or size fails the test.
    static std::optional<int32_t> DwordRead(const char* name)
    {
        uint32_t type = REG_NONE;
        uint32_t size = 0;
        if (SAUtilRegistryValueQuery(SA_REGISTRY_KEY_MAIN, name, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        EXPECT_EQ(type, REG_DWORD) << name;
        EXPECT_EQ(size, 4u) << name;
        int32_t value = 0;
        uint32_t capacity = sizeof(value);
        if (SAUtilRegistryValueQuery(SA_REGISTRY_KEY_MAIN, name, &type, &value, &capacity) != ERROR_SUCCESS)
            return std::nullopt;
        return value;
    }

    // Names of every value in the main key.
    static std::vector<std::string> ValueNames()
    {
        std::vector<SAUtilRegistryValue> values;
        SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values);
        std::vector<std::string> names;
        for (const auto& value : values)
            names.push_back(value.name);
        return names;
    }

    // Every value in the main key is a 4-byte REG_DWORD.
    static void AllValuesDwordExpect()
    {
        std::vector<SAUtilRegistryValue> values;
        SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values);
        for (const auto& value : values)
        {
            EXPECT_EQ(value.type, REG_DWORD) << value.name;
            EXPECT_EQ(value.data.size(), 4u) << value.name;
        }
    }

private:
    std::unique_ptr<SADisplayModeProviderScreen> m_pDisplay;
};
