#include "device/DeviceClient.h"

#include <chrono>
#include <thread>

namespace kevra {

DeviceClient& DeviceClient::instance()
{
    static DeviceClient client;
    return client;
}

DeviceClient::DeviceClient()
    : decoder_(std::make_unique<DecoderWorker>()),
      session_(std::make_unique<DeviceSession>(this))
{
    current_ = -1;
    running_ = true;
    if (thread_.start([this] { workerLoop(); }) != 0)
        running_ = false;
}

DeviceClient::~DeviceClient()
{
    running_ = false;
    thread_.join();
    session_.reset();
    decoder_->stop();
    decoder_.reset();
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

void DeviceClient::post(ClientRequest request) { session_->postRequest(std::move(request)); }

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
    ClientRequest r;
    r.kind = ClientRequest::Logout;
    post(std::move(r));
}

void DeviceClient::queryList()
{
    ClientRequest r;
    r.kind = ClientRequest::QueryList;
    post(std::move(r));
}

void DeviceClient::openChannel(int channel, int stream)
{
    // The picture of the old channel ends now; its media is dropped until the new one opens.
    if (current_.load() != -1) {
        decoder_->stop();
        current_ = -1;
    }
    ClientRequest r;
    r.kind = ClientRequest::OpenChannel;
    r.a = channel;
    r.b = stream;
    post(std::move(r));
}

void DeviceClient::ptz(int channel, int code, int parameter)
{
    ClientRequest r;
    r.kind = ClientRequest::Ptz;
    r.a = channel;
    r.b = code;
    r.c = parameter;
    post(std::move(r));
}

void DeviceClient::onLogin(int code, int channelCount)
{
    toSink([&](DeviceEvents* sink) { sink->onLogin(code, channelCount); });
}

void DeviceClient::onList(int code, const uint8_t* block, int length, int count)
{
    toSink([&](DeviceEvents* sink) { sink->onList(code, block, length, count); });
}

void DeviceClient::onMedia(int channel, const uint8_t* bytes, int length)
{
    if (channel != current_.load())
        return;
    decoder_->push(bytes, length);
    if (DeviceEvents* observer = mediaObserver_.load())
        observer->onMedia(channel, bytes, length);
}

void DeviceClient::onChannel(int channel, int code)
{
    if (code == 0) {
        current_ = channel;
        decoder_->start();
    }
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

void DeviceClient::dispatch(ClientRequest& r)
{
    switch (r.kind) {
    case ClientRequest::Login:
        if (r.login)
            session_->login(r.login->host.c_str(), r.login->port, r.login->user.c_str(),
                            r.login->password.c_str(), r.a);
        break;
    case ClientRequest::Logout:
        session_->logout();
        break;
    case ClientRequest::OpenChannel:
        session_->openChannel(r.a, r.b);
        break;
    case ClientRequest::StopChannel:
        session_->stopChannel(r.a);
        break;
    case ClientRequest::QueryList:
        session_->queryList();
        break;
    case ClientRequest::Ptz:
        session_->sendPtz(r.a, r.b, r.c);
        break;
    default:
        break;
    }
}

int DeviceClient::workerStep()
{
    int idle = 8;
    ClientRequest r;
    while (session_->takeRequest(r)) {
        idle = 0;
        dispatch(r);
        r = ClientRequest{};
    }
    if (session_->poll() == 0)
        idle = 0;
    return idle;
}

void DeviceClient::workerLoop()
{
    // Once the worker has been idle it sleeps after every step: one receive per connection
    // every 10 ms.
    networkThreadId_.store(std::this_thread::get_id());
    bool idleMark = false;
    while (running_.load()) {
        if (workerStep() == 8)
            idleMark = true;
        if (idleMark)
            std::this_thread::sleep_for(std::chrono::milliseconds(kIdleSleepMs));
    }
}

} // namespace kevra
