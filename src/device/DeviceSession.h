// The control connection to one recorder: login, keepalive and silence check, camera list, PTZ,
// and the table of media channels it polls, each on its own connection and streaming to the
// media sink at once. Owns its channels and the request queue with its mutex. Only the network
// worker thread runs it; other threads only post to the queue.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/ClientRequest.h"
#include "device/MediaChannel.h"
#include "device/MessageConnection.h"

namespace kevra {

class DeviceEvents;
class MediaSink;

class DeviceSession : public MessageConnection {
public:
    static constexpr uint64_t kKeepaliveMs = 10000;
    static constexpr uint64_t kSilenceMs = 60000;
    static constexpr int kListWaitMs = 5000;
    static constexpr int kLoginBuffer = 512;

    // owner hears results, media hears every channel's stream (either may be null).
    DeviceSession(DeviceEvents* owner, MediaSink* media);
    ~DeviceSession() override;

    void login(const char* host, int port, const char* user, const char* password, int timeoutMs);
    void logout();
    void queryList();
    void sendPtz(int channel, int code, int parameter);
    // One receive step of the session and of every channel, plus keepalive and silence checks.
    // 0 when something was done, 1 when the connection was lost, else a framing poll code.
    // A session link the recorder closed (or a failed read or write) is a loss at once; the
    // keepalive and the silence limit catch a recorder that stops answering. A media link
    // that closes is closed on this side and reported with onChannelClosed.
    int poll();
    void openChannel(int channel, int stream);
    void stopChannel(int channel);
    // Stops the stream and closes the channel's media connection: the recorder sees the
    // channel let go. A later openChannel connects and claims it again.
    void closeChannel(int channel);

    // Request queue (any thread): append at the tail / take the head. take returns false when empty.
    void postRequest(ClientRequest request);
    bool takeRequest(ClientRequest& out);

    // The session's close: closes its link and every channel, forgets the login. Reports nothing.
    void close() override;
    void onHeader(const ReplyHeader& header) override;
    void onPayload(int command, const uint8_t* bytes, int length) override;

    DeviceEvents* owner() const { return owner_; }
    // Bytes received on the session link and every channel link so far.
    uint64_t bytesReceivedAll() const;
    MediaSink* media() const { return media_; }
    bool loggedIn() const { return loggedIn_ && loginInfo_.has_value(); }
    // A flag the owner clears to end its network thread: a wait for a reply (login, list) gives
    // up as soon as it is cleared rather than at its time limit. Null: waits run to their end.
    void setKeepRunning(const std::atomic<bool>* keepRunning) { keepRunning_ = keepRunning; }
    int channelCount() const { return loginInfo_ ? loginInfo_->channelCount : 0; }
    const MediaChannel* channel(int index) const;
    MediaChannel* channel(int index);

private:
    int waitReply(int command, int timeoutMs);
    void disconnectAll();
    void connectionLost();
    void channelClosed(MediaChannel& channel);
    // Marks every running stream stopped and tells the media sink.
    void endStreams();

    std::vector<std::unique_ptr<MediaChannel>> channels_;
    std::string user_, password_, host_;
    int32_t port_ = -1;
    uint64_t lastKeepaliveSent_ = 0;
    uint64_t lastHeard_ = 0;
    std::optional<LoginInfo> loginInfo_;
    DeviceEvents* owner_;
    MediaSink* media_;
    int32_t awaitedReply_ = -1;
    const std::atomic<bool>* keepRunning_ = nullptr;
    uint32_t announcedListLength_ = 0;
    bool loggedIn_ = false;

    std::mutex queueMutex_;
    std::deque<ClientRequest> queue_;
};

}   // namespace kevra
