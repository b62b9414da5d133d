// A blocking loopback TCP client for the recorder tests: sends request bytes and reads
// messages or raw bytes with time-outs. Used by one test thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // receiveBuffer > 0 shrinks the socket's receive buffer before connecting (a slow reader).
    bool connect(int port, int receiveBuffer = 0);
    bool send(const std::vector<uint8_t>& bytes);
    // Reads exactly n bytes within timeoutMs. False on time-out or when the peer closed.
    bool read(size_t n, std::vector<uint8_t>& out, int timeoutMs);
    // Reads one message (32-byte header and its payload, payload limited to maxPayload).
    bool readMessage(std::vector<uint8_t>& header, std::vector<uint8_t>& payload, int timeoutMs,
                     uint32_t maxPayload = 16u << 20);
    // Waits for the peer to close (true), or for timeoutMs to pass with the link open (false).
    // Bytes that arrive meanwhile are counted in `drained`.
    bool waitClosed(int timeoutMs, size_t* drained = nullptr);
    // True when nothing arrives for quietMs (the link staying open).
    bool quietFor(int quietMs);
    void close();
    int fd() const { return fd_; }

    static uint32_t le32(const uint8_t* p)
    {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }

private:
    int fd_ = -1;
    bool closed_ = false;
};

}   // namespace kevra
