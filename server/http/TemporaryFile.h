#pragma once

#include <cstddef>
#include <cstdint>

// An unlinked file for reading and writing in the temporary folder ($TMPDIR,
// else /tmp): it goes when its descriptor is closed. -1 with errno set when
// none can be made.
int openUnlinkedTemporaryFile();

// Writes all of data at offset (retrying short writes); false with errno set
// when the file cannot take it.
bool writeAllAt(int fd, const char* data, size_t length, uint64_t offset);

// What every temporary file of the server may hold together (answers that
// wait for their clients, request bodies), so that slow clients cannot fill
// the disk. Process-wide; safe from any thread.
namespace TemporarySpace {
// The cap in bytes; 0 takes half of what the temporary folder has free now.
void setLimit(uint64_t bytes);
uint64_t getLimit();
// Takes bytes from the cap: false (errno EDQUOT) when they would pass it.
bool reserve(uint64_t bytes);
void release(uint64_t bytes);
uint64_t inUse();
} // namespace TemporarySpace

// Why a temporary file could not take bytes, for the log: the cap, or the
// system's reason for errorNumber.
const char* temporaryFileProblem(int errorNumber);
