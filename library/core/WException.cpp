#include "WException.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

WException::WException() : id(0), name("WException"), sysErrCode(0)
{
}

WException::WException(const char* msg) : id(0), name("WException"), message(msg), sysErrCode(0)
{
}

WException::WException(const char* msg, int i) : id(i), name("WException"), message(msg), sysErrCode(0)
{
}

WException::WException(const WException& cause, const char* msg, int i) : WException()
{
    set("WException", cause, msg, i);
}

WException::WException(const WException& other)
    : id(other.id), name(other.name), message(other.message.getBuf()), sysErrCode(0)
{
}

WException& WException::operator=(const WException& other)
{
    if (this != &other) {
        id = other.id;
        name = other.name;
        message = other.message;
        sysErrCode = other.sysErrCode;
        text = other.text;
    }
    return *this;
}

WException::~WException() = default;

void WException::set(const char* n, const char* msg, int i, unsigned long code)
{
    name = n;
    message = msg;
    id = i;
    sysErrCode = code;
}

void WException::set(const char* n, const WException& cause, const char* msg, int i)
{
    WString chained(cause.toString());
    chained.append("\r\n   ->");
    chained.append(msg);
    name = n;
    message = chained;
    id = i;
    sysErrCode = cause.sysErrCode;
}

const WString& WException::toString() const
{
    // getUserMessage() may have left an exact-fit buffer behind; the line
    // always gets its full 1024 characters.
    if (text.getBufLength() < 1025) text.resize(1024);
    text.format("%s: %s (id=%i, syserr=%.8lXh)", name, message.getBuf(), id, sysErrCode);
    return text;
}

const WString& WException::getUserMessage() const
{
    char buffer[1025];
    buffer[0] = 0;
    // GNU strerror_r: returns a pointer to the text (maybe not into buffer).
    const char* t = strerror_r((int)sysErrCode, buffer, sizeof buffer);
    if (!t || strncmp(t, "Unknown error", 13) == 0) {
        text.assign("");
        return text;
    }
    unsigned long n = strlen(t);
    text.assign(t, n > 1024 ? 1024 : n);
    return text;
}

// Subclasses capture errno before anything else can change it.
#define W_DEFINE_EXCEPTION(Class, capture)                                                                             \
    Class::Class(const char* msg) : WException()                                                                       \
    {                                                                                                                  \
        unsigned long code = (capture);                                                                                \
        set(#Class, msg, -1, code);                                                                                    \
    }                                                                                                                  \
    Class::Class(const char* msg, int i) : WException()                                                                \
    {                                                                                                                  \
        unsigned long code = (capture);                                                                                \
        set(#Class, msg, i, code);                                                                                     \
    }

#define ERRNO ((unsigned long)(unsigned)errno)
W_DEFINE_EXCEPTION(WMemoryException, ERRNO)
W_DEFINE_EXCEPTION(WSystemException, ERRNO)
W_DEFINE_EXCEPTION(WFileException, ERRNO)
W_DEFINE_EXCEPTION(WEOFException, ERRNO)
W_DEFINE_EXCEPTION(WFileNotFoundException, ERRNO)
W_DEFINE_EXCEPTION(WRepositoryFileException, 0)
W_DEFINE_EXCEPTION(WThreadException, ERRNO)
W_DEFINE_EXCEPTION(WSocketException, ERRNO)
W_DEFINE_EXCEPTION(WUnknownHostException, ERRNO)
W_DEFINE_EXCEPTION(WDateException, ERRNO)
W_DEFINE_EXCEPTION(WFontException, ERRNO)
W_DEFINE_EXCEPTION(WImageListException, ERRNO)
W_DEFINE_EXCEPTION(WControlException, ERRNO)
W_DEFINE_EXCEPTION(WDialogException, ERRNO)
W_DEFINE_EXCEPTION(WMenuException, ERRNO)
W_DEFINE_EXCEPTION(W2DGraphicsWindowException, ERRNO)
W_DEFINE_EXCEPTION(WBitmapException, 0)
W_DEFINE_EXCEPTION(WPaletteException, ERRNO)
W_DEFINE_EXCEPTION(WMP3FileException, 0)
W_DEFINE_EXCEPTION(WavFileException, ERRNO)

WSQLException::WSQLException(const char* msg) : WSQLException(msg, -1)
{
}

WSQLException::WSQLException(const char* msg, int i) : WException()
{
    set("WSQLException", msg, i, 0);
    message.replace('\n', ' ');
}

WDirectXException::WDirectXException(const char* msg) : WException()
{
    set("WDirectXException", msg, -1, 0);
}

WDirectXException::WDirectXException(const char* msg, long result) : WException()
{
    set("WDirectXException", msg, -1, (unsigned long)(unsigned)result);
}
