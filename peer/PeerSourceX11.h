#pragma once
// The picture of a real X display: the root window read through the MIT-SHM
// extension, changes learnt from the DAMAGE extension and size changes from
// RandR. The screen is cut into PEER_X11_BANDS horizontal bands of equal
// height; a change marks the bands it touches, and only those are read and
// sent again.
//
// One instance per display connection, used on its connection thread only
// (it owns its own connection to the X server).
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr int PEER_X11_BANDS = 16;

class PeerSourceX11
{
public:
    PeerSourceX11();
    ~PeerSourceX11();
    PeerSourceX11(const PeerSourceX11&) = delete;
    PeerSourceX11& operator=(const PeerSourceX11&) = delete;

    // `display` as for XOpenDisplay (empty: $DISPLAY). False (logged) when
    // the display or one of the extensions is missing.
    bool Open(const std::string& display);

    // The display went away (a log out, the X server ended): nothing more
    // comes from it.
    bool LostGet() const;
    int WidthGet() const { return m_Width; }
    int HeightGet() const { return m_Height; }
    // The last picture read: BGRX rows PitchGet() bytes apart.
    const uint8_t* PixelsGet() const;
    size_t PitchGet() const;

    // Waits at most `timeoutMs` for a change of the picture or of the size.
    // True when something changed since the last RunsTake.
    bool ChangeWait(int timeoutMs);
    // The rows to send now, as [top, bottom) runs of whole bands, at most
    // `maxRuns` of them (neighbouring runs are joined over the smallest gaps)
    // and split up to `minRuns` where a run spans bands enough. `resized` is
    // set when the screen changed its size: then the whole screen is one run
    // at the new size. Empty when nothing changed.
    bool RunsTake(int maxRuns, int minRuns, std::vector<std::pair<int, int>>& runs, bool& resized);
    // Marks the whole screen as changed (the first frame of a stream).
    void AllMark();
    // Reads rows [top, bottom) of the screen into the picture.
    bool RowsCapture(int top, int bottom);

private:
    bool PrivateImageCreate();
    void PrivateImageDestroy();
    void PrivateEventsRead();
    void PrivateBandsMark(int top, int bottom);

    struct State;
    State* m_pState = nullptr;
    int m_Width = 0;
    int m_Height = 0;
    bool m_Resized = false;
    bool m_Damaged = false; // a damage event arrived and is not yet taken
    std::vector<bool> m_Bands;
};
