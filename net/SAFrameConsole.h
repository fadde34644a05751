#pragma once
// The frame of the headless tool: the text view's status lines and the
// message boxes become lines on an output stream (standard output by
// default); views and full screen only exist as lines of text.
//
// Output lines:
//   "Status: <visible lines joined>"   when the text view comes to the front
//                                      with a text that differs from the last
//   "<title>: <text>"                  for a message box (newlines kept)
//   "View: connect|display"            when those views come to the front
//   "Full screen: on|off"
//
// Threads: like SAFrameBase, window thread only; the stream is written from
// that thread alone.
#include "net/SAFrameBase.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

class SAFrameConsole : public SAFrameBase
{
public:
    // out: borrowed, outlives the frame.
    SAFrameConsole(SAMessageTarget& target, SANetClientControl* client, std::ostream& out);
    ~SAFrameConsole() override;

    // What discovery reported for a server (host order); used by the
    // feature lookup of the connect step.
    void ServerFeatureSet(uint32_t hostOrderAddress, int32_t featureBitmap);

    void FullScreenEnter() override;
    void FullScreenExit() override;
    void StatusLineTextSet(int line, const std::string& text) override;
    void StatusLineShow(int line, bool show) override;
    void MessageBoxShow(const std::string& text, const std::string& title) override;
    int32_t ServerFeatureSupportBitmapGet(uint32_t networkOrderAddress) override;

    // The visible status lines joined, as the text view shows them.
    std::string StatusTextGet() const;

protected:
    void OnViewShow(SAFrameView from, SAFrameView to) override;

private:
    std::ostream& m_Out;
    std::string m_Lines[SA_FRAME_STATUS_LINE_COUNT];
    bool m_LineVisible[SA_FRAME_STATUS_LINE_COUNT] = {};
    std::string m_LastPrinted;
    std::map<uint32_t, int32_t> m_ServerFeatures;
};
