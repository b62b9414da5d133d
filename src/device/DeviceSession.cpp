#include "device/DeviceSession.h"

#include <chrono>
#include <thread>

#include "common/Clock.h"
#include "device/DeviceEvents.h"
#include "device/MediaSink.h"
#include "device/ResultCode.h"

namespace kevra {

namespace {

// Texts are kept in fixed-size fields: cut to the field size minus the terminator.
std::string truncated(const char* text, size_t field)
{
    if (!text)
        return {};
    std::string s(text);
    if (s.size() > field - 1)
        s.resize(field - 1);
    return s;
}

}   // namespace

DeviceSession::DeviceSession(DeviceEvents* owner, MediaSink* media)
    : MessageConnection(-1), owner_(owner), media_(media)
{
}

DeviceSession::~DeviceSession()
{
    disconnectAll();
}

void DeviceSession::close()
{
    disconnectAll();
}

void DeviceSession::disconnectAll()
{
    link().close();
    if (loginInfo_) {
        for (auto& channel : channels_) {
            if (channel)
                channel->close();
            channel.reset();
        }
    }
    channels_.clear();
    loginInfo_.reset();
}

void DeviceSession::endStreams()
{
    for (auto& ch : channels_) {
        if (ch && ch->streaming()) {
            ch->setStreaming(false);
            if (media_)
                media_->onStreamStopped(ch->index());
        }
    }
}

void DeviceSession::connectionLost()
{
    endStreams();
    disconnectAll();
    awaitedReply_ = -1;
    loggedIn_ = false;
    if (owner_)
        owner_->onConnectionLost();
}

void DeviceSession::login(const char* host, int port, const char* user, const char* password,
                          int timeoutMs)
{
    if (loggedIn_) {
        endStreams();
        disconnectAll();
        awaitedReply_ = -1;
        loggedIn_ = false;
    }
    const int r = connect(host, port);
    if (r != 0) {
        if (owner_)
            owner_->onLogin(r == TcpLink::kUnresolved ? result_code::HOST_UNRESOLVED
                                                      : result_code::CONNECT_FAILED,
                            0, link().connectError());
        return;
    }
    const std::vector<uint8_t> request = buildLogin(user, password);
    if (sendAll(request.data(), static_cast<int>(request.size())) != 0) {
        if (owner_)
            owner_->onLogin(result_code::LOGIN_NOT_SENT, 0, 0);
        return;
    }
    user_ = truncated(user, 128);
    password_ = truncated(password, 64);
    host_ = truncated(host, 128);
    port_ = port;
    setBuffer(kLoginBuffer, true);
    if (waitReply(cmd::LOGIN_REPLY, timeoutMs) != 0) {
        disconnectAll();
        awaitedReply_ = -1;
        loggedIn_ = false;
        if (owner_)
            owner_->onLogin(result_code::LOGIN_TIMEOUT, 0, 0);
    }
}

void DeviceSession::logout()
{
    endStreams();
    disconnectAll();
    awaitedReply_ = -1;
    loggedIn_ = false;
}

int DeviceSession::waitReply(int command, int timeoutMs)
{
    awaitedReply_ = command;
    const uint64_t start = Clock::nowMs();
    while (awaitedReply_ != -1) {
        if (Clock::nowMs() - start >= static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs) ||
            (keepRunning_ && !keepRunning_->load()))
            break;
        const int r = poll();
        // A link that ended will never bring the reply: give up now, not at the time limit.
        if (r == 1 || !link().isConnected()) {
            awaitedReply_ = -1;
            return 3;
        }
        if (r != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return awaitedReply_ == -1 ? 0 : 3;
}

void DeviceSession::queryList()
{
    if (!loggedIn()) {
        if (owner_)
            owner_->onList(result_code::NOT_LOGGED_IN, nullptr, 0, 0);
        return;
    }
    const std::vector<uint8_t> request = buildListQuery();
    if (sendAll(request.data(), static_cast<int>(request.size())) != 0) {
        if (owner_)
            owner_->onList(result_code::SEND_FAILED, nullptr, 0, 0);
        return;
    }
    if (waitReply(cmd::LIST_REPLY, kListWaitMs) != 0) {
        awaitedReply_ = -1;
        if (owner_)
            owner_->onList(result_code::LIST_TIMEOUT, nullptr, 0, 0);
    }
}

void DeviceSession::sendPtz(int channelIndex, int code, int parameter)
{
    if (!loggedIn() || channelIndex < 0 || channelIndex >= channelCount())
        return;
    MediaChannel* ch = channel(channelIndex);
    if (!ch || !ch->link().isConnected())
        return;
    const std::vector<uint8_t> request = buildPtzControl(channelIndex, code, parameter);
    sendAll(request.data(), static_cast<int>(request.size()));
}

void DeviceSession::channelClosed(MediaChannel& channel)
{
    const bool wasStreaming = channel.streaming();
    channel.close();
    channel.setStreaming(false);
    if (wasStreaming && media_)
        media_->onStreamStopped(channel.index());
    if (owner_)
        owner_->onChannelClosed(channel.index());
}

uint64_t DeviceSession::bytesReceivedAll() const
{
    uint64_t total = bytesReceived();
    for (const auto& ch : channels_)
        if (ch)
            total += ch->bytesReceived();
    return total;
}

int DeviceSession::poll()
{
    int r = MessageConnection::poll();
    if (r == kClosed) {
        if (loggedIn()) {
            connectionLost();
            return 1;
        }
        // Before a login (or after a refused one) there is nothing to lose: just let it go.
        link().close();
        return r;
    }
    if (!loggedIn())
        return r;
    const uint64_t now = Clock::nowMs();
    if (now - lastHeard_ > kSilenceMs) {
        connectionLost();
        return 1;
    }
    if (now - lastKeepaliveSent_ > kKeepaliveMs) {
        const std::vector<uint8_t> request = buildKeepalive();
        if (sendAll(request.data(), static_cast<int>(request.size())) != 0) {
            connectionLost();
            return 1;
        }
        lastKeepaliveSent_ = now;
        r = 0;
    }
    for (auto& ch : channels_) {
        if (!ch)
            continue;
        const int channelResult = ch->poll();
        if (channelResult == kClosed)
            channelClosed(*ch);
        if (channelResult != 0)
            r = 0;
    }
    return r;
}

void DeviceSession::onHeader(const ReplyHeader& header)
{
    switch (header.command) {
    case cmd::LOGIN_REPLY:
        if (awaitedReply_ != cmd::LOGIN_REPLY)
            return;
        awaitedReply_ = -1;
        if (header.status != result_code::OK || !header.loginInfo) {
            if (owner_)
                owner_->onLogin(
                    header.status != result_code::OK ? header.status : result_code::REFUSED, 0, 0);
            return;
        }
        lastHeard_ = lastKeepaliveSent_ = Clock::nowMs();
        loginInfo_ = header.loginInfo;
        // A negative count from the recorder means no channels, never a negative table.
        if (loginInfo_->channelCount < 0)
            loginInfo_->channelCount = 0;
        channels_.clear();
        channels_.resize(static_cast<size_t>(loginInfo_->channelCount));
        loggedIn_ = true;
        if (owner_)
            owner_->onLogin(result_code::OK, loginInfo_->channelCount, 0);
        return;
    case cmd::KEEPALIVE_REPLY: lastHeard_ = Clock::nowMs(); return;
    case cmd::LIST_REPLY: announcedListLength_ = header.payloadLength; return;
    default: return;
    }
}

void DeviceSession::onPayload(int command, const uint8_t* bytes, int length)
{
    if (command != cmd::LIST_REPLY || awaitedReply_ != cmd::LIST_REPLY)
        return;
    awaitedReply_ = -1;
    if (!owner_)
        return;
    if (length < 0 || static_cast<uint32_t>(length) != announcedListLength_) {
        owner_->onList(result_code::LIST_IN_PIECES, nullptr, 0, 0);
        return;
    }
    std::vector<uint8_t> block;
    const int count = splitNameList(bytes, length, block);
    if (block.empty())
        owner_->onList(result_code::REFUSED, nullptr, 0, 0);
    else
        owner_->onList(result_code::OK, block.data(), length, count);
}

const MediaChannel* DeviceSession::channel(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= channels_.size())
        return nullptr;
    return channels_[static_cast<size_t>(index)].get();
}

MediaChannel* DeviceSession::channel(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= channels_.size())
        return nullptr;
    return channels_[static_cast<size_t>(index)].get();
}

void DeviceSession::openChannel(int index, int stream)
{
    if (!loggedIn()) {
        if (owner_)
            owner_->onChannel(index, result_code::NOT_LOGGED_IN);
        return;
    }
    if (index < 0 || index >= channelCount()) {
        if (owner_)
            owner_->onChannel(index, result_code::NO_SUCH_CHANNEL);
        return;
    }
    auto& slot = channels_[static_cast<size_t>(index)];
    if (!slot)
        slot = std::make_unique<MediaChannel>(*this, index);
    MediaChannel& ch = *slot;
    if (!ch.link().isConnected()) {
        bool claimed = ch.connect(host_.c_str(), port_) == 0;
        if (claimed) {
            const std::vector<uint8_t> claim =
                buildChannelClaim(index, loginInfo_->sessionId.data(), 4);
            claimed = ch.sendAll(claim.data(), static_cast<int>(claim.size())) == 0;
        }
        if (!claimed) {
            // A connection that took no claim is of no use: it goes now, not with a later poll.
            ch.close();
            if (owner_)
                owner_->onChannel(index, result_code::CHANNEL_FAILED);
            return;
        }
    }
    if (ch.streaming() && ch.link().isConnected())
        stopChannel(index);
    const std::vector<uint8_t> start = buildStreamControl(index, stream, 1);
    if (sendAll(start.data(), static_cast<int>(start.size())) != 0) {
        if (owner_)
            owner_->onChannel(index, result_code::SEND_FAILED);
        return;
    }
    // Bytes still held from the stopped stream are handed on (and dropped) before the new
    // stream is marked running.
    ch.setBuffer(MediaChannel::kStreamingBuffer, true);
    ch.setStreaming(true);
    ch.setStreamNumber(stream);
    if (media_)
        media_->onStreamStarted(index);
    if (owner_)
        owner_->onChannel(index, result_code::OK);
}

void DeviceSession::stopChannel(int index)
{
    if (!loggedIn() || index < 0 || index >= channelCount())
        return;
    MediaChannel* ch = channel(index);
    if (!ch)
        return;
    ch->setStreaming(false);
    ch->setBuffer(32, false);
    if (ch->link().isConnected()) {
        const std::vector<uint8_t> stop = buildStreamControl(index, ch->streamNumber(), 0);
        sendAll(stop.data(), static_cast<int>(stop.size()));
    }
}

void DeviceSession::closeChannel(int index)
{
    stopChannel(index);
    if (MediaChannel* ch = channel(index))
        ch->close();
}

void DeviceSession::postRequest(ClientRequest request)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.push_back(std::move(request));
}

bool DeviceSession::takeRequest(ClientRequest& out)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (queue_.empty())
        return false;
    out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

}   // namespace kevra
