// One TCP/IPv4 socket to the recorder: resolve, connect within a time limit, send, receive
// without ever waiting, close. Owned by a MessageConnection; only the network worker uses it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kevra {

class TcpLink {
public:
    TcpLink();
    ~TcpLink();
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    static constexpr int kUnresolved = -2;
    static constexpr int kFailed = -1;
    static constexpr int kNoNonBlocking = 0x2002;

    // Socket handle (>= 0) on success; -2 when the host is neither a dotted IPv4 address nor a
    // resolvable name; -1 when refused or not connected within timeoutMs, or at once (with
    // EINVAL) for a port outside 1..65535; 0x2002 when the socket
    // cannot be made non-blocking. A connected link must be closed first.
    int connect(const char* host, int port, int timeoutMs);
    // The system error of this link's latest connect that returned -1 (ETIMEDOUT when the time
    // limit ran out), 0 after any other result.
    int connectError() const { return connectError_; }
    // Bytes accepted by one send call (0 when the send buffer is full for now), or negative
    // on error. Never raises SIGPIPE.
    int send(const uint8_t* bytes, int length);
    // Waits up to timeoutMs for room in the send buffer; true when there is room.
    bool waitWritable(int timeoutMs);
    // Bytes read by at most one read; 0 when nothing waits, on error and on an orderly close
    // (the last two also mark the link broken).
    int receive(uint8_t* buffer, int size);
    bool isConnected() const { return socket_ >= 0; }
    // The peer closed the connection, or a read or write failed: nothing more will arrive.
    // Stays set until close() or the next connect().
    bool broken() const { return broken_; }
    // Shuts down both directions, discards what is still readable, closes. No-op without socket.
    void close();

    // 0 = leave the platform's default; a value above 0 is applied at connect.
    void setReceiveBufferSize(int bytes) { receiveBufferSize_ = bytes; }
    int receiveBufferSize() const { return receiveBufferSize_; }
    void setSendBufferSize(int bytes) { sendBufferSize_ = bytes; }
    int socketHandle() const { return socket_; }

private:
    int32_t noDelay_ = 1;
    int socket_ = -1;
    bool broken_ = false;
    uint32_t address_ = 0;   // network order
    uint16_t port_ = 0;      // network order
    // A 1 KB receive buffer starves media connections paced at one read per 10 ms, so every
    // link keeps the platform's default unless told otherwise.
    int32_t receiveBufferSize_ = 0;
    int32_t sendBufferSize_ = 128;
    int pollWaitMs_ = 0;   // receive never waits
    int connectError_ = 0;
};

}   // namespace kevra
