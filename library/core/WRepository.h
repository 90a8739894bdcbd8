#pragma once

#include <cstdint>
#include <cstdio>

#include "WFile.h"
#include "WFileIO.h"
#include "WHashtable.h"
#include "WString.h"

// One member of an archive's directory: where its bytes lie and its name.
struct WRepositoryEntry {
    static constexpr unsigned long MAX_NAME = 260; // characters, NUL not counted

    uint32_t offset; // from the start of the archive file
    uint32_t size;
    char name[MAX_NAME + 1];
};

// Member name -> entry, in the order the names were first added.
using WRepositoryDirectory = WHashtable<WString, WRepositoryEntry, const char*, const WRepositoryEntry&>;

// Builds a repository archive: create(), addFile() for each member, close().
// The data is collected in a new temporary file next to the archive
// ("<name>.tmp" and six random letters) and the archive written by close().
class WRepository {
public:
    WRepository();
    virtual ~WRepository();

    WRepository(const WRepository&) = delete;
    WRepository& operator=(const WRepository&) = delete;

    void create(const char* name);
    // Adds the file's bytes under memberName (a name added again gets the
    // new bytes); does nothing when no archive is being built.
    void addFile(const char* path, const char* memberName);
    void addFile(const char* path) { addFile(path, path); }
    // Writes the archive and deletes the temporary file.
    void close();

private:
    uint32_t entryCount;
    WRepositoryDirectory directory;
    WString name;
    WFile tempFile;
};

// Reads one member of a repository archive as a stream of its own. Members
// of one archive share one parsed directory; each reader has its own handle
// and position. Writing is refused.
class WRepositoryFile : public WFileIO {
public:
    WRepositoryFile();
    WRepositoryFile(const char* repository, const char* member);
    ~WRepositoryFile() override;

    WRepositoryFile(const WRepositoryFile&) = delete;
    WRepositoryFile& operator=(const WRepositoryFile&) = delete;

    // Opens the archive (read-only) and, when member is not null, loads it.
    void open(const char* repository, const char* member);
    // Positions the reader on the first byte of a member of the open archive.
    void load(const char* member);

    WFileHandle getFileHandle() const { return archive.getFileHandle(); }
    FILE* getFileStream() { return archive.getFileStream(); }
    explicit operator WFileHandle() const { return getFileHandle(); }
    explicit operator FILE*() { return getFileStream(); }

    void write(const char* text) override;
    void write(const WString& text) override;
    void write(const void* data, unsigned long length) override;
    void writeln(const char* text) override;
    void writeln(const WString& text) override;
    void read(WString& text) override;
    void* read(void* buffer, unsigned long length) override;
    bool readln(WString& line) override;
    int readByte() override;
    void mark() override;
    void reset() override;
    void setPosMode(PosMode mode) override { posMode = mode; }
    void setPos(int position) override;
    void skip(int distance) override;
    unsigned long getPos() const override;
    unsigned long getSize() const override;
    unsigned long getEOFBytes() const override { return eofBytes; }
    const WString& getFilename() const override { return memberName; }

private:
    unsigned long long start() const;
    void moveWithin(long long target);
    void release() noexcept;

    WFile archive;
    const WRepositoryDirectory* directory;
    const WRepositoryEntry* entry;
    unsigned long long end;
    unsigned long eofBytes;
    WString memberName;
    PosMode posMode;
};
