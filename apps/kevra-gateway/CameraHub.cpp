#include "CameraHub.h"

#include <algorithm>
#include <chrono>

#include "GatewayLog.h"
#include "common/Clock.h"
#include "remux/AccessUnit.h"
#include "remux/FrameCutter.h"
#include "remux/ParameterSets.h"

namespace kevra::gateway {

CameraHub::CameraHub(std::string path, int channel, uint64_t idleCloseMs)
    : path_(std::move(path)), channel_(channel), idleCloseMs_(idleCloseMs),
      cutter_(std::make_unique<FrameCutter>())
{
}

CameraHub::~CameraHub() = default;

void CameraHub::onStreamStarted(int)
{
    cutter_->restartStream();
}

void CameraHub::onMediaBytes(int, const uint8_t* bytes, int length)
{
    uint64_t arrival = OutFrame::steadyNowNs();
    cutter_->feed(bytes, length);
    AccessUnit unit;
    while (cutter_->next(unit))
        pushFrame(unit, arrival);
}

void CameraHub::onStreamStopped(int)
{
    streamLost();
}

void CameraHub::streamLost()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cache_.clear();
    cacheBytes_ = 0;
}

void CameraHub::pushFrame(const AccessUnit& unit, uint64_t arrivalNs)
{
    if (!unit.data || unit.size <= 0)
        return;
    auto frame = std::make_shared<OutFrame>();
    frame->codec = unit.codec == UnitCodec::H264 ? OutCodec::H264 : OutCodec::Mpeg4;
    frame->key = unit.key;
    frame->width = unit.width;
    frame->height = unit.height;
    frame->durationUs = unit.durationUs > 0 ? unit.durationUs : 40000;
    frame->arrivalNs = arrivalNs;
    // A client may start at any key frame, so each one carries its parameter sets in band.
    bool addConfig = unit.key && unit.extradata && unit.extradataSize > 0 &&
                     ParameterSets::extract(unit.codec, unit.data, unit.size).empty();
    frame->bytes.reserve(size_t(unit.size) + (addConfig ? size_t(unit.extradataSize) : 0));
    if (addConfig)
        frame->bytes.assign(unit.extradata, unit.extradata + unit.extradataSize);
    frame->bytes.insert(frame->bytes.end(), unit.data, unit.data + unit.size);

    std::vector<HubClient*> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int64_t t = unit.timeUs;
        if (lastTimeUs_ >= 0 && t <= lastTimeUs_)
            t = lastTimeUs_ + 1;
        frame->timeUs = t;
        lastTimeUs_ = t;
        ++framesIn_;
        bytesIn_ += frame->bytes.size();
        rateNs_[rateNext_] = arrivalNs;
        rateBytes_[rateNext_] = frame->bytes.size();
        rateNext_ = (rateNext_ + 1) % kRateWindow;

        if (unit.key && codec_ != OutCodec::None && frame->codec != codec_) {
            // An RTSP session is described for one codec: its clients are ended so they
            // connect again and get the new description.
            GatewayLog::line("camera " + path_ + " changed from " + codecName(codec_) + " to " +
                             codecName(frame->codec) + ": its " + std::to_string(clients_.size()) +
                             " clients are ended to reconnect");
            for (const Client& c : clients_)
                ended.push_back(c.client);
            clients_.clear();
            lastLeftMs_ = Clock::nowMs();
            cache_.clear();
            cacheBytes_ = 0;
        } else if (unit.key && (frame->width != width_ || frame->height != height_) && width_ > 0) {
            GatewayLog::detail("camera " + path_ + " picture size now " +
                               std::to_string(frame->width) + "x" + std::to_string(frame->height) +
                               " (new parameter sets go in band)");
        }
        if (unit.key) {
            codec_ = frame->codec;
            width_ = frame->width;
            height_ = frame->height;
            lastDurationUs_ = frame->durationUs;
        }
        if (frame->codec == codec_) {
            if (unit.key || !cache_.empty()) {
                cache_.push_back(frame);
                cacheBytes_ += frame->bytes.size();
                trimCache();
            }
            if (unit.key)
                ready_.notify_all();
            fanOut(frame);
        }
        for (HubClient* c : ended)
            c->end(false);
    }
}

void CameraHub::trimCache()
{
    for (;;) {
        size_t next = 1;   // the second group's key frame
        while (next < cache_.size() && !cache_[next]->key)
            ++next;
        const bool second = next < cache_.size();
        const bool over = cacheBytes_ > kCacheMaxBytes || cache_.size() > kCacheMaxFrames;
        if (!(second && (cache_.size() - next >= kBurstMinFrames || over)))
            break;
        for (size_t i = 0; i < next; ++i)
            cacheBytes_ -= cache_[i]->bytes.size();
        cache_.erase(cache_.begin(), cache_.begin() + long(next));
    }
    if (cacheBytes_ > kCacheMaxBytes || cache_.size() > kCacheMaxFrames) {
        cache_.clear();   // one group beyond the limits: late joiners wait for a key frame
        cacheBytes_ = 0;
    }
}

void CameraHub::fanOut(const OutFramePtr& frame)
{
    for (size_t i = 0; i < clients_.size();) {
        Client& c = clients_[i];
        if (!c.started) {
            if (!frame->key) {
                ++i;
                continue;
            }
            c.started = true;
            c.offsetUs = -frame->timeUs;
        }
        if (c.client->deliver(frame, frame->timeUs + c.offsetUs)) {
            ++framesOut_;
            ++i;
            continue;
        }
        HubClient* slow = c.client;
        ++droppedClients_;
        clients_.erase(clients_.begin() + long(i));
        if (clients_.empty())
            lastLeftMs_ = Clock::nowMs();
        slow->end(true);
    }
}

bool CameraHub::waitReady(int timeoutMs, OutCodec& codec)
{
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiters_;
    bool got = ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return !cache_.empty(); });
    --waiters_;
    lastLeftMs_ = Clock::nowMs();   // a client that tries again soon finds the channel open
    codec = codec_;
    return got;
}

void CameraHub::attach(HubClient* client)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Client c{client, false, 0};
    if (!cache_.empty()) {
        int64_t pts = 0;
        for (const OutFramePtr& f : cache_) {
            if (!client->deliver(f, pts)) {
                client->end(true);
                return;
            }
            pts += kBurstStepUs;
        }
        c.started = true;
        c.offsetUs = pts - kBurstStepUs - cache_.back()->timeUs;
    }
    clients_.push_back(c);
}

void CameraHub::detach(HubClient* client)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < clients_.size(); ++i) {
        if (clients_[i].client == client) {
            clients_.erase(clients_.begin() + long(i));
            if (clients_.empty())
                lastLeftMs_ = Clock::nowMs();
            return;
        }
    }
}

bool CameraHub::wanted(uint64_t nowMs) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !clients_.empty() || waiters_ > 0 ||
           (lastLeftMs_ != 0 && nowMs - lastLeftMs_ < idleCloseMs_);
}

int CameraHub::clientCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(clients_.size());
}

OutCodec CameraHub::codec() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return codec_;
}

VideoFacts CameraHub::facts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    VideoFacts f;
    f.codec = codec_;
    f.width = width_;
    f.height = height_;
    f.fps = lastDurationUs_ > 0 ? int((1000000 + lastDurationUs_ / 2) / lastDurationUs_) : 0;
    return f;
}

void CameraHub::keepOpen(uint64_t nowMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (clients_.empty())
        lastLeftMs_ = std::max(lastLeftMs_, nowMs);
}

uint64_t CameraHub::framesOut() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return framesOut_;
}

}   // namespace kevra::gateway

namespace kevra::gateway {

CameraHub::Stats CameraHub::stats() const
{
    uint64_t now = OutFrame::steadyNowNs();
    std::lock_guard<std::mutex> lock(mutex_);
    Stats s;
    s.codec = codec_;
    s.width = width_;
    s.height = height_;
    s.viewers = int(clients_.size());
    s.framesIn = framesIn_;
    s.bytesIn = bytesIn_;
    s.droppedClients = droppedClients_;
    size_t newest = (rateNext_ + kRateWindow - 1) % kRateWindow;
    s.streaming = rateNs_[newest] != 0 && now - rateNs_[newest] < kStreamingMs * 1000000;
    if (!s.streaming)
        return s;
    // Frames of the last two seconds (at most the window).
    uint64_t first = rateNs_[newest], bytes = 0;
    int frames = 0;
    for (size_t k = 0; k < kRateWindow; ++k) {
        size_t i = (newest + kRateWindow - k) % kRateWindow;
        if (rateNs_[i] == 0 || now - rateNs_[i] > 2000000000ull)
            break;
        first = rateNs_[i];
        bytes += rateBytes_[i];
        ++frames;
    }
    double span = double(now - first) / 1e9;
    if (frames >= 2 && span > 0.05) {
        s.fps = (frames - 1) / double(rateNs_[newest] - first) * 1e9;
        s.bitsPerSecond = double(bytes) * 8 / span;
    }
    return s;
}

std::vector<OutFramePtr> CameraHub::cachedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cache_;
}

void CameraHub::hold()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++waiters_;
}

void CameraHub::release()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiters_ > 0)
        --waiters_;
    lastLeftMs_ = Clock::nowMs();
}

}   // namespace kevra::gateway
