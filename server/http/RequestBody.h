#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A request body as the event loop collects it before a script starts: in
// memory while it is small, then in an unlinked temporary file. The loop
// appends; afterwards the worker running the script reads it.
class RequestBody {
public:
    // Bytes kept in memory; a larger body goes to a file.
    static constexpr size_t MEMORY_LIMIT = 16 * 1024;

    RequestBody() = default;
    ~RequestBody();

    void reset();
    // False when the temporary file cannot be written (errno set; EDQUOT:
    // the server's cap on temporary space is reached).
    bool append(const char* data, size_t length);
    uint64_t size() const { return length; }
    // Up to n bytes from offset; 0 at the end, -1 when the file fails.
    long read(uint64_t offset, void* buffer, size_t n) const;

    RequestBody(const RequestBody&) = delete;
    RequestBody& operator=(const RequestBody&) = delete;

private:
    std::string memory;
    int fileFd = -1;
    uint64_t length = 0;
    uint64_t reserved = 0; // of the temporary space
};
