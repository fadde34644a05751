#include "core/SAUtilPng.h"

#include "core/SALog.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace
{
struct PngFileCloser
{
    void operator()(FILE* f) const
    {
        if (f != nullptr)
        {
            std::fclose(f);
        }
    }
};
using PngFile = std::unique_ptr<FILE, PngFileCloser>;

// libpng reports errors by longjmp; these functions keep every C++ object
// with a destructor outside the setjmp frame.
bool PrivatePngWrite(FILE* file, const uint8_t* bgrx, int width, int height, size_t pitch, uint8_t* rowBuffer)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
    {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
    {
        const uint8_t* src = bgrx + static_cast<size_t>(y) * pitch;
        for (int x = 0; x < width; ++x)
        {
            rowBuffer[x * 3 + 0] = src[x * 4 + 2];
            rowBuffer[x * 3 + 1] = src[x * 4 + 1];
            rowBuffer[x * 3 + 2] = src[x * 4 + 0];
        }
        png_write_row(png, rowBuffer);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool PrivatePngRead(FILE* file, std::vector<uint8_t>* rgb, int* width, int* height)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
    {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)))
    {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info);
    png_uint_32 h = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info);
    int type = png_get_color_type(png, info);
    if (depth != 8 || (type != PNG_COLOR_TYPE_RGB && type != PNG_COLOR_TYPE_RGBA) || w == 0 || h == 0 ||
        w > 65535 || h > 65535)
    {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (type == PNG_COLOR_TYPE_RGBA)
    {
        png_set_strip_alpha(png);
    }
    png_read_update_info(png, info);
    rgb->resize(static_cast<size_t>(w) * h * 3);
    for (png_uint_32 y = 0; y < h; ++y)
    {
        png_read_row(png, rgb->data() + static_cast<size_t>(y) * w * 3, nullptr);
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}
} // namespace

bool SAUtilPng::Write(const std::string& path, const uint8_t* bgrx, int width, int height, size_t pitch)
{
    if (bgrx == nullptr || width <= 0 || height <= 0)
    {
        SALog(SA_LOG_FAILURE, "SAUtilPng::Write failed! Invalid picture %dx%d\n", width, height);
        return false;
    }
    std::string temporary = path + ".part";
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    {
        PngFile file(std::fopen(temporary.c_str(), "wb"));
        if (!file)
        {
            SALog(SA_LOG_FAILURE, "SAUtilPng::Write failed! fopen %s %d\n", temporary.c_str(), errno);
            return false;
        }
        if (!PrivatePngWrite(file.get(), bgrx, width, height, pitch, row.data()) ||
            std::fflush(file.get()) != 0)
        {
            SALog(SA_LOG_FAILURE, "SAUtilPng::Write failed! png_write %s\n", temporary.c_str());
            file.reset();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
    {
        SALog(SA_LOG_FAILURE, "SAUtilPng::Write failed! rename %s %d\n", path.c_str(), errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool SAUtilPng::Read(const std::string& path, std::vector<uint8_t>& rgb, int& width, int& height)
{
    PngFile file(std::fopen(path.c_str(), "rb"));
    if (!file)
    {
        SALog(SA_LOG_FAILURE, "SAUtilPng::Read failed! fopen %s %d\n", path.c_str(), errno);
        return false;
    }
    if (!PrivatePngRead(file.get(), &rgb, &width, &height))
    {
        SALog(SA_LOG_FAILURE, "SAUtilPng::Read failed! png_read %s\n", path.c_str());
        return false;
    }
    return true;
}
