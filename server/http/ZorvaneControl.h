#pragma once

class WException;

// The server's link to whichever front-end runs it. The server thread and the
// workers call the notifications from their own threads without a lock, so an
// implementation that shares state between them guards it itself.
//
// Log levels: -1 error (the front-ends append it to error.log), 0 always
// shown, 1 default, 2 per request, 3 raw protocol text.
class ZorvaneControl {
public:
    ZorvaneControl() = default;
    virtual ~ZorvaneControl() = default;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void restart() = 0;
    virtual void onStarted() = 0;
    virtual void onStopped() = 0;
    virtual void onException(const WException& e) = 0;
    virtual void log(const char* message, int level) = 0;
    // Whether log() would show a line of this level: the server formats the
    // lines of every request only when somebody will see them.
    virtual bool isLogShown(int level) const
    {
        (void)level;
        return true;
    }
    virtual void command(int code) = 0;
    virtual void onRequestFinished() = 0;

    ZorvaneControl(const ZorvaneControl&) = delete;
    ZorvaneControl& operator=(const ZorvaneControl&) = delete;
};
