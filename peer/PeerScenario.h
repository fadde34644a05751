#pragma once
// A scripted list of server events, each tied to a frame number: the event is
// sent after frames 0..K-1 and before frame K of a connection. Parsed once,
// then read concurrently (const) by every connection thread.
//
// Syntax: comma-separated KIND@FRAME[:VALUE]
//   reset@K[:R]       StreamReset with ReplyRequest R (default 1)
//   visibility@K[:V]  Visibility with IsVisible V (default 1)
//   disconnect@K[:C]  Disconnect with reason C (default 0), then close
//   malformed@K[:M]   header(s) a viewer must reject and skip: M = 1..7 one
//                     kind (see PeerPacket::Malformed), 0 or absent all kinds
//   overhang@K[:D]    frame K's last band reaches D pixels (default 32) past
//                     the right screen edge: valid on the wire (wider only),
//                     and a viewer must not draw outside its frame
#include <cstdint>
#include <string>
#include <vector>

enum class PeerScenarioKind
{
    Reset,
    Visibility,
    Disconnect,
    Malformed,
    Overhang,
};

struct PeerScenarioEvent
{
    PeerScenarioKind Kind = PeerScenarioKind::Reset;
    uint32_t Frame = 0;
    int32_t Value = 0;
};

class PeerScenario
{
public:
    // Replaces the events; false with a reason when the text is not valid.
    bool Parse(const std::string& spec, std::string& error);
    // Events due before frame `frame`, in the order they were written.
    std::vector<PeerScenarioEvent> EventsAt(uint32_t frame) const;
    const std::vector<PeerScenarioEvent>& Events() const { return m_Events; }

private:
    std::vector<PeerScenarioEvent> m_Events;
};
