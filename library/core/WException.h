#pragma once

#include "WString.h"

// Base of every library error: an id chosen by the thrower, the class name,
// a message and the system error code (errno) current when it was built.
// Thrown by value, caught by reference.
class WException {
public:
    WException();
    WException(const char* message);
    WException(const char* message, int id);
    WException(const WException& cause, const char* message, int id);
    WException(const WException& other);
    WException& operator=(const WException& other);
    virtual ~WException();

    int getId() const { return id; }
    const char* getName() const { return name; }
    const WString& getMessage() const { return message; }
    unsigned long getSysErrCode() const { return sysErrCode; }

    // "<name>: <message> (id=<id>, syserr=<code as 8 hex digits>h)", at most 1024 characters.
    virtual const WString& toString() const;
    // The system's description of the error code; empty for an unknown code.
    const WString& getUserMessage() const;

protected:
    void set(const char* name, const char* message, int id, unsigned long sysErrCode);
    void set(const char* name, const WException& cause, const char* message, int id);

    int id;
    const char* name;
    WString message;
    unsigned long sysErrCode;
    mutable WFormattedString text;
};

// The per-module families. None derives from another, so a handler for one
// family never catches another's errors.
#define W_DECLARE_EXCEPTION(Class)                                                                                     \
    class Class : public WException {                                                                                  \
    public:                                                                                                            \
        Class(const char* message);                                                                                    \
        Class(const char* message, int id);                                                                            \
        Class(const Class& other) : WException(other) { }                                                              \
        Class& operator=(const Class& other)                                                                           \
        {                                                                                                              \
            WException::operator=(other);                                                                              \
            return *this;                                                                                              \
        }                                                                                                              \
    };

W_DECLARE_EXCEPTION(WMemoryException)
W_DECLARE_EXCEPTION(WSystemException)
W_DECLARE_EXCEPTION(WFileException)
W_DECLARE_EXCEPTION(WEOFException)
W_DECLARE_EXCEPTION(WFileNotFoundException)
W_DECLARE_EXCEPTION(WRepositoryFileException)
W_DECLARE_EXCEPTION(WThreadException)
W_DECLARE_EXCEPTION(WSocketException)
W_DECLARE_EXCEPTION(WUnknownHostException)
W_DECLARE_EXCEPTION(WDateException)
W_DECLARE_EXCEPTION(WFontException)
W_DECLARE_EXCEPTION(WImageListException)
W_DECLARE_EXCEPTION(WControlException)
W_DECLARE_EXCEPTION(WDialogException)
W_DECLARE_EXCEPTION(WMenuException)
W_DECLARE_EXCEPTION(W2DGraphicsWindowException)
W_DECLARE_EXCEPTION(WBitmapException)
W_DECLARE_EXCEPTION(WPaletteException)
W_DECLARE_EXCEPTION(WMP3FileException)
W_DECLARE_EXCEPTION(WavFileException)
W_DECLARE_EXCEPTION(WSQLException)

// DirectX result codes travel as the system error code.
class WDirectXException : public WException {
public:
    WDirectXException(const char* message);
    WDirectXException(const char* message, long result);
    WDirectXException(const WDirectXException& other) : WException(other) { }
    WDirectXException& operator=(const WDirectXException& other)
    {
        WException::operator=(other);
        return *this;
    }
};
