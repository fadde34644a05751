#include "peer/PeerSourceX11.h"

#include "core/SALog.h"
#include "peer/PeerX11Display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>

struct PeerSourceX11::State
{
    Display* Dpy = nullptr;
    Window Root = 0;
    Damage DamageHandle = 0;
    XserverRegion Region = 0;
    int DamageEventBase = 0;
    int RandrEventBase = 0;
    XImage* Image = nullptr;
    XShmSegmentInfo Shm = {};
    bool Lost = false;
};

PeerSourceX11::PeerSourceX11() : m_pState(new State) {}

PeerSourceX11::~PeerSourceX11()
{
    if (m_pState->Dpy != nullptr)
    {
        std::lock_guard<std::mutex> guard(PeerX11DisplayLock());
        PrivateImageDestroy();
        if (m_pState->Region != 0)
        {
            XFixesDestroyRegion(m_pState->Dpy, m_pState->Region);
        }
        if (m_pState->DamageHandle != 0)
        {
            XDamageDestroy(m_pState->Dpy, m_pState->DamageHandle);
        }
        XCloseDisplay(m_pState->Dpy);
    }
    delete m_pState;
}

bool PeerSourceX11::Open(const std::string& display)
{
    State& s = *m_pState;
    std::lock_guard<std::mutex> guard(PeerX11DisplayLock());
    s.Dpy = PeerX11DisplayOpen(display, "PeerSourceX11", &s.Lost);
    if (s.Dpy == nullptr)
    {
        return false;
    }
    int error = 0;
    int major = 0;
    int minor = 0;
    Bool pixmaps = False;
    if (!XShmQueryVersion(s.Dpy, &major, &minor, &pixmaps) ||
        !XDamageQueryExtension(s.Dpy, &s.DamageEventBase, &error) ||
        !XFixesQueryExtension(s.Dpy, &major, &error) || !XRRQueryExtension(s.Dpy, &s.RandrEventBase, &error))
    {
        SALog(SA_LOG_FAILURE, "PeerSourceX11::Open failed! MIT-SHM, DAMAGE, XFIXES or RANDR missing on %s\n",
              DisplayString(s.Dpy));
        return false;
    }
    // The version queries also announce to the server which protocol
    // version this client speaks; DAMAGE needs that before its requests.
    XDamageQueryVersion(s.Dpy, &major, &minor);
    XFixesQueryVersion(s.Dpy, &major, &minor);
    s.Root = DefaultRootWindow(s.Dpy);
    m_Width = DisplayWidth(s.Dpy, DefaultScreen(s.Dpy));
    m_Height = DisplayHeight(s.Dpy, DefaultScreen(s.Dpy));
    XRRSelectInput(s.Dpy, s.Root, RRScreenChangeNotifyMask);
    s.DamageHandle = XDamageCreate(s.Dpy, s.Root, XDamageReportNonEmpty);
    s.Region = XFixesCreateRegion(s.Dpy, nullptr, 0);
    if (!PrivateImageCreate())
    {
        return false;
    }
    AllMark();
    return true;
}

bool PeerSourceX11::PrivateImageCreate()
{
    State& s = *m_pState;
    const int screen = DefaultScreen(s.Dpy);
    s.Image = XShmCreateImage(s.Dpy, DefaultVisual(s.Dpy, screen),
                              static_cast<unsigned>(DefaultDepth(s.Dpy, screen)), ZPixmap, nullptr, &s.Shm,
                              static_cast<unsigned>(m_Width), static_cast<unsigned>(m_Height));
    if (s.Image == nullptr || s.Image->bits_per_pixel != 32 || s.Image->red_mask != 0xFF0000 ||
        s.Image->blue_mask != 0xFF)
    {
        SALog(SA_LOG_FAILURE, "PeerSourceX11::PrivateImageCreate failed! No 32-bit BGRX image of %dx%d\n",
              m_Width, m_Height);
        PrivateImageDestroy();
        return false;
    }
    s.Shm.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(s.Image->bytes_per_line) * m_Height, IPC_CREAT | 0600);
    s.Shm.shmaddr =
        s.Shm.shmid < 0 ? reinterpret_cast<char*>(-1) : static_cast<char*>(shmat(s.Shm.shmid, nullptr, 0));
    if (s.Shm.shmaddr == reinterpret_cast<char*>(-1))
    {
        SALog(SA_LOG_FAILURE, "PeerSourceX11::PrivateImageCreate failed! Shared memory of %dx%d\n", m_Width,
              m_Height);
        if (s.Shm.shmid >= 0)
        {
            shmctl(s.Shm.shmid, IPC_RMID, nullptr);
        }
        s.Shm.shmaddr = nullptr;
        PrivateImageDestroy();
        return false;
    }
    s.Image->data = s.Shm.shmaddr;
    s.Shm.readOnly = False;
    const Bool attached = XShmAttach(s.Dpy, &s.Shm);
    XSync(s.Dpy, False);
    // Marked for removal now: it goes away with the last of the two users,
    // also when this process dies.
    shmctl(s.Shm.shmid, IPC_RMID, nullptr);
    if (!attached)
    {
        SALog(SA_LOG_FAILURE, "PeerSourceX11::PrivateImageCreate failed! XShmAttach\n");
        PrivateImageDestroy();
        return false;
    }
    return true;
}

void PeerSourceX11::PrivateImageDestroy()
{
    State& s = *m_pState;
    if (s.Shm.shmaddr != nullptr)
    {
        XShmDetach(s.Dpy, &s.Shm);
        XSync(s.Dpy, False);
        shmdt(s.Shm.shmaddr);
        s.Shm = {};
    }
    if (s.Image != nullptr)
    {
        s.Image->data = nullptr;
        XDestroyImage(s.Image);
        s.Image = nullptr;
    }
}

bool PeerSourceX11::LostGet() const
{
    return m_pState->Lost;
}

const uint8_t* PeerSourceX11::PixelsGet() const
{
    return m_pState->Image != nullptr ? reinterpret_cast<const uint8_t*>(m_pState->Image->data) : nullptr;
}

size_t PeerSourceX11::PitchGet() const
{
    return m_pState->Image != nullptr ? static_cast<size_t>(m_pState->Image->bytes_per_line) : 0;
}

void PeerSourceX11::AllMark()
{
    m_Bands.assign(PEER_X11_BANDS, true);
}

void PeerSourceX11::PrivateBandsMark(int top, int bottom)
{
    for (int i = 0; i < PEER_X11_BANDS; ++i)
    {
        const int bandTop = i * m_Height / PEER_X11_BANDS;
        const int bandBottom = (i + 1) * m_Height / PEER_X11_BANDS;
        if (top < bandBottom && bottom > bandTop)
        {
            m_Bands[i] = true;
        }
    }
}

void PeerSourceX11::PrivateEventsRead()
{
    State& s = *m_pState;
    while (XPending(s.Dpy) > 0)
    {
        XEvent event;
        XNextEvent(s.Dpy, &event);
        if (event.type == s.DamageEventBase + XDamageNotify)
        {
            m_Damaged = true;
        }
        else if (event.type == s.RandrEventBase + RRScreenChangeNotify)
        {
            XRRUpdateConfiguration(&event);
            const int width = DisplayWidth(s.Dpy, DefaultScreen(s.Dpy));
            const int height = DisplayHeight(s.Dpy, DefaultScreen(s.Dpy));
            if (width != m_Width || height != m_Height)
            {
                m_Width = width;
                m_Height = height;
                m_Resized = true;
            }
        }
    }
}

bool PeerSourceX11::ChangeWait(int timeoutMs)
{
    auto pending = [this]
    { return m_Damaged || m_Resized || std::find(m_Bands.begin(), m_Bands.end(), true) != m_Bands.end(); };
    PrivateEventsRead();
    if (m_pState->Lost)
    {
        return false;
    }
    if (!pending())
    {
        pollfd fd = {ConnectionNumber(m_pState->Dpy), POLLIN, 0};
        poll(&fd, 1, timeoutMs);
        PrivateEventsRead();
    }
    return pending();
}

bool PeerSourceX11::RunsTake(int maxRuns, int minRuns, std::vector<std::pair<int, int>>& runs, bool& resized)
{
    State& s = *m_pState;
    runs.clear();
    PrivateEventsRead();
    resized = m_Resized;
    if (m_Resized)
    {
        m_Resized = false;
        PrivateImageDestroy();
        if (!PrivateImageCreate())
        {
            return false;
        }
        AllMark();
    }
    if (m_Damaged)
    {
        // Taking the damage empties it, so the next change reports anew.
        m_Damaged = false;
        XDamageSubtract(s.Dpy, s.DamageHandle, 0, s.Region);
        int count = 0;
        XRectangle* rects = XFixesFetchRegion(s.Dpy, s.Region, &count);
        for (int i = 0; i < count; ++i)
        {
            PrivateBandsMark(rects[i].y, rects[i].y + rects[i].height);
        }
        if (rects != nullptr)
        {
            XFree(rects);
        }
    }
    // Runs of marked bands, as band indices [first, last).
    std::vector<std::pair<int, int>> bands;
    for (int i = 0; i < PEER_X11_BANDS; ++i)
    {
        if (!m_Bands[i])
        {
            continue;
        }
        if (!bands.empty() && bands.back().second == i)
        {
            bands.back().second = i + 1;
        }
        else
        {
            bands.emplace_back(i, i + 1);
        }
        m_Bands[i] = false;
    }
    while (static_cast<int>(bands.size()) > std::max(maxRuns, 1))
    {
        size_t join = 0;
        for (size_t i = 1; i + 1 < bands.size(); ++i)
        {
            if (bands[i + 1].first - bands[i].second < bands[join + 1].first - bands[join].second)
            {
                join = i;
            }
        }
        bands[join].second = bands[join + 1].second;
        bands.erase(bands.begin() + static_cast<std::ptrdiff_t>(join) + 1);
    }
    while (!bands.empty() && static_cast<int>(bands.size()) < std::min(minRuns, maxRuns))
    {
        auto widest = std::max_element(bands.begin(), bands.end(),
                                       [](const auto& a, const auto& b)
                                       { return a.second - a.first < b.second - b.first; });
        if (widest->second - widest->first < 2)
        {
            break;
        }
        const int middle = (widest->first + widest->second) / 2;
        const int end = widest->second;
        widest->second = middle;
        bands.insert(widest + 1, std::make_pair(middle, end));
    }
    for (const auto& run : bands)
    {
        const int top = run.first * m_Height / PEER_X11_BANDS;
        const int bottom = run.second * m_Height / PEER_X11_BANDS;
        if (bottom > top)
        {
            runs.emplace_back(top, bottom);
        }
    }
    return true;
}

bool PeerSourceX11::RowsCapture(int top, int bottom)
{
    State& s = *m_pState;
    if (s.Image == nullptr || top < 0 || bottom > m_Height || bottom <= top)
    {
        return false;
    }
    // The request reads the image's size at the image's place in the
    // segment: pointed at the rows wanted, it reads only those.
    char* const data = s.Image->data;
    const int height = s.Image->height;
    s.Image->data = data + static_cast<size_t>(top) * static_cast<size_t>(s.Image->bytes_per_line);
    s.Image->height = bottom - top;
    const Bool read = XShmGetImage(s.Dpy, s.Root, s.Image, 0, top, AllPlanes);
    s.Image->data = data;
    s.Image->height = height;
    if (!read)
    {
        SALog(SA_LOG_FAILURE, "PeerSourceX11::RowsCapture failed! XShmGetImage rows %d..%d\n", top, bottom);
        return false;
    }
    return true;
}
