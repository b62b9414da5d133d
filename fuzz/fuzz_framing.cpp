// Fuzzes the framing receiver of MessageConnection over a real loopback connection: the input is
// written by the peer in pieces whose sizes the input chooses, and the connection is polled until
// every byte was taken. Checks that the receive buffer never grows past its 1 MiB cap, that no
// piece handed on is longer than the buffer or than the bytes sent, and reads every piece whole.
//
// Input layout: byte 0 = flags (bits 0-2: number of piece sizes - 1, bit 3: growing allowed,
// bit 4: setBuffer again after every piece), bytes 1-2 = buffer size (mod 20000), then that many
// 16-bit piece sizes (0 = the rest), then the bytes the recorder sends.
#include "device/MessageConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

volatile uint8_t g_sink;

class Receiver : public kevra::MessageConnection {
public:
    Receiver() : MessageConnection(-1) {}
    void onHeader(const kevra::ReplyHeader& header) override
    {
        ++headers;
        announced = header.payloadLength;
    }
    void onPayload(int command, const uint8_t* bytes, int length) override
    {
        if (length <= 0 || static_cast<size_t>(length) > bufferCapacityAtCall())
            __builtin_trap();
        uint8_t acc = 0;
        for (int i = 0; i < length; ++i)
            acc ^= bytes[i];
        g_sink = acc;
        payloadBytes += static_cast<uint64_t>(length);
        (void)command;
    }
    // setBuffer hands the held bytes on from the old buffer before replacing it; the piece is
    // then bounded by the largest capacity the buffer ever had.
    size_t bufferCapacityAtCall() const
    {
        return maxCapacity > bufferCapacity() ? maxCapacity : bufferCapacity();
    }
    uint64_t headers = 0;
    uint64_t payloadBytes = 0;
    uint32_t announced = 0;
    size_t maxCapacity = 0;
};

int pending(int fd)
{
    int n = 0;
    ::ioctl(fd, FIONREAD, &n);
    return n;
}

}   // namespace

static int g_listenFd = -1;
static int g_port = 0;

static void setUp()
{
    if (g_listenFd >= 0)
        return;
    g_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (g_listenFd < 0 || ::bind(g_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(g_listenFd, 16) != 0)
        std::abort();
    socklen_t len = sizeof a;
    ::getsockname(g_listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    g_port = ntohs(a.sin_port);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    setUp();
    const uint8_t flags = data[0];
    const bool grow = flags & 8;
    const int bufferSize = (data[1] | (data[2] << 8)) % 20000;
    const int sizeCount = (flags & 7) + 1;
    size_t pos = 3;
    int sizes[8];
    for (int i = 0; i < sizeCount; ++i) {
        sizes[i] = pos + 1 < size ? (data[pos] | (data[pos + 1] << 8)) : 0;
        pos += 2;
    }
    if (pos > size)
        pos = size;

    Receiver conn;
    if (conn.connect("127.0.0.1", g_port) != 0)
        std::abort();
    const int peer = ::accept(g_listenFd, nullptr, nullptr);
    if (peer < 0)
        std::abort();
    ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) | O_NONBLOCK);
    conn.setBuffer(bufferSize, grow);
    conn.maxCapacity = conn.bufferCapacity();
    const int fd = conn.link().socketHandle();

    const uint64_t streamBytes = size - pos;
    int piece = 0;
    while (pos < size) {
        size_t n = sizes[piece % sizeCount];
        if (n == 0 || n > size - pos)
            n = size - pos;
        size_t written = 0;
        while (written < n) {
            const ssize_t w = ::send(peer, data + pos + written, n - written, MSG_NOSIGNAL);
            if (w > 0)
                written += static_cast<size_t>(w);
            else if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                std::abort();
            // Take what arrived so a full socket buffer cannot stall the writer.
            if (conn.poll() != kevra::MessageConnection::kIdle)
                break;
            if (conn.bufferCapacity() > conn.maxCapacity)
                conn.maxCapacity = conn.bufferCapacity();
        }
        pos += written;
        // Poll until the connection has taken every byte sent so far.
        for (int guard = 0; guard < 10000000 && pending(fd) > 0; ++guard) {
            if (conn.poll() != kevra::MessageConnection::kIdle)
                break;
            if (conn.bufferCapacity() > kevra::MessageConnection::kMaxBuffer)
                __builtin_trap();
            if (conn.bufferCapacity() > conn.maxCapacity)
                conn.maxCapacity = conn.bufferCapacity();
        }
        if (conn.bufferCapacity() > kevra::MessageConnection::kMaxBuffer)
            __builtin_trap();
        if (written < n)
            break;   // the receiver gave up (no buffer); nothing more can be taken
        if (flags & 16) {
            conn.setBuffer(bufferSize, grow);
            if (conn.bufferCapacity() > conn.maxCapacity)
                conn.maxCapacity = conn.bufferCapacity();
        }
        ++piece;
    }
    // Payload handed on can never exceed the bytes sent minus the headers read.
    if (conn.payloadBytes + conn.headers * kevra::MessageHeader::kSize > streamBytes)
        __builtin_trap();
    ::close(peer);
    conn.close();
    return 0;
}
