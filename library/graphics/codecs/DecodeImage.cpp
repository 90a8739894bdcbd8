#include "internal/ImageData.h"

#include <cstring>

namespace wgfx {

bool decodeImage(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    out = ImageData();
    if (data == nullptr || size < 4) {
        error = "unknown image format";
        return false;
    }
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return decodeGif(data, size, out, error);
    if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return decodeJpeg(data, size, out, error);
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return decodePng(data, size, out, error);
    if (data[0] == 'B' && data[1] == 'M') return decodeBmp(data, size, out, error);
    error = "unknown image format";
    return false;
}

} // namespace wgfx
