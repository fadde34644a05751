#pragma once
// Reports the primary screen's current mode in device pixels (a screen scaled
// by Qt reports its real pixels, not the scaled ones) as the native
// resolution that the resolution dialog shows and the connect request offers.
//
// Threads: constructed, destroyed and kept up to date on the GUI thread (it
// follows primary screen changes and the screen's geometry and DPI signals);
// DisplayModeCurrentGet is called from any thread, including the network
// worker that builds the connect request, and only reads one atomic word, so
// it never waits for the GUI thread.
//
// Installation is the owner's: SADisplayModeProvider::ProviderSet(&provider)
// after construction, ProviderSet(nullptr) before destruction (the provider is
// borrowed by the process-wide slot and must outlive its installation).
#include "settings/SADisplayModeProvider.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <cstdint>

class QScreen;

class SADisplayModeProviderScreen : public QObject, public SADisplayModeProvider
{
    Q_OBJECT

public:
    explicit SADisplayModeProviderScreen(QObject* parent = nullptr);
    ~SADisplayModeProviderScreen() override;

    bool DisplayModeCurrentGet(int32_t& width, int32_t& height) override;

private:
    void PrivateScreenTrack(QScreen* screen);
    void PrivateSizeUpdate();

    // Width in the high, height in the low 32 bits; 0 when no screen is known.
    std::atomic<uint64_t> m_Size{0};
    QScreen* m_pScreen = nullptr; // borrowed from QGuiApplication; cleared when it goes
    QMetaObject::Connection m_GeometryConnection;
    QMetaObject::Connection m_LogicalDpiConnection;
    QMetaObject::Connection m_PhysicalDpiConnection;
    QMetaObject::Connection m_DestroyedConnection;
};
