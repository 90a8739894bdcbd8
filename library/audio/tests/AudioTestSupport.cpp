#include "AudioTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace audiotest {

std::string fixture(const char* name)
{
    const char* root = std::getenv("ZV_SOURCE_DIR");
    std::string base = root ? root : ZV_AUDIO_SOURCE_ROOT;
    return base + "/library/audio/tests/data/" + name;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zv-audio-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string le32(unsigned long v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = (char)(v >> (8 * i));
    return s;
}

std::string le16(unsigned v)
{
    std::string s(2, '\0');
    s[0] = (char)v;
    s[1] = (char)(v >> 8);
    return s;
}

std::string riff(const std::string& body, unsigned long size)
{
    return "RIFF" + le32(size ? size : body.size() + 4) + "WAVE" + body;
}

std::string fmtChunk(unsigned channels, unsigned long rate, unsigned tag, unsigned long size)
{
    std::string rec
        = le16(tag) + le16(channels) + le32(rate) + le32(rate * channels * 2) + le16(channels * 2) + le16(16);
    // Extra bytes for a long record; a bogus huge size gets none.
    rec.resize(size < 16 || size > 1024 ? 16 : size, '\0');
    return "fmt " + le32(size) + rec;
}

std::string chunk(const char* id, const std::string& content, bool pad)
{
    std::string c = std::string(id, 4) + le32(content.size()) + content;
    if (pad && (content.size() & 1)) c += '\0';
    return c;
}

} // namespace audiotest
