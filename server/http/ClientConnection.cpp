#include "ClientConnection.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "OutputQueue.h"
#include "RequestBody.h"
#include "WException.h"

namespace {

[[noreturn]] void fail(int err, int id, const char* message)
{
    errno = err;
    throw WSocketException(message, id);
}

} // namespace

int64_t ClientConnection::monotonicMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

ClientConnection::~ClientConnection()
{
    detach();
}

void ClientConnection::attach(OutputQueue& queue, const RequestBody* requestBody, Server who, OutputListener* told)
{
    detach();
    queue.setListener(told, who == Server::Worker ? OutputQueue::Writer::Worker : OutputQueue::Writer::Loop);
    output = &queue;
    body = requestBody;
    bodyOffset = 0;
    server = who;
    listener = told;
}

void ClientConnection::detach()
{
    output = nullptr;
    body = nullptr;
    listener = nullptr;
}

void ClientConnection::connect()
{
    fail(EISCONN, -2, "Cannot connect.");
}

void ClientConnection::close()
{
    detach();
}

int ClientConnection::read(void* buffer, unsigned long length, bool peek)
{
    if (length == 0 || body == nullptr) return 0;
    long n = body->read(bodyOffset, buffer, length);
    if (n < 0) fail(errno, -6, "Connection was closed.");
    if (!peek) bodyOffset += (uint64_t)n;
    return (int)n;
}

bool ClientConnection::readln(WString& line)
{
    line.clear();
    char c;
    while (read(&c, 1, false) == 1) {
        if (c == '\n') return true;
        if (c != '\r') line.append((int)(unsigned char)c);
    }
    return line.length() > 0;
}

uint64_t ClientConnection::pendingBytes() const
{
    return body != nullptr ? body->size() - bodyOffset : 0;
}

void ClientConnection::queued(bool tell)
{
    if (tell && server == Server::Worker && listener != nullptr) listener->outputReady();
}

void ClientConnection::write(const char* text)
{
    write(text, (unsigned long)strlen(text));
}

void ClientConnection::write(const WString& text)
{
    write(text.getBuf(), text.length());
}

void ClientConnection::writeln(const char* text)
{
    write(text, strlen(text), "\n", 1);
}

void ClientConnection::writeln(const WString& text)
{
    writeln(text.getBuf());
}

void ClientConnection::write(const void* data, unsigned long length)
{
    write(data, length, nullptr, 0);
}

void ClientConnection::write(const void* first, size_t firstLength, const void* second, size_t secondLength)
{
    if (output == nullptr) fail(EBADF, -3, "Cannot write into socket.");
    queued(output->append(first, firstLength, second, secondLength));
}

void ClientConnection::queueFile(int fileFd, uint64_t offset, uint64_t count, const char* path)
{
    if (output == nullptr) {
        ::close(fileFd);
        fail(EBADF, -3, "Cannot write into socket.");
    }
    queued(output->appendFile(fileFd, offset, count, path));
}

void ClientConnection::abortOnClose(int socket)
{
    struct linger hard = {1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}
