#include "device/MessageConnection.h"

#include <chrono>
#include <cstring>
#include <new>
#include <optional>

namespace kevra {

MessageConnection::MessageConnection(int identity) : identity_(identity)
{
}

MessageConnection::~MessageConnection()
{
    link_.close();
}

bool MessageConnection::allocate(size_t capacity)
{
    buffer_.reset(new (std::nothrow) uint8_t[capacity]);
    capacity_ = buffer_ ? capacity : 0;
    return buffer_ != nullptr;
}

int MessageConnection::connect(const char* host, int port)
{
    close();
    currentCommand_ = -1;
    payloadRemaining_ = 0;
    bytesHeld_ = 0;
    const int r = link_.connect(host, port, kConnectTimeoutMs);
    if (!link_.isConnected())
        return r;
    if (!buffer_)
        setBuffer(32, true);
    return 0;
}

void MessageConnection::close()
{
    link_.close();
}

int MessageConnection::sendAll(const uint8_t* bytes, int length)
{
    if (!bytes || length <= 0)
        return kSendBadArgs;
    if (!link_.isConnected())
        return kNotConnected;
    // The send buffer is tiny (128 bytes asked for), so a burst of requests can find it full:
    // wait for room rather than report a failure, but never longer than the connect limit.
    using Steady = std::chrono::steady_clock;
    std::optional<Steady::time_point> deadline;
    int sent = 0;
    while (sent < length) {
        const int n = link_.send(bytes + sent, length - sent);
        if (n < 0)
            return kSendFailed;
        if (n == 0) {
            const Steady::time_point now = Steady::now();
            if (!deadline)
                deadline = now + std::chrono::milliseconds(kConnectTimeoutMs);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now).count();
            if (left <= 0)
                return kSendFailed;
            link_.waitWritable(static_cast<int>(left < 100 ? left : 100));
            continue;
        }
        sent += n;
    }
    return 0;
}

int MessageConnection::poll()
{
    if (!link_.isConnected())
        return kNotConnected;
    if (link_.broken())
        return kClosed;
    if (!buffer_)
        return kNoBuffer;

    if (payloadRemaining_ == 0) {
        // Header phase: the buffer always holds at least 32 bytes.
        const int n = link_.receive(buffer_.get() + bytesHeld_,
                                    static_cast<int>(MessageHeader::kSize - bytesHeld_));
        bytesHeld_ += static_cast<uint32_t>(n);
        if (n > 0)
            received_ += static_cast<uint64_t>(n);
        if (link_.broken())
            return kClosed;
        if (bytesHeld_ == MessageHeader::kSize) {
            ReplyHeader header;
            parseReplyHeader(buffer_.get(), header);
            onHeader(header);
            currentCommand_ = header.command;
            payloadRemaining_ = header.payloadLength;
            bytesHeld_ = 0;
            if (capacity_ < header.payloadLength && grow_) {
                uint64_t want = uint64_t(header.payloadLength) + header.payloadLength % 4 + 1024;
                if (want > kMaxBuffer)
                    want = kMaxBuffer;
                buffer_.reset();
                size_t capacity = static_cast<size_t>(want);
                while (!allocate(capacity) && capacity > 0)
                    capacity /= 2;
                // A buffer smaller than a header would break the next header read.
                if (buffer_ && capacity_ < MessageHeader::kSize) {
                    buffer_.reset();
                    capacity_ = 0;
                }
            }
        }
        return kIdle;
    }

    // Payload phase: hand on pieces of at most the buffer's capacity.
    const uint32_t piece =
        capacity_ < payloadRemaining_ ? static_cast<uint32_t>(capacity_) : payloadRemaining_;
    if (piece > bytesHeld_) {
        const int n =
            link_.receive(buffer_.get() + bytesHeld_, static_cast<int>(piece - bytesHeld_));
        bytesHeld_ += static_cast<uint32_t>(n);
        if (n > 0)
            received_ += static_cast<uint64_t>(n);
        if (link_.broken())
            return kClosed;
    }
    if (bytesHeld_ == piece) {
        bytesHeld_ = 0;
        payloadRemaining_ -= piece;
        onPayload(currentCommand_, buffer_.get(), static_cast<int>(piece));
    }
    return kIdle;
}

int MessageConnection::setBuffer(int size, bool mayGrow)
{
    grow_ = mayGrow;
    if (payloadRemaining_ > 0 && bytesHeld_ > 0 && buffer_) {
        const uint32_t held = bytesHeld_;
        payloadRemaining_ -= held;
        bytesHeld_ = 0;
        onPayload(currentCommand_, buffer_.get(), static_cast<int>(held));
    }
    // Part of a header may already be held: it moves into the new buffer, so the message
    // framing survives a buffer change at any byte.
    uint8_t header[MessageHeader::kSize];
    const uint32_t headerHeld = payloadRemaining_ == 0 && buffer_ ? bytesHeld_ : 0;
    if (headerHeld > 0)
        std::memcpy(header, buffer_.get(), headerHeld);
    buffer_.reset();
    capacity_ = 0;
    size_t capacity = size > 32 ? static_cast<size_t>(size) : 32;
    if (capacity > kMaxBuffer)
        capacity = kMaxBuffer;
    capacity += capacity % 4;
    if (!allocate(capacity) && !allocate(32)) {
        bytesHeld_ = 0;
        return 1;
    }
    if (headerHeld > 0)
        std::memcpy(buffer_.get(), header, headerHeld);
    return 0;
}

}   // namespace kevra
