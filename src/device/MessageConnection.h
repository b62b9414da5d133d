// One connection to the recorder that turns its byte stream into messages: reads the 32-byte
// header, hands it to onHeader, then hands the payload on in buffer-sized pieces to onPayload.
// Owns its TcpLink and receive buffer. Only the network worker thread touches it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/Messages.h"
#include "device/TcpLink.h"

namespace kevra {

class MessageConnection {
public:
    static constexpr uint32_t kMaxBuffer = 1048576;   // largest buffer a payload may grow it to
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kIdle = 8;   // poll: nothing more to do now
    static constexpr int kNotConnected = 0x2004;
    static constexpr int kClosed = 0x2005;   // poll: the link broke (see TcpLink::broken)
    static constexpr int kNoBuffer = 0x11;
    static constexpr int kSendBadArgs = 7;
    static constexpr int kSendFailed = 5;

    explicit MessageConnection(int identity);
    virtual ~MessageConnection();
    MessageConnection(const MessageConnection&) = delete;
    MessageConnection& operator=(const MessageConnection&) = delete;

    // 0, or the link's failure result (-1, -2, 0x2002). Calls close() first.
    virtual int connect(const char* host, int port);
    virtual void close();
    virtual void onHeader(const ReplyHeader& header) {}
    virtual void onPayload(int command, const uint8_t* bytes, int length) {}

    // One step of the framing receiver: at most one receive. 8, 0x2004, 0x2005 or 0x11.
    // 0x2005 comes back on every poll until the connection is closed or connected again.
    int poll();
    // 0 when every byte went out; 7 bad arguments, 0x2004 not connected, 5 send error.
    int sendAll(const uint8_t* bytes, int length);
    // Replaces the receive buffer (bytes already held of a payload are handed on first).
    // 0, or 1 when no buffer could be obtained.
    int setBuffer(int size, bool mayGrow);

    int identity() const { return identity_; }
    TcpLink& link() { return link_; }
    const TcpLink& link() const { return link_; }
    size_t bufferCapacity() const { return capacity_; }
    // Bytes received on this connection so far (the worker's "did anything arrive" test).
    uint64_t bytesReceived() const { return received_; }
    bool mayGrow() const { return grow_; }

private:
    bool allocate(size_t capacity);

    int32_t identity_;
    TcpLink link_;
    int32_t currentCommand_ = -1;
    // Announced lengths are unsigned 32-bit; the remaining count stays unsigned so a huge
    // announcement can never turn it negative.
    uint32_t payloadRemaining_ = 0;
    uint32_t bytesHeld_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    bool grow_ = true;
    uint64_t received_ = 0;
};

}   // namespace kevra
