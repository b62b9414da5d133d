#include "device/DeviceClient.h"

#include <pthread.h>
#include <chrono>
#include <thread>

namespace kevra {

DeviceClient::DeviceClient() : session_(std::make_unique<DeviceSession>(this, this))
{
    running_ = true;
    session_->setKeepRunning(&running_);   // shutdown() also ends a wait for a reply
    if (thread_.start([this] { workerLoop(); }) != 0)
        running_ = false;
}

DeviceClient::~DeviceClient()
{
    shutdown();
}

void DeviceClient::shutdown()
{
    running_ = false;
    thread_.join();
    // Stops asked for just before the end (the viewer's exit stops every stream) would
    // otherwise die in the queue with the worker: the recorder is told before the close.
    if (session_) {
        ClientRequest r;
        while (session_->takeRequest(r)) {
            if (r.kind == ClientRequest::StopChannel || r.kind == ClientRequest::CloseChannel)
                dispatch(r);
            r = ClientRequest{};
        }
    }
    {
        std::lock_guard<std::mutex> lock(sinksMutex_);
        mediaSinks_.clear();
    }
    // The session's close reports nothing: the worker that would carry reports has ended.
    if (session_)
        session_->close();
}

void DeviceClient::setSink(DeviceEvents* sink)
{
    sink_.store(sink);
    // A call that the network thread already made into the old sink may still be running; the
    // caller is about to let the old sink go, so wait for that call to return. The sink's
    // operations only post and never wait on the caller, so this wait is short.
    if (std::this_thread::get_id() != networkThreadId_.load())
        while (sinkCalls_.load() > 0)
            std::this_thread::yield();
}

template <typename Call>
void DeviceClient::toSink(Call call)
{
    sinkCalls_.fetch_add(1);
    if (DeviceEvents* sink = sink_.load())
        call(sink);
    sinkCalls_.fetch_sub(1);
}

void DeviceClient::post(ClientRequest request)
{
    session_->postRequest(std::move(request));
}

void DeviceClient::post(int32_t kind, int32_t a, int32_t b, int32_t c)
{
    ClientRequest r;
    r.kind = kind;
    r.a = a;
    r.b = b;
    r.c = c;
    post(std::move(r));
}

void DeviceClient::forgetSink(int channel)
{
    // Taking the lock waits for a media call into this sink that is under way.
    std::lock_guard<std::mutex> lock(sinksMutex_);
    mediaSinks_.erase(channel);
}

void DeviceClient::login(const std::string& host, int port, const std::string& user,
                         const std::string& password, int timeoutMs)
{
    ClientRequest r;
    r.kind = ClientRequest::Login;
    r.a = timeoutMs;
    r.login = std::make_unique<ClientRequest::LoginBlock>();
    r.login->user = user;
    r.login->password = password;
    r.login->host = host;
    r.login->port = port;
    post(std::move(r));
}

void DeviceClient::logout()
{
    post(ClientRequest::Logout);
}

void DeviceClient::queryList()
{
    post(ClientRequest::QueryList);
}

void DeviceClient::openChannel(int channel, int stream, MediaSink* sink)
{
    {
        std::lock_guard<std::mutex> lock(sinksMutex_);
        if (sink)
            mediaSinks_[channel] = sink;
        else
            mediaSinks_.erase(channel);
    }
    post(ClientRequest::OpenChannel, channel, stream);
}

void DeviceClient::stopChannel(int channel)
{
    forgetSink(channel);
    post(ClientRequest::StopChannel, channel);
}

void DeviceClient::closeChannel(int channel)
{
    forgetSink(channel);
    post(ClientRequest::CloseChannel, channel);
}

bool DeviceClient::hasMediaSink(int channel)
{
    std::lock_guard<std::mutex> lock(sinksMutex_);
    return mediaSinks_.count(channel) != 0;
}

template <typename Call>
void DeviceClient::toMediaSink(int channel, Call call)
{
    std::lock_guard<std::mutex> lock(sinksMutex_);
    auto it = mediaSinks_.find(channel);
    if (it != mediaSinks_.end())
        call(it->second);
}

void DeviceClient::ptz(int channel, int code, int parameter)
{
    post(ClientRequest::Ptz, channel, code, parameter);
}

void DeviceClient::onLogin(int code, int channelCount, int systemError)
{
    toSink([&](DeviceEvents* sink) { sink->onLogin(code, channelCount, systemError); });
}

void DeviceClient::onList(int code, const uint8_t* block, int length, int count)
{
    toSink([&](DeviceEvents* sink) { sink->onList(code, block, length, count); });
}

void DeviceClient::onChannel(int channel, int code)
{
    toSink([&](DeviceEvents* sink) { sink->onChannel(channel, code); });
}

void DeviceClient::onConnectionLost()
{
    toSink([](DeviceEvents* sink) { sink->onConnectionLost(); });
}

void DeviceClient::onChannelClosed(int channel)
{
    toSink([&](DeviceEvents* sink) { sink->onChannelClosed(channel); });
}

void DeviceClient::onStreamStarted(int channel)
{
    toMediaSink(channel, [&](MediaSink* sink) { sink->onStreamStarted(channel); });
}

void DeviceClient::onMediaBytes(int channel, const uint8_t* bytes, int length)
{
    toMediaSink(channel, [&](MediaSink* sink) { sink->onMediaBytes(channel, bytes, length); });
}

void DeviceClient::onStreamStopped(int channel)
{
    toMediaSink(channel, [&](MediaSink* sink) { sink->onStreamStopped(channel); });
}

void DeviceClient::dispatch(ClientRequest& r)
{
    switch (r.kind) {
    case ClientRequest::Login:
        if (r.login)
            session_->login(r.login->host.c_str(), r.login->port, r.login->user.c_str(),
                            r.login->password.c_str(), r.a);
        break;
    case ClientRequest::Logout: session_->logout(); break;
    case ClientRequest::OpenChannel: session_->openChannel(r.a, r.b); break;
    case ClientRequest::StopChannel: session_->stopChannel(r.a); break;
    case ClientRequest::QueryList: session_->queryList(); break;
    case ClientRequest::Ptz: session_->sendPtz(r.a, r.b, r.c); break;
    case ClientRequest::CloseChannel: session_->closeChannel(r.a); break;
    default: break;
    }
}

int DeviceClient::workerStep()
{
    int idle = kStepIdle;
    ClientRequest r;
    while (session_->takeRequest(r)) {
        idle = 0;
        dispatch(r);
        r = ClientRequest{};
    }
    const uint64_t before = session_->bytesReceivedAll();
    session_->poll();
    if (session_->bytesReceivedAll() != before)
        idle = 0;
    return idle;
}

void DeviceClient::workerLoop()
{
    pthread_setname_np(pthread_self(), "kevra-net");   // tells the threads apart in measurements
    // A step in which no request came and no byte arrived is followed by a 10 ms sleep. While
    // bytes keep arriving the worker steps again at once: one receive per connection every
    // 10 ms held each camera to about 200 KB/s, below what a 1080p camera sends.
    networkThreadId_.store(std::this_thread::get_id());
    while (running_.load()) {
        if (workerStep() == kStepIdle)
            std::this_thread::sleep_for(std::chrono::milliseconds(kIdleSleepMs));
    }
}

}   // namespace kevra
