#pragma once

#include <cstdint>
#include <cstdio>

#include "WFileIO.h"
#include "WString.h"

class WRepositoryFile;

// A system file handle (a descriptor); -1 when there is none.
using WFileHandle = int;

// Facts about one file: name, attribute bits, size and its three times in
// seconds since 1 January 1970 UTC.
class WFileInfo {
public:
    // Attribute bits, as the callers test them.
    enum : unsigned long {
        ATTRIBUTE_READONLY = 0x01,
        ATTRIBUTE_HIDDEN = 0x02,
        ATTRIBUTE_DIRECTORY = 0x10,
        ATTRIBUTE_NORMAL = 0x80,
    };

    WFileInfo();
    ~WFileInfo();

    const WString& getFilename() const { return name; }
    unsigned long getFileType() const { return attributes; }
    long long getFileSize() const { return size; }
    unsigned long long getTimeCreation() const { return timeCreation; }
    unsigned long long getTimeLastAccess() const { return timeLastAccess; }
    unsigned long long getTimeLastModified() const { return timeLastModified; }

private:
    friend class WFile;
    friend class WDirectoryEntries;

    void set(const char* fileName, uint32_t attributeBits, int64_t fileSize, uint64_t created, uint64_t accessed,
        uint64_t modified);

    WString name;
    uint32_t attributes;
    int64_t size;
    uint64_t timeCreation;
    uint64_t timeLastAccess;
    uint64_t timeLastModified;
};

// A file on disk, read and written through its handle, or a member of a
// repository archive when opened on "$<repository>:<filename>". Every file is
// opened shared and close-on-exec. Not copyable: the handle and the member
// belong to one object.
class WFile : public WFileIO {
public:
    WFile();
    // Opens an existing file (or archive member) for reading.
    explicit WFile(const char* path);
    ~WFile() override;

    WFile(const WFile&) = delete;
    WFile& operator=(const WFile&) = delete;

    // Opens an existing regular file, for reading and writing when write is
    // true. A path "$<repository>:<filename>" opens an archive member instead.
    void open(const char* path, bool write);
    // Creates (or empties) a file; with append the old content stays and every
    // write goes to the end of the file.
    void create(const char* path, bool append);
    // Creates a file that must not exist yet (a link at path counts as
    // existing and is never followed); "Cannot create file: %s" otherwise,
    // with EEXIST as the system error when the name is taken.
    void createNew(const char* path);
    // Creates a new file next to target, named after it with ".tmp" and six
    // random letters (getFilename() tells the name), as createNew does: a
    // file or link already there is never opened, so nothing planted or
    // left behind can be overwritten.
    void createTemporary(const char* target);
    void close();
    bool isOpen() const { return opened; }
    // Forces written data to the device.
    void flush();

    WFileHandle getFileHandle() const;
    // A binary C stream over the handle, made on first use.
    FILE* getFileStream();
    explicit operator WFileHandle() const { return getFileHandle(); }
    explicit operator FILE*() { return getFileStream(); }

    void getFileInfo(WFileInfo& info) const;

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
    void setPosMode(PosMode mode) override;
    void setPos(int position) override;
    void skip(int distance) override;
    unsigned long getPos() const override;
    unsigned long getSize() const override;
    unsigned long getEOFBytes() const override;
    const WString& getFilename() const override;

private:
    friend class WRepositoryFile;

    // Opens path as a plain file; a leading '$' has no meaning here.
    void openPlain(const char* path, bool write);
    // Takes over an open descriptor for path.
    void adopt(int fd, const char* path);
    // Moves to an absolute position; throws "Cannot set file pointer.".
    void seekTo(unsigned long long position);
    unsigned long long seek(long long offset, int whence) const;
    // Reads up to length bytes, fewer only at the end of the file.
    unsigned long readSome(void* buffer, unsigned long length);
    void writeAll(const void* data, unsigned long length);
    void forgetHandle();

    bool opened;
    WFileHandle handle;
    WString fileName;
    PosMode posMode;
    unsigned long long markPos;
    unsigned long eofBytes;
    FILE* stream;
    WRepositoryFile* member;
};
