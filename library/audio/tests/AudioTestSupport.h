#pragma once

#include <cstdlib>
#include <string>

// Helpers shared by the audio tests.
namespace audiotest {

// A file of the committed test data (library/audio/tests/data).
std::string fixture(const char* name);

// A fresh temporary directory, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const char* name) const { return dir + "/" + name; }

private:
    std::string dir;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Little-endian pieces for building RIFF images.
std::string le32(unsigned long v);
std::string le16(unsigned v);
// "RIFF" size "WAVE" followed by body; size 0 means the real one.
std::string riff(const std::string& body, unsigned long size = 0);
// A "fmt " chunk claiming the given size, with a 16-bit PCM record (padded
// to that size when it is between 16 and 1024).
std::string fmtChunk(unsigned channels, unsigned long rate, unsigned tag = 1, unsigned long size = 16);
std::string chunk(const char* id, const std::string& content, bool pad = true);

// Sets MIROLA2_WAVEOUT for one scope.
class WaveOutChoice {
public:
    explicit WaveOutChoice(const std::string& value) { setenv("MIROLA2_WAVEOUT", value.c_str(), 1); }
    ~WaveOutChoice() { unsetenv("MIROLA2_WAVEOUT"); }
};

} // namespace audiotest
