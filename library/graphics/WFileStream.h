#pragma once
// A library file presented as the byte-stream interface the image codecs
// read from and write to. Results are HRESULT-like: S_OK, S_FALSE or
// E_NOINTERFACE; no library exception leaves a stream operation.

#include <cstdint>

#include "WFile.h"
#include "WString.h"
#include "WSystemTypes.h"

using HRESULT = long;
using IID = GUID;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002L);
constexpr uint32_t STGTY_STREAM = 2;
constexpr uint32_t STATFLAG_DEFAULT = 0;
constexpr uint32_t STATFLAG_NONAME = 1;

// Interface identifiers with the platform's published values.
extern const IID IID_IUnknown;
extern const IID IID_ISequentialStream;
extern const IID IID_IStream;

// Facts about a stream. The record owns its name: Stat fills it only when the
// name is asked for and leaves it untouched otherwise.
struct STATSTG {
    WString name;
    uint32_t type = 0;
    uint64_t cbSize = 0;
    FILETIME mtime {};
    FILETIME ctime {};
    FILETIME atime {};
    uint32_t grfMode = 0;
    uint32_t grfLocksSupported = 0;
    GUID clsid {};
    uint32_t grfStateBits = 0;
    uint32_t reserved = 0;
};

class IStream {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;
    virtual HRESULT Read(void* buffer, unsigned long count, unsigned long* done) = 0;
    virtual HRESULT Write(const void* buffer, unsigned long count, unsigned long* done) = 0;
    virtual HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(uint64_t size) = 0;
    virtual HRESULT CopyTo(IStream* target, uint64_t count, uint64_t* read, uint64_t* written) = 0;
    virtual HRESULT Commit(uint32_t flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(uint64_t offset, uint64_t count, uint32_t type) = 0;
    virtual HRESULT UnlockRegion(uint64_t offset, uint64_t count, uint32_t type) = 0;
    virtual HRESULT Stat(STATSTG* record, uint32_t flag) = 0;
    virtual HRESULT Clone(IStream** out) = 0;

protected:
    ~IStream() = default;
};

// The creator sets the count (usually 1), opens or creates the file and
// destroys the stream itself; Release never lowers the count.
class WFileStream : public IStream {
public:
    WFileStream() = default;
    virtual ~WFileStream() = default;
    WFileStream(const WFileStream&) = delete;
    WFileStream& operator=(const WFileStream&) = delete;

    WFile& getFile() { return file; }
    void setRefCount(int count) { refCount = count; }

    HRESULT QueryInterface(const IID& iid, void** out) override;
    unsigned long AddRef() override;
    unsigned long Release() override;
    HRESULT Read(void* buffer, unsigned long count, unsigned long* done) override;
    HRESULT Write(const void* buffer, unsigned long count, unsigned long* done) override;
    HRESULT Seek(int64_t move, uint32_t origin, uint64_t* newPosition) override;
    HRESULT SetSize(uint64_t) override { return S_FALSE; }
    HRESULT CopyTo(IStream*, uint64_t, uint64_t*, uint64_t*) override { return S_FALSE; }
    HRESULT Commit(uint32_t) override { return S_FALSE; }
    HRESULT Revert() override { return S_FALSE; }
    HRESULT LockRegion(uint64_t, uint64_t, uint32_t) override { return S_FALSE; }
    HRESULT UnlockRegion(uint64_t, uint64_t, uint32_t) override { return S_FALSE; }
    HRESULT Stat(STATSTG* record, uint32_t flag) override;
    HRESULT Clone(IStream**) override { return S_FALSE; }

private:
    WFile file;
    int refCount = 0;
};
