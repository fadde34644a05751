#include "app/SAInputTouch.h"

#include "app/SAMvcViewFrmDisplay.h"
#include "core/SALog.h"
#include "net/SAFstmEventData.h"
#include "net/SAInputRecord.h"
#include "settings/SASettings.h"

#include <QTouchEvent>
#include <QWindow>

#include <cmath>
#include <utility>
#include <vector>

SAInputTouch::SAInputTouch(SAMvcViewFrmDisplay* view, std::function<int32_t()> modeGet,
                           std::function<int32_t()> stateGet)
    : m_pView(view), m_ModeGet(std::move(modeGet)), m_StateGet(std::move(stateGet))
{
}

bool SAInputTouch::Initialize()
{
    if (m_ModeGet() == SA_SETTINGS_TOUCH_OFF)
        return false;
    m_Registered = true;
    return true;
}

void SAInputTouch::Uninitialize()
{
    m_Registered = false;
    m_Contacts.clear();
}

bool SAInputTouch::GetInputFromWmTouch(const QTouchEvent* event)
{
    const int32_t mode = m_ModeGet();
    if (!m_Registered || mode == SA_SETTINGS_TOUCH_OFF)
        return false;
    if (!m_pView->FrameTargetAvailableGet())
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnWmTouch AfxGetMainWnd failed!\n");
        return true;
    }
    // The window's rectangle on the screen in hundredths of a pixel, the
    // unit touch positions are compared in.
    QWindow* window = m_pView->WindowGet();
    const QPoint origin = window->mapToGlobal(QPoint(0, 0));
    const int64_t left = int64_t{origin.x()} * 100, top = int64_t{origin.y()} * 100;
    const int64_t right = left + int64_t{window->width()} * 100,
                  bottom = top + int64_t{window->height()} * 100;
    const double ratio = window->devicePixelRatio();
    const bool cancelled = event->type() == QEvent::TouchCancel;
    const uint8_t absolute =
        (m_StateGet() != SA_FSTM_STATE_CONNECTED_DISPLAY_OFF && mode == SA_SETTINGS_TOUCH_SCREEN) ? 1 : 0;
    // A cancel lifts every contact; it may list them, or none.
    std::vector<std::pair<QEventPoint::State, QPointF>> points;
    for (const QEventPoint& point : event->points())
    {
        const QEventPoint::State state = cancelled ? QEventPoint::Released : point.state();
        points.emplace_back(state, point.globalPosition());
        if (state == QEventPoint::Released)
            m_Contacts.erase(point.id());
        else
            m_Contacts[point.id()] = point.globalPosition();
    }
    if (cancelled)
    {
        for (const auto& [id, position] : m_Contacts)
            points.emplace_back(QEventPoint::Released, position);
        m_Contacts.clear();
    }
    bool inside = true;
    for (const auto& [state, position] : points)
    {
        uint32_t flags = 0;
        switch (state)
        {
        case QEventPoint::Pressed:
            flags = SA_TOUCHEVENTF_DOWN;
            break;
        case QEventPoint::Released:
            flags = SA_TOUCHEVENTF_UP;
            break;
        case QEventPoint::Updated:
        case QEventPoint::Stationary:
            flags = SA_TOUCHEVENTF_MOVE; // every contact, as each report lists them all
            break;
        default:
            break;
        }
        if (flags == 0)
            continue;
        int64_t x = std::llround(position.x() * 100);
        int64_t y = std::llround(position.y() * 100);
        if (x >= left && x < right && y >= top && y < bottom)
        {
            x -= left;
            y -= top;
        }
        else
            inside = false; // this and every later point of the event
        // The renderer measures the window in device pixels, touch points
        // come in logical ones.
        m_pView->PrivateTouchEventSend(flags, absolute, inside,
                                       static_cast<int32_t>(std::floor(x * ratio / 100)),
                                       static_cast<int32_t>(std::floor(y * ratio / 100)));
    }
    return true;
}
