#pragma once
// Mouse capture of the display view, entered by a click on the picture and
// confirmed by the user, in one of two kinds chosen by "MouseTouchEnable":
// - 0, remote control: the pointer is grabbed by the display view's window
//   and hidden; relative motion, buttons and the wheel become mouse records
//   sent to the frame as event SA_FSTM_EVENT_CLIENT_INPUT_MOUSE. Motion
//   comes from XInput2 raw motion on X11 (device counts, unaccelerated, not
//   stopped by the screen edge); elsewhere, or without XInput2, the pointer
//   is warped back to the window's centre and its offset is the motion;
//   on Wayland, where a client can do neither, the pointer stays in the
//   window (grabbed) and its moves there are the motion (logged).
// - not 0, mouse touch emulation: the pointer is grabbed, kept inside the
//   window and shown as a cross; the display view turns the left button
//   into touch events.
// ALT+SHIFT ends either through the keyboard hook (the detection-only kind
// is installed here when keyboard forwarding is off).
//
// Buttons forwarded as down are remembered until their up is forwarded;
// when remote control ends, and when the frame asks for it before a
// connection ends, they get their releases (sent only while the state
// forwards input, forgotten otherwise), so that the server is not left with
// a button held.
//
// Threads: GUI thread only (the native event filter runs there too). The
// frame's message target, the display view and the keyboard hook are
// borrowed; the frame owns all of them and destroys this object first.
#include "net/SAInputRecord.h"

#include <QAbstractNativeEventFilter>
#include <QCursor>
#include <QObject>
#include <QPointF>

#include <functional>
#include <map>

class QMouseEvent;
class QWheelEvent;
class SAInputKeyboard;
class SAMessageTarget;
class SAMvcViewFrmDisplay;

class SAInputMouse : public QObject, public QAbstractNativeEventFilter
{
public:
    enum class SAMotionSource
    {
        RAW,  // XInput2 raw motion where available, else warping
        WARP, // always warping
    };

    // forwardingGet: whether the state forwards input to a server now.
    SAInputMouse(SAMessageTarget* frameTarget, SAMvcViewFrmDisplay* view, SAInputKeyboard* keyboard,
                 std::function<bool()> forwardingGet);
    ~SAInputMouse() override;

    // Enter capture (the frame calls it in states 3, 4 and 6 only). False
    // when no capture was entered.
    bool Initialize(bool keyboardEnabled);
    // Leave capture.
    void Uninitialize(bool keyboardEnabled);
    // Sends the release of every button forwarded as down and not up since,
    // and the lift of an emulated touch contact still down, while the state
    // forwards input; forgets them in any case.
    void ButtonsRelease();

    bool RemoteControlGet() const { return m_RemoteControl; }
    // Remote control or touch emulation is on.
    bool CaptureActiveGet() const { return m_RemoteControl || m_TouchEmulation; }
    // Remote control takes its motion from raw device events.
    bool RawMotionActiveGet() const { return m_RawActive; }
    // Remote control takes its motion from the pointer's moves in the window.
    bool ConfinedMotionActiveGet() const { return m_Confined; }
    // Where remote control takes its motion from (set before Initialize).
    void MotionSourceSet(SAMotionSource source) { m_MotionSource = source; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool PrivateRemoteControlStart();
    void PrivateRemoteControlStop();
    void PrivateTouchEmulationStart();
    void PrivateTouchEmulationStop();
    bool PrivateRemoteEvent(QEvent* event);
    bool PrivateTouchEmulationConfine(QMouseEvent* event);
    void PrivateRecordSend(SAInputMouseRecord& record);
    void PrivatePointerCentre();
    bool PrivateConfinedMotion(const QPointF& position);
    bool PrivateRawMotionSelect(bool on);
    void PrivateRawMotion(const void* event);
    bool PrivateRawDeviceRelative(uint16_t deviceId);

    SAMessageTarget* m_pFrameTarget;
    SAMvcViewFrmDisplay* m_pView;
    SAInputKeyboard* m_pKeyboard;
    std::function<bool()> m_ForwardingGet;
    // SA_RI_MOUSE_*_BUTTON_DOWN bits forwarded and not released since.
    uint16_t m_ButtonsDown = 0;
    SAMotionSource m_MotionSource = SAMotionSource::RAW;

    bool m_RemoteControl = false;
    bool m_RawActive = false;
    bool m_Confined = false;
    bool m_ConfinedLastValid = false;
    QPointF m_ConfinedLast; // device pixels of the display window
    bool m_TouchEmulation = false;
    bool m_CursorSaved = false;
    QCursor m_SavedCursor;
    bool m_NativeFilterInstalled = false;
    uint8_t m_XInputOpcode = 0;
    uint32_t m_RawRoot = 0;
    // Fractions of a count carried to the next raw event.
    double m_RemainderX = 0;
    double m_RemainderY = 0;
    // Source device -> its motion is relative (absolute devices such as
    // tablets and touch screens are not forwarded as relative motion).
    std::map<uint16_t, bool> m_DeviceRelative;
};
