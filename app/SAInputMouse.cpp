#include "app/SAInputMouse.h"

#include "app/SAInputKeyboard.h"
#include "app/SAMvcViewFrmDisplay.h"
#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFstmEventData.h"
#include "settings/SASettings.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

#ifdef QM_APP_HAVE_XINPUT
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#endif

namespace
{
#ifdef QM_APP_HAVE_XINPUT
xcb_connection_t* PrivateXcbConnection()
{
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

double PrivateFp3232(const xcb_input_fp3232_t& value)
{
    return static_cast<double>(value.integral) + static_cast<double>(value.frac) / 4294967296.0;
}
#endif

uint16_t PrivateButtonFlags(Qt::MouseButton button, bool down)
{
    switch (button)
    {
    case Qt::LeftButton:
        return down ? SA_RI_MOUSE_LEFT_BUTTON_DOWN : SA_RI_MOUSE_LEFT_BUTTON_UP;
    case Qt::RightButton:
        return down ? SA_RI_MOUSE_RIGHT_BUTTON_DOWN : SA_RI_MOUSE_RIGHT_BUTTON_UP;
    case Qt::MiddleButton:
        return down ? SA_RI_MOUSE_MIDDLE_BUTTON_DOWN : SA_RI_MOUSE_MIDDLE_BUTTON_UP;
    default:
        return 0; // the packet has no bits for further buttons
    }
}
} // namespace

SAInputMouse::SAInputMouse(SAMessageTarget* frameTarget, SAMvcViewFrmDisplay* view, SAInputKeyboard* keyboard,
                           std::function<bool()> forwardingGet)
    : m_pFrameTarget(frameTarget), m_pView(view), m_pKeyboard(keyboard),
      m_ForwardingGet(std::move(forwardingGet))
{
}

SAInputMouse::~SAInputMouse()
{
    // The frame is going away: nothing is sent from here.
    m_ButtonsDown = 0;
    m_ForwardingGet = nullptr;
    if (m_RemoteControl)
        PrivateRemoteControlStop();
    if (m_TouchEmulation)
        PrivateTouchEmulationStop();
    if (m_NativeFilterInstalled && qApp != nullptr)
        qApp->removeNativeEventFilter(this);
}

bool SAInputMouse::Initialize(bool keyboardEnabled)
{
    bool entered = false;
    // Absent or unreadable counts as 0 (remote control).
    if (SASettings::SettingsOptionEnableGet(SA_SETTINGS_MOUSE_TOUCH_ENABLE))
    {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Mouse Touch Emulation"),
                        QStringLiteral("Press ALT+SHIFT to exit mouse touch emulation."),
                        QMessageBox::Ok | QMessageBox::Cancel, m_pView);
        if (box.exec() != QMessageBox::Cancel)
        {
            PrivateTouchEmulationStart();
            entered = true;
        }
    }
    else
    {
        SALog(SA_LOG_INPUT, "KTM SAInputMouse::Initialize\n");
        if (m_RemoteControl)
            SALog(SA_LOG_FAILURE, "CMainFrame::PrivateKtmMouseActivate m_InputMouse.Initialize failed!\n");
        else
        {
            QMessageBox box(QMessageBox::Information, QStringLiteral("Remote Control"),
                            QStringLiteral("Press ALT+SHIFT to exit remote control."),
                            QMessageBox::Ok | QMessageBox::Cancel, m_pView);
            if (box.exec() == QMessageBox::Cancel)
                SALog(SA_LOG_FAILURE,
                      "CMainFrame::PrivateKtmMouseActivate m_InputMouse.Initialize failed!\n");
            else if (!PrivateRemoteControlStart())
            {
                SALog(SA_LOG_FAILURE, "SAInputMouse::Initialize setMouseGrabEnabled failed!\n");
                SALog(SA_LOG_FAILURE,
                      "CMainFrame::PrivateKtmMouseActivate m_InputMouse.Initialize failed!\n");
            }
            else
                entered = true;
        }
    }
    // With keyboard forwarding on, the full hook (installed with the focus)
    // detects ALT+SHIFT itself.
    if (m_pKeyboard != nullptr && !keyboardEnabled && m_pKeyboard->HookGet() == SAInputKeyboard::SAHook::NONE)
        m_pKeyboard->PrivateTryActivateHookKeyCombinationOnly(keyboardEnabled);
    return entered;
}

void SAInputMouse::Uninitialize(bool keyboardEnabled)
{
    if (SASettings::SettingsOptionEnableGet(SA_SETTINGS_MOUSE_TOUCH_ENABLE))
        PrivateTouchEmulationStop();
    else
    {
        SALog(SA_LOG_INPUT, "KTM SAInputMouse::Uninitialize\n");
        if (m_RemoteControl)
            PrivateRemoteControlStop();
    }
    // The setting may have changed since capture began (it is stored while
    // disconnected, and capture outlives a disconnection): whichever capture
    // is still on ends as well, or the pointer would stay grabbed.
    if (m_RemoteControl)
        PrivateRemoteControlStop();
    if (m_TouchEmulation)
        PrivateTouchEmulationStop();
    // A detection-only hook goes with the capture even with keyboard
    // forwarding on (the frame installs one when a connection ends during
    // capture); a full hook stays.
    if (m_pKeyboard != nullptr &&
        (!keyboardEnabled || m_pKeyboard->HookGet() == SAInputKeyboard::SAHook::KEY_COMBINATION_ONLY))
        m_pKeyboard->PrivateTryDeactivate();
}

bool SAInputMouse::PrivateRemoteControlStart()
{
    QWindow* window = m_pView != nullptr ? m_pView->WindowGet() : nullptr;
    if (window == nullptr || !window->isExposed())
        return false;
    // A Wayland client can neither grab nor warp the pointer, nor reach the
    // relative pointer and pointer constraint protocols through the toolkit:
    // remote control then takes the pointer's own moves inside the window,
    // where the compositor keeps delivering them.
    const QString platform = QGuiApplication::platformName();
    const bool confined = platform.startsWith(QStringLiteral("wayland"));
    if (!confined && !window->setMouseGrabEnabled(true))
        return false;
    window->setCursor(Qt::BlankCursor);
    window->installEventFilter(this);
    m_RemoteControl = true;
    m_RemainderX = m_RemainderY = 0;
    m_RawActive = !confined && m_MotionSource == SAMotionSource::RAW && PrivateRawMotionSelect(true);
    m_Confined = confined;
    m_ConfinedLastValid = false;
    if (m_Confined)
        SALog(SA_LOG_FAILURE,
              "SAInputMouse::Initialize no relative pointer protocol on %s: remote control "
              "follows the pointer confined to the window\n",
              platform.toUtf8().constData());
    SALog(SA_LOG_INPUT, "SAInputMouse::Initialize remote control, motion from %s\n",
          m_RawActive  ? "raw device events"
          : m_Confined ? "the confined pointer"
                       : "pointer warping");
    PrivatePointerCentre();
    return true;
}

void SAInputMouse::ButtonsRelease()
{
    const uint16_t down = m_ButtonsDown;
    m_ButtonsDown = 0;
    const bool forwarding = m_ForwardingGet && m_ForwardingGet();
    if (m_pView != nullptr)
        m_pView->TouchContactLift(forwarding);
    if (down == 0 || !forwarding)
        return;
    // Each button's up flag is the bit above its down flag.
    SAInputMouseRecord record;
    record.usButtonFlags = static_cast<uint16_t>(down << 1);
    SALog(SA_LOG_INPUT, "SAInputMouse::ButtonsRelease usButtonFlags:0x%x\n", record.usButtonFlags);
    PrivateRecordSend(record);
}

void SAInputMouse::PrivateRemoteControlStop()
{
    // The releases of buttons held now would never reach the server.
    ButtonsRelease();
    if (m_RawActive)
        PrivateRawMotionSelect(false);
    m_RawActive = false;
    const bool grabbed = !m_Confined;
    m_Confined = false;
    QWindow* window = m_pView != nullptr ? m_pView->WindowGet() : nullptr;
    if (window != nullptr)
    {
        window->removeEventFilter(this);
        if (grabbed && !window->setMouseGrabEnabled(false))
            SALog(SA_LOG_FAILURE, "SAInputMouse::Uninitialize setMouseGrabEnabled failed!\n");
        window->unsetCursor();
    }
    m_RemoteControl = false;
}

void SAInputMouse::PrivateTouchEmulationStart()
{
    QWindow* window = m_pView != nullptr ? m_pView->WindowGet() : nullptr;
    if (window == nullptr)
        return;
    m_pView->TouchEmulationSet(true);
    m_TouchEmulation = true;
    if (!window->setMouseGrabEnabled(true))
        SALog(SA_LOG_FAILURE, "SAInputMouse::Initialize setMouseGrabEnabled failed!\n");
    m_SavedCursor = window->cursor();
    m_CursorSaved = true;
    window->setCursor(Qt::CrossCursor);
    window->installEventFilter(this);
}

void SAInputMouse::PrivateTouchEmulationStop()
{
    QWindow* window = m_pView != nullptr ? m_pView->WindowGet() : nullptr;
    if (window != nullptr)
    {
        window->removeEventFilter(this);
        if (m_CursorSaved)
            window->setCursor(m_SavedCursor);
        if (m_TouchEmulation)
            window->setMouseGrabEnabled(false);
    }
    m_CursorSaved = false;
    if (m_pView != nullptr)
    {
        // The release of a contact held now would come as a plain click.
        m_pView->TouchContactLift(m_ForwardingGet && m_ForwardingGet());
        m_pView->TouchEmulationSet(false);
    }
    m_TouchEmulation = false;
}

bool SAInputMouse::eventFilter(QObject* watched, QEvent* event)
{
    if (m_pView == nullptr || watched != m_pView->WindowGet())
        return QObject::eventFilter(watched, event);
    if (m_RemoteControl)
        return PrivateRemoteEvent(event);
    if (m_TouchEmulation && event->type() == QEvent::MouseMove)
        return PrivateTouchEmulationConfine(static_cast<QMouseEvent*>(event));
    return QObject::eventFilter(watched, event);
}

bool SAInputMouse::PrivateTouchEmulationConfine(QMouseEvent* event)
{
    // The grab keeps the events coming here; a position outside the window
    // is put back onto its edge, and the move that the warp causes is the
    // one the view sees.
    QWindow* window = m_pView->WindowGet();
    const QPointF position = event->position();
    const int right = window->width() - 1, bottom = window->height() - 1;
    if (position.x() >= 0 && position.y() >= 0 && position.x() <= right && position.y() <= bottom)
        return false;
    const QPoint inside(std::clamp(qRound(position.x()), 0, std::max(right, 0)),
                        std::clamp(qRound(position.y()), 0, std::max(bottom, 0)));
    QCursor::setPos(window->screen(), window->mapToGlobal(inside));
    return true;
}

bool SAInputMouse::PrivateRemoteEvent(QEvent* event)
{
    switch (event->type())
    {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->source() != Qt::MouseEventNotSynthesized)
            return true;
        SAInputMouseRecord record;
        record.usButtonFlags = PrivateButtonFlags(mouse->button(), event->type() == QEvent::MouseButtonPress);
        if (record.usButtonFlags != 0)
            PrivateRecordSend(record);
        return true;
    }
    case QEvent::MouseMove:
    {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_RawActive || mouse->source() != Qt::MouseEventNotSynthesized)
            return true;
        if (m_Confined)
            return PrivateConfinedMotion(mouse->position() * m_pView->WindowGet()->devicePixelRatio());
        // Counted in device pixels, as the server counts motion: on a
        // scaled screen a logical pixel is several, and the centre the
        // pointer was warped to is the logical one rounded to a device pixel.
        QWindow* window = m_pView->WindowGet();
        const qreal ratio = window->devicePixelRatio();
        const QPoint centre = window->mapToGlobal(QPoint(window->width() / 2, window->height() / 2));
        const QPointF position = mouse->globalPosition() * ratio;
        const int offsetX = qRound(position.x() - qRound(centre.x() * ratio));
        const int offsetY = qRound(position.y() - qRound(centre.y() * ratio));
        if (offsetX == 0 && offsetY == 0)
            return true; // the warp's own motion
        SAInputMouseRecord record;
        record.lLastX = offsetX;
        record.lLastY = offsetY;
        PrivateRecordSend(record);
        PrivatePointerCentre();
        return true;
    }
    case QEvent::Wheel:
    {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->source() != Qt::MouseEventNotSynthesized || wheel->angleDelta().y() == 0)
            return true;
        SAInputMouseRecord record;
        record.usButtonFlags = SA_RI_MOUSE_WHEEL;
        record.usButtonData = static_cast<uint16_t>(static_cast<int16_t>(wheel->angleDelta().y()));
        PrivateRecordSend(record);
        return true;
    }
    case QEvent::MouseButtonDblClick: // the press before it was sent
    case QEvent::Enter:
    case QEvent::Leave:
        return true;
    default:
        return false;
    }
}

void SAInputMouse::PrivateRecordSend(SAInputMouseRecord& record)
{
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnRawInput AfxGetMainWnd failed!\n");
        return;
    }
    const bool forwarded = m_ForwardingGet && m_ForwardingGet();
    m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_CLIENT_INPUT_MOUSE,
                         reinterpret_cast<intptr_t>(&record));
    if (!forwarded)
        return;
    constexpr uint16_t downBits =
        SA_RI_MOUSE_LEFT_BUTTON_DOWN | SA_RI_MOUSE_RIGHT_BUTTON_DOWN | SA_RI_MOUSE_MIDDLE_BUTTON_DOWN;
    m_ButtonsDown |= record.usButtonFlags & downBits;
    m_ButtonsDown &= static_cast<uint16_t>(~((record.usButtonFlags >> 1) & downBits));
}

bool SAInputMouse::PrivateConfinedMotion(const QPointF& position)
{
    // The first position after capture began is where the motion starts.
    const QPointF last = m_ConfinedLast;
    m_ConfinedLast = position;
    if (!m_ConfinedLastValid)
    {
        m_ConfinedLastValid = true;
        return true;
    }
    SAInputMouseRecord record;
    record.lLastX = qRound(position.x() - last.x());
    record.lLastY = qRound(position.y() - last.y());
    if (record.lLastX != 0 || record.lLastY != 0)
        PrivateRecordSend(record);
    return true;
}

void SAInputMouse::PrivatePointerCentre()
{
    if (m_Confined)
        return; // the pointer cannot be moved there
    // Keeps the hidden pointer over the window, where the blank cursor
    // applies, and gives the warping fallback room to move in.
    QWindow* window = m_pView != nullptr ? m_pView->WindowGet() : nullptr;
    if (window == nullptr)
        return;
    const QPoint centre = window->mapToGlobal(QPoint(window->width() / 2, window->height() / 2));
    if (QCursor::pos(window->screen()) != centre)
        QCursor::setPos(window->screen(), centre);
}

bool SAInputMouse::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/)
{
#ifdef QM_APP_HAVE_XINPUT
    if (!m_RawActive || eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_GE_GENERIC)
        return false;
    auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
    if (generic->extension != m_XInputOpcode || generic->event_type != XCB_INPUT_RAW_MOTION)
        return false;
    PrivateRawMotion(message);
#else
    (void)eventType;
    (void)message;
#endif
    return false;
}

void SAInputMouse::PrivateRawMotion(const void* message)
{
#ifdef QM_APP_HAVE_XINPUT
    auto* raw = static_cast<const xcb_input_raw_motion_event_t*>(message);
    if (!PrivateRawDeviceRelative(raw->sourceid))
        return;
    // The values follow the mask in the order of its set bits; valuators 0
    // and 1 are the horizontal and vertical axes.
    const uint32_t* mask = xcb_input_raw_button_press_valuator_mask(raw);
    const int maskWords = xcb_input_raw_button_press_valuator_mask_length(raw);
    const xcb_input_fp3232_t* values = xcb_input_raw_button_press_axisvalues_raw(raw);
    const int valueCount = xcb_input_raw_button_press_axisvalues_raw_length(raw);
    double delta[2] = {0, 0};
    int index = 0;
    for (int axis = 0; axis < maskWords * 32 && index < valueCount; ++axis)
    {
        if ((mask[axis / 32] & (1u << (axis % 32))) == 0)
            continue;
        if (axis < 2)
            delta[axis] = PrivateFp3232(values[index]);
        ++index;
    }
    m_RemainderX += delta[0];
    m_RemainderY += delta[1];
    SAInputMouseRecord record;
    record.lLastX = static_cast<int32_t>(std::trunc(m_RemainderX));
    record.lLastY = static_cast<int32_t>(std::trunc(m_RemainderY));
    m_RemainderX -= record.lLastX;
    m_RemainderY -= record.lLastY;
    if (record.lLastX == 0 && record.lLastY == 0)
        return;
    PrivateRecordSend(record);
    if (m_RemoteControl)
        PrivatePointerCentre();
#else
    (void)message;
#endif
}

bool SAInputMouse::PrivateRawDeviceRelative(uint16_t deviceId)
{
#ifdef QM_APP_HAVE_XINPUT
    const auto known = m_DeviceRelative.find(deviceId);
    if (known != m_DeviceRelative.end())
        return known->second;
    bool relative = true;
    xcb_connection_t* connection = PrivateXcbConnection();
    if (connection == nullptr)
        return false;
    xcb_input_xi_query_device_reply_t* reply =
        xcb_input_xi_query_device_reply(connection, xcb_input_xi_query_device(connection, deviceId), nullptr);
    if (reply == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAInputMouse::PrivateRawDeviceRelative xcb_input_xi_query_device failed! %u\n",
              deviceId);
        return false;
    }
    for (auto info = xcb_input_xi_query_device_infos_iterator(reply); info.rem > 0;
         xcb_input_xi_device_info_next(&info))
    {
        for (auto item = xcb_input_xi_device_info_classes_iterator(info.data); item.rem > 0;
             xcb_input_device_class_next(&item))
        {
            if (item.data->type != XCB_INPUT_DEVICE_CLASS_TYPE_VALUATOR)
                continue;
            auto* valuator = reinterpret_cast<const xcb_input_valuator_class_t*>(item.data);
            if (valuator->number < 2 && valuator->mode == XCB_INPUT_VALUATOR_MODE_ABSOLUTE)
                relative = false;
        }
    }
    free(reply);
    m_DeviceRelative[deviceId] = relative;
    if (!relative)
        SALog(SA_LOG_INPUT, "SAInputMouse: device %u moves absolutely, its motion is not forwarded\n",
              deviceId);
    return relative;
#else
    (void)deviceId;
    return false;
#endif
}

bool SAInputMouse::PrivateRawMotionSelect(bool on)
{
#ifdef QM_APP_HAVE_XINPUT
    xcb_connection_t* connection = PrivateXcbConnection();
    if (connection == nullptr)
        return false;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    if (extension == nullptr || !extension->present)
        return false;
    m_XInputOpcode = extension->major_opcode;
    if (on)
    {
        // Raw events are only reported on a root window: that of the
        // display view's screen.
        QWindow* window = m_pView->WindowGet();
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(
            connection, xcb_query_tree(connection, static_cast<xcb_window_t>(window->winId())), nullptr);
        if (tree == nullptr)
            return false;
        m_RawRoot = tree->root;
        free(tree);
    }
    struct
    {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{};
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = on ? XCB_INPUT_XI_EVENT_MASK_RAW_MOTION : 0;
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_input_xi_select_events_checked(connection, m_RawRoot, 1, &selection.head));
    if (error != nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAInputMouse::PrivateRawMotionSelect xcb_input_xi_select_events failed! %d\n",
              error->error_code);
        free(error);
        return false;
    }
    if (on && !m_NativeFilterInstalled)
    {
        qApp->installNativeEventFilter(this);
        m_NativeFilterInstalled = true;
    }
    return true;
#else
    (void)on;
    return false;
#endif
}
