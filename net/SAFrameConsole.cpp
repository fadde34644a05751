#include "net/SAFrameConsole.h"

#include "core/SALog.h"
#include "core/SAUtilAddress.h"

#include <arpa/inet.h>
#include <ostream>

SAFrameConsole::SAFrameConsole(SAMessageTarget& target, SANetClientControl* client, std::ostream& out)
    : SAFrameBase(target, client), m_Out(out)
{
}

SAFrameConsole::~SAFrameConsole()
{
    ReconnectTimerStop();
}

void SAFrameConsole::ServerFeatureSet(uint32_t hostOrderAddress, int32_t featureBitmap)
{
    m_ServerFeatures[hostOrderAddress] = featureBitmap;
}

void SAFrameConsole::FullScreenEnter()
{
    m_Out << "Full screen: on" << std::endl;
}

void SAFrameConsole::FullScreenExit()
{
    m_Out << "Full screen: off" << std::endl;
}

void SAFrameConsole::StatusLineTextSet(int line, const std::string& text)
{
    if (line < 1 || line > SA_FRAME_STATUS_LINE_COUNT)
    {
        SALog(SA_LOG_FAILURE, "SAFrameConsole::StatusLineTextSet failed! line:%d\n", line);
        return;
    }
    m_Lines[line - 1] = text;
}

void SAFrameConsole::StatusLineShow(int line, bool show)
{
    if (line < 1 || line > SA_FRAME_STATUS_LINE_COUNT)
    {
        SALog(SA_LOG_FAILURE, "SAFrameConsole::StatusLineShow failed! line:%d\n", line);
        return;
    }
    m_LineVisible[line - 1] = show;
}

void SAFrameConsole::MessageBoxShow(const std::string& text, const std::string& title)
{
    m_Out << title << ": " << text << std::endl;
}

int32_t SAFrameConsole::ServerFeatureSupportBitmapGet(uint32_t networkOrderAddress)
{
    const uint32_t address = ntohl(networkOrderAddress);
    const auto found = m_ServerFeatures.find(address);
    if (found == m_ServerFeatures.end())
    {
        SALog(SA_LOG_FAILURE, "SAFrameConsole::ServerFeatureSupportBitmapGet failed! %s not found\n",
              SAUtilAddressText(address).c_str());
        return 0;
    }
    return found->second;
}

std::string SAFrameConsole::StatusTextGet() const
{
    std::string text;
    for (int i = 0; i < SA_FRAME_STATUS_LINE_COUNT; ++i)
        if (m_LineVisible[i])
            text += m_Lines[i];
    return text;
}

void SAFrameConsole::OnViewShow(SAFrameView from, SAFrameView to)
{
    switch (to)
    {
    case SAFrameView::TEXT:
    {
        // Every action ends with this switch, so the lines are complete here.
        std::string text = StatusTextGet();
        if (from != SAFrameView::TEXT || text != m_LastPrinted)
        {
            m_Out << "Status: " << text << std::endl;
            m_LastPrinted = std::move(text);
        }
        break;
    }
    case SAFrameView::CONNECT:
        if (from != to)
            m_Out << "View: connect" << std::endl;
        break;
    case SAFrameView::DISPLAY:
        if (from != to)
            m_Out << "View: display" << std::endl;
        break;
    }
}
