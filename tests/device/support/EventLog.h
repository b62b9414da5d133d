// Test sink for DeviceEvents and MediaSink: records every call, thread-safe (the device client
// calls it on its network thread while the test thread reads it).
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceEvents.h"
#include "device/MediaSink.h"
#include "device/Messages.h"

namespace kevra {

class EventLog : public DeviceEvents, public MediaSink {
public:
    struct List {
        int code = 0, length = 0, count = 0;
        std::vector<std::string> items;
    };

    void onLogin(int code, int channelCount, int) override
    {
        add([&] {
            logins.emplace_back(code, channelCount);
            order.push_back("login");
        });
    }
    void onList(int code, const uint8_t* block, int length, int count) override
    {
        add([&] {
            lists.push_back({code, length, count, nameListItems(block, length, count)});
            order.push_back("list");
        });
    }
    void onStreamStarted(int channel) override
    {
        add([&] { streams.push_back("start " + std::to_string(channel)); });
    }
    void onStreamStopped(int channel) override
    {
        add([&] { streams.push_back("stop " + std::to_string(channel)); });
    }
    void onMediaBytes(int channel, const uint8_t* bytes, int length) override
    {
        add([&] {
            mediaPieces.emplace_back(channel, length);
            media.insert(media.end(), bytes, bytes + length);
        });
    }
    void onChannel(int channel, int code) override
    {
        add([&] {
            channels.emplace_back(channel, code);
            order.push_back("channel");
        });
    }
    void onConnectionLost() override
    {
        add([&] {
            ++lost;
            order.push_back("lost");
        });
    }
    void onChannelClosed(int channel) override
    {
        add([&] {
            closedChannels.push_back(channel);
            order.push_back("closed");
        });
    }

    // Waits (real time) until pred() holds under the lock.
    bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
    }
    template <typename F>
    auto read(F f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return f();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, int>> logins;
    std::vector<List> lists;
    std::vector<std::pair<int, int>> mediaPieces;
    std::vector<uint8_t> media;
    std::vector<std::pair<int, int>> channels;
    std::vector<int> closedChannels;
    std::vector<std::string> order;
    std::vector<std::string> streams;   // "start N" / "stop N"
    int lost = 0;

private:
    template <typename F>
    void add(F f)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            f();
        }
        changed.notify_all();
    }
};

}   // namespace kevra
