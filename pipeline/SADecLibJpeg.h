#pragma once
// JPEG and YUV 4:2:0 decoding through TurboJPEG into 4-byte B, G, R, X pixels.
//
// One instance per decoder task: the TurboJPEG handle keeps per-image state,
// so an instance is used by one thread at a time and instances decode in
// parallel without locking.
//
// Every method takes the size of each buffer it reads or writes and refuses
// (with one log line) whatever would not fit, before TurboJPEG sees it.
#include <cstddef>
#include <cstdint>

struct SAJpegHeaderInfo
{
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Subsampling = 0; // TJSAMP_*
};

class SADecLibJpeg
{
public:
    SADecLibJpeg();
    ~SADecLibJpeg();
    SADecLibJpeg(const SADecLibJpeg&) = delete;
    SADecLibJpeg& operator=(const SADecLibJpeg&) = delete;

    // False when TurboJPEG could not give a handle; every decode then fails.
    // A failed TurboJPEG call renews the handle, so one damaged image never
    // affects the next; so does a fault inside one (in a guarded job).
    bool IsValid() const { return m_hInstance != nullptr; }

    // Every scan of a progressive image is a pass over the whole picture: a
    // few kilobytes of repeated scans would keep a decoder busy for minutes.
    // Encoders use about ten.
    static constexpr int SA_JPEG_SCAN_LIMIT = 64;
    // The scans (start-of-scan markers) of a JPEG, found by walking its marker
    // segments and skipping entropy-coded data.
    static int ScanCountGet(const uint8_t* jpeg, size_t jpegSize);

    // Reads the JPEG's own width, height and chroma subsampling.
    bool HeaderRead(const uint8_t* jpeg, size_t jpegSize, SAJpegHeaderInfo& info);

    // Decompresses a JPEG whose header read gave `info`, at its own size, into
    // `destination`: info.Height rows `pitch` bytes apart, pitch >= 4 x width.
    // An image of more than SA_JPEG_SCAN_LIMIT scans is refused unread.
    bool Decode(const uint8_t* jpeg, size_t jpegSize, const SAJpegHeaderInfo& info, uint8_t* destination,
                size_t destinationSize, int32_t pitch);

    // Converts a planar YUV 4:2:0 image with rows padded to 4 bytes (the layout
    // of tjEncodeYUV3 with pad 4) of width x height pixels.
    bool YuvRgbConvert(const uint8_t* source, size_t sourceSize, uint8_t* destination, size_t destinationSize,
                       int32_t width, int32_t pitch, int32_t height);

    // Converts an I420 image held in one buffer as a video decoder writes it:
    // luma stride = width rounded up to 16, chroma strides half of that, plane
    // heights padded to 16 (chroma 8); U follows the luma plane and V starts
    // half-way through what follows it.
    bool YuvPlanarRgbConvert(const uint8_t* source, size_t sourceSize, uint8_t* destination,
                             size_t destinationSize, int32_t width, int32_t height, int32_t destinationPitch);

    // Converts a 4:2:0 picture whose three planes lie wherever their owner
    // put them (a video decoder's frame): `planes` Y, U, V with `strides` in
    // bytes, each at least the plane's width (chroma: (width + 1) / 2), and
    // each plane holding its rows ((height + 1) / 2 for chroma). Full-range
    // BT.601 (JPEG) coefficients; the planes are read in place, not copied.
    bool YuvPlanarRgbConvert(const uint8_t* const planes[3], const int32_t strides[3], uint8_t* destination,
                             size_t destinationSize, int32_t width, int32_t height, int32_t destinationPitch);

    // Bytes of a YUV 4:2:0 image with 4-byte row padding; 0 for sizes
    // TurboJPEG refuses.
    static size_t YuvBufferSizeGet(int32_t width, int32_t height);

private:
    void PrivateHandleRenew();
    // The guard's cleanup when a fault abandons a call on the handle.
    static void PrivateAbandon(void* decoder);
    bool PrivateDestinationCheck(const char* method, size_t destinationSize, int32_t width, int32_t pitch,
                                 int32_t height);

    void* m_hInstance; // tjhandle, owned; null when initialisation failed
    bool m_Abandoned = false;
};
