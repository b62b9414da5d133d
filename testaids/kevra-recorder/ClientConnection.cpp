#include "ClientConnection.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "testkit/RecorderMessages.h"

namespace kevra {

void ClientConnection::queue(std::vector<uint8_t> bytes)
{
    if (dead || stalled || closeWhenSent || bytes.empty())
        return;
    // Replies pile up only when the client sends requests and never reads: give up on it.
    if (role != Role::Media &&
        queued + int64_t(bytes.size()) > options_.queueLimit + options_.faultBigList + 65536) {
        close_("client does not read its replies");
        return;
    }
    if (stallAfter >= 0 && sent + int64_t(bytes.size()) > stallAfter) {
        size_t keep =
            bytes.size() > RecorderMessages::kHeaderSize
                ? RecorderMessages::kHeaderSize + (bytes.size() - RecorderMessages::kHeaderSize) / 2
                : bytes.size() / 2;
        bytes.resize(keep);
        stalled = true;
        log_.begin("fault")
            .field("conn", id)
            .field("kind", std::string("stall"))
            .field("after", sent + int64_t(keep))
            .end();
    }
    if (byteLimit >= 0 && sent + int64_t(bytes.size()) >= byteLimit) {
        bytes.resize(size_t(std::max<int64_t>(0, byteLimit - sent)));
        closeWhenSent = true;
        log_.begin("fault")
            .field("conn", id)
            .field("kind", std::string("close-after-bytes"))
            .field("bytes", byteLimit)
            .end();
    }
    sent += int64_t(bytes.size());
    queued += int64_t(bytes.size());
    if (!bytes.empty())
        out.push_back(std::move(bytes));
    if (closeWhenSent && queued == 0)
        close_("fault: byte limit");
}

void ClientConnection::queueGarbage()
{
    while (garbageLeft > 0 && queued < options_.queueLimit / 2 && !dead && !stalled &&
           !closeWhenSent) {
        size_t n = size_t(std::min<int64_t>(garbageLeft, 65536));
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; i += 4) {
            uint32_t v = random_();
            std::memcpy(bytes.data() + i, &v, std::min<size_t>(4, n - i));
        }
        garbageLeft -= int64_t(n);
        queue(std::move(bytes));
    }
}

void ClientConnection::writeOut()
{
    while (!out.empty() && !dead) {
        std::vector<uint8_t>& front = out.front();
        ssize_t n = ::send(fd, front.data() + outOffset, front.size() - outOffset,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            close_("send failed");
            return;
        }
        outOffset += size_t(n);
        queued -= n;
        if (outOffset == front.size()) {
            out.pop_front();
            outOffset = 0;
        }
        if (out.empty() && garbageLeft > 0)
            queueGarbage();
    }
    if (out.empty() && closeWhenSent && !dead)
        close_("fault: byte limit");
}

}   // namespace kevra
