#pragma once
// A minimal viewer for peer tests: a plain blocking socket, a connect request
// written byte by byte from the documented layout, and a packet reader that
// drops invalid headers without reading a payload, as the viewer does.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct PeerTestPacket
{
    uint8_t Header[128] = {};
    std::vector<uint8_t> Payload;
    bool Valid = true;

    uint32_t U32(size_t offset) const
    {
        return uint32_t(Header[offset]) | uint32_t(Header[offset + 1]) << 8 |
               uint32_t(Header[offset + 2]) << 16 | uint32_t(Header[offset + 3]) << 24;
    }
    int32_t S32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
    int16_t S16(size_t offset) const
    {
        return static_cast<int16_t>(Header[offset] | Header[offset + 1] << 8);
    }
    uint32_t Type() const { return U32(0); }
    uint32_t ByteCount() const { return U32(4); }
    // FrameBuffer fields.
    int32_t ScreenWidth() const { return S32(8); }
    int32_t ScreenHeight() const { return S32(12); }
    int32_t Pitch() const { return S32(16); }
    uint32_t ColorFormat() const { return U32(20); }
    int32_t Left() const { return S32(24); }
    int32_t Top() const { return S32(28); }
    int32_t Right() const { return S32(32); }
    int32_t Bottom() const { return S32(36); }
    uint32_t Compression() const { return U32(40); }
    int32_t Quality() const { return S32(48); }
    int16_t CountFragments() const { return S16(60); }
};

// The viewer's header validation rules, restated for the test.
inline bool PeerTestHeaderValid(const PeerTestPacket& p)
{
    if (p.Type() > 14)
    {
        return false;
    }
    if (p.ByteCount() != 0 && p.Type() != 2 && p.Type() != 14)
    {
        return false;
    }
    if (p.Type() == 3 && (p.S32(8) < 0 || p.S32(8) > 1))
    {
        return false;
    }
    if (p.Type() == 2)
    {
        if (p.Bottom() - p.Top() > p.ScreenHeight() && p.Right() - p.Left() > p.ScreenWidth())
        {
            return false;
        }
        if (p.Pitch() < 1 || p.Compression() > 6)
        {
            return false;
        }
        if ((p.Compression() == 3 || p.Compression() == 4) && (p.Quality() < 1 || p.Quality() > 100))
        {
            return false;
        }
    }
    return true;
}

struct PeerTestConnectFields
{
    uint32_t Kind = 0;
    uint32_t Quality = 70;
    uint16_t CompressionType = 3;
    uint16_t Framerate = 60;
    std::vector<std::pair<uint32_t, uint32_t>> Resolutions = {{1920, 1080}};
    std::u16string InstanceId = u"{00000000-0000-4000-8000-000000000000}";
    std::u16string ComputerName = u"test-host";
};

class PeerTestClient
{
public:
    ~PeerTestClient() { Close(); }

    bool Connect(const char* address)
    {
        m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_Fd < 0)
        {
            return false;
        }
        // A guard so a broken peer fails the test instead of hanging it.
        timeval guard = {15, 0};
        setsockopt(m_Fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof(guard));
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(28252);
        inet_pton(AF_INET, address, &sa.sin_addr);
        return connect(m_Fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
    }

    static void Put32(std::vector<uint8_t>& b, size_t offset, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
        {
            b[offset + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    }
    static void Put16(std::vector<uint8_t>& b, size_t offset, uint16_t v)
    {
        b[offset] = static_cast<uint8_t>(v);
        b[offset + 1] = static_cast<uint8_t>(v >> 8);
    }

    static std::vector<uint8_t> ConnectRequestBuild(const PeerTestConnectFields& f)
    {
        std::vector<uint8_t> b(462, 0);
        Put32(b, 0, 0);
        Put32(b, 4, 334);
        Put32(b, 8, 4);
        Put32(b, 12, 8);
        Put32(b, 16, f.Kind);
        Put32(b, 20, 1);
        Put32(b, 24, f.CompressionType != 0 ? 3 : 0);
        Put32(b, 28, 2);
        Put32(b, 32, f.Quality);
        Put16(b, 36, f.CompressionType);
        Put16(b, 38, 1);
        Put16(b, 44, f.Framerate);
        Put16(b, 46, 4);
        Put32(b, 48, static_cast<uint32_t>(f.Resolutions.size()));
        for (size_t i = 0; i < f.Resolutions.size() && i < 9; ++i)
        {
            Put32(b, 52 + 4 * i, f.Resolutions[i].first);
            Put32(b, 88 + 4 * i, f.Resolutions[i].second);
        }
        for (size_t i = 0; i < f.InstanceId.size() && i < 39; ++i)
        {
            Put16(b, 128 + 2 * i, static_cast<uint16_t>(f.InstanceId[i]));
        }
        for (size_t i = 0; i < f.ComputerName.size() && i < 128; ++i)
        {
            Put16(b, 206 + 2 * i, static_cast<uint16_t>(f.ComputerName[i]));
        }
        return b;
    }

    bool SendBytes(const void* data, size_t size)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        while (size > 0)
        {
            ssize_t sent = send(m_Fd, p, size, MSG_NOSIGNAL);
            if (sent <= 0)
            {
                return false;
            }
            p += sent;
            size -= static_cast<size_t>(sent);
        }
        return true;
    }

    bool ConnectRequestSend(const PeerTestConnectFields& fields = PeerTestConnectFields())
    {
        std::vector<uint8_t> request = ConnectRequestBuild(fields);
        return SendBytes(request.data(), request.size());
    }

    // A header-only packet: type and (offset, value) pairs of u32 fields.
    bool HeaderSend(uint32_t type, std::vector<std::pair<size_t, uint32_t>> fields = {},
                    uint32_t byteCount = 0)
    {
        std::vector<uint8_t> header(128, 0);
        Put32(header, 0, type);
        Put32(header, 4, byteCount);
        for (auto& f : fields)
        {
            Put32(header, f.first, f.second);
        }
        return SendBytes(header.data(), header.size());
    }

    bool AckSend() { return HeaderSend(7); }

    bool ReceiveBytes(void* data, size_t size)
    {
        uint8_t* p = static_cast<uint8_t*>(data);
        while (size > 0)
        {
            ssize_t got = recv(m_Fd, p, size, 0);
            if (got <= 0)
            {
                return false;
            }
            p += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }

    // Reads one packet; an invalid header is returned with Valid false and
    // without reading what it announces. False at end of stream.
    bool PacketRead(PeerTestPacket& packet)
    {
        packet.Payload.clear();
        if (!ReceiveBytes(packet.Header, 128))
        {
            return false;
        }
        packet.Valid = PeerTestHeaderValid(packet);
        if (packet.Valid && packet.ByteCount() > 0)
        {
            packet.Payload.resize(packet.ByteCount());
            return ReceiveBytes(packet.Payload.data(), packet.Payload.size());
        }
        return true;
    }

    // True when the peer has closed its side (a read returns end of stream).
    bool EndOfStreamRead()
    {
        uint8_t byte;
        return recv(m_Fd, &byte, 1, 0) == 0;
    }

    // True while the peer has not closed its side, without blocking.
    bool IsOpen()
    {
        uint8_t byte;
        ssize_t got = recv(m_Fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }

    // Bytes already waiting to be read, without blocking.
    size_t PendingBytes()
    {
        uint8_t buffer[256];
        ssize_t got = recv(m_Fd, buffer, sizeof(buffer), MSG_PEEK | MSG_DONTWAIT);
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

    void Close()
    {
        if (m_Fd >= 0)
        {
            close(m_Fd);
            m_Fd = -1;
        }
    }

private:
    int m_Fd = -1;
};
