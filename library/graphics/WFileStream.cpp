#include "WFileStream.h"

#include <cstring>

#include "WException.h"
#include "WSystem.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {
bool sameIid(const IID& a, const IID& b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3
        && std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}
} // namespace

HRESULT WFileStream::QueryInterface(const IID& iid, void** out)
{
    if (out == nullptr) return E_NOINTERFACE;
    if (sameIid(iid, IID_IUnknown) || sameIid(iid, IID_IStream)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

unsigned long WFileStream::AddRef()
{
    return static_cast<unsigned long>(++refCount);
}

// The count never goes down: the creator owns the stream. Only a stream whose
// creator left the count at 0 is freed here.
unsigned long WFileStream::Release()
{
    if (refCount == 0) {
        delete this;
        return 0;
    }
    return static_cast<unsigned long>(refCount);
}

HRESULT WFileStream::Read(void* buffer, unsigned long count, unsigned long* done)
{
    try {
        file.read(buffer, count);
        if (done) *done = count;
        return S_OK;
    } catch (const WEOFException&) {
        if (done) *done = file.getEOFBytes();
        return S_OK;
    } catch (const WException&) {
        if (done) *done = 0;
        return S_FALSE;
    }
}

HRESULT WFileStream::Write(const void* buffer, unsigned long count, unsigned long* done)
{
    try {
        file.write(buffer, count);
        if (done) *done = count;
        return S_OK;
    } catch (const WException&) {
        if (done) *done = 0;
        return S_FALSE;
    }
}

HRESULT WFileStream::Seek(int64_t move, uint32_t origin, uint64_t* newPosition)
{
    try {
        switch (origin) {
        case 0:
            file.setPosMode(WFileIO::POS_BEGIN);
            break;
        case 1:
            file.setPosMode(WFileIO::POS_CURRENT);
            break;
        case 2:
            file.setPosMode(WFileIO::POS_END);
            break;
        default:
            break;
        }
        file.setPos(static_cast<int>(static_cast<int32_t>(move & 0xFFFFFFFF)));
        if (newPosition) *newPosition = file.getPos();
        return S_OK;
    } catch (const WException&) {
        return S_FALSE;
    }
}

HRESULT WFileStream::Stat(STATSTG* record, uint32_t flag)
{
    if (record == nullptr) return S_FALSE;
    try {
        if (flag == STATFLAG_DEFAULT) {
            const WString& name = file.getFilename();
            // At most 260 characters, as the platform's name buffer holds.
            record->name.assign(name.getBuf(), name.length() > 260 ? 260 : name.length());
        }
        record->type = STGTY_STREAM;
        record->cbSize = file.getSize();
        WFileInfo info;
        file.getFileInfo(info);
        unsigned long long t = info.getTimeCreation();
        WSystem::cTime2WindowsTime(t, record->ctime);
        t = info.getTimeLastAccess();
        WSystem::cTime2WindowsTime(t, record->atime);
        t = info.getTimeLastModified();
        WSystem::cTime2WindowsTime(t, record->mtime);
        record->grfMode = 0x80000000u;
        record->grfLocksSupported = 1;
        record->clsid = GUID {};
        record->grfStateBits = 0;
        record->reserved = 0;
        return S_OK;
    } catch (const WException&) {
        return S_FALSE;
    }
}
