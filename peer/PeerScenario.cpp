#include "peer/PeerScenario.h"

#include "peer/PeerPacket.h"

#include <cerrno>
#include <cstdlib>

namespace
{
bool PrivateNumberParse(const std::string& text, long long minimum, long long maximum, long long& value)
{
    if (text.empty())
    {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum)
    {
        return false;
    }
    value = parsed;
    return true;
}
} // namespace

bool PeerScenario::Parse(const std::string& spec, std::string& error)
{
    std::vector<PeerScenarioEvent> events;
    size_t start = 0;
    while (start <= spec.size() && !spec.empty())
    {
        size_t comma = spec.find(',', start);
        std::string item = spec.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? spec.size() + 1 : comma + 1;
        if (item.empty())
        {
            continue;
        }
        size_t at = item.find('@');
        if (at == std::string::npos)
        {
            error = "scenario item without @: " + item;
            return false;
        }
        std::string kind = item.substr(0, at);
        std::string rest = item.substr(at + 1);
        size_t colon = rest.find(':');
        std::string frameText = rest.substr(0, colon);
        std::string valueText = colon == std::string::npos ? std::string() : rest.substr(colon + 1);

        PeerScenarioEvent event;
        long long number = 0;
        if (!PrivateNumberParse(frameText, 0, 0xFFFFFFFFll, number))
        {
            error = "invalid frame number in scenario item: " + item;
            return false;
        }
        event.Frame = static_cast<uint32_t>(number);

        long long minimum = INT32_MIN;
        long long maximum = INT32_MAX;
        long long fallback = 0;
        if (kind == "reset")
        {
            event.Kind = PeerScenarioKind::Reset;
            fallback = 1;
        }
        else if (kind == "visibility")
        {
            event.Kind = PeerScenarioKind::Visibility;
            fallback = 1;
        }
        else if (kind == "disconnect")
        {
            event.Kind = PeerScenarioKind::Disconnect;
        }
        else if (kind == "malformed")
        {
            event.Kind = PeerScenarioKind::Malformed;
            minimum = 0;
            maximum = PEER_MALFORMED_KIND_COUNT;
        }
        else if (kind == "overhang")
        {
            event.Kind = PeerScenarioKind::Overhang;
            minimum = 1;
            maximum = 4096;
            fallback = 32;
        }
        else
        {
            error = "unknown scenario event: " + kind;
            return false;
        }
        if (colon == std::string::npos)
        {
            number = fallback;
        }
        else if (!PrivateNumberParse(valueText, minimum, maximum, number))
        {
            error = "invalid value in scenario item: " + item;
            return false;
        }
        event.Value = static_cast<int32_t>(number);
        events.push_back(event);
    }
    m_Events = std::move(events);
    error.clear();
    return true;
}

std::vector<PeerScenarioEvent> PeerScenario::EventsAt(uint32_t frame) const
{
    std::vector<PeerScenarioEvent> due;
    for (const PeerScenarioEvent& event : m_Events)
    {
        if (event.Frame == frame)
        {
            due.push_back(event);
        }
    }
    return due;
}
