// Several recorders at once, each in its own RecorderSession against its own simulated
// recorder: states and their texts, a refused and an unreachable recorder (with the connect's
// error), and one recorder killed and started again while the others keep streaming.
#include "app/SessionTexts.h"
#include "session/RecorderSession.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "device/MediaSink.h"
#include "profile/Language.h"
#include "profile/RecorderList.h"
#include "tools/support/RecorderProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace kevra;

namespace {

// The user-interface thread of these tests: work posted from the network threads runs when the
// test pumps.
class UiQueue {
public:
    RecorderSession::Post poster()
    {
        return [this](std::function<void()> work) {
            std::lock_guard<std::mutex> lock(mutex_);
            work_.push_back(std::move(work));
        };
    }
    void pump()
    {
        std::deque<std::function<void()>> now;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            now.swap(work_);
        }
        for (auto& w : now)
            w();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> work_;
};

// Counts a stream's media calls; the longest silence is measured by the test's thread.
class CountingSink : public MediaSink {
public:
    void onStreamStarted(int) override {}
    void onMediaBytes(int, const uint8_t*, int) override
    {
        calls.fetch_add(1);
        lastMs.store(Clock::nowMs());
    }
    void onStreamStopped(int) override {}
    std::atomic<int> calls{0};
    std::atomic<uint64_t> lastMs{0};
};

RecorderList::Recorder at(int port, const char16_t* password = u"580317")
{
    return {u"127.0.0.1", port, u"admin", password, u""};
}

const std::vector<std::string> kCameras{"--size", "176x144", "--fps", "25", "--channels", "4"};

class RecorderSessions : public ::testing::Test {
protected:
    void SetUp() override
    {
        Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + "/language_eng.ini"));
    }
    void TearDown() override
    {
        for (auto& s : sessions)
            s->shutdown();
        ui.pump();
        Language::setFilePath(u"");
    }
    RecorderSession& add(const RecorderList::Recorder& r)
    {
        sessions.push_back(std::make_unique<RecorderSession>(
            toUtf8(RecorderList::displayName(r)),
            RecorderSession::Login{toUtf8(r.ip), r.port, toUtf8(r.user), toUtf8(r.password)},
            ui.poster()));
        sessions.back()->start();
        return *sessions.back();
    }
    // Pumps and polls until done() or the time-out; each step also runs `each`.
    bool until(const std::function<bool()>& done, int timeoutMs = 15000,
               const std::function<void()>& each = {})
    {
        const uint64_t end = Clock::nowMs() + uint64_t(timeoutMs);
        while (Clock::nowMs() < end) {
            ui.pump();
            for (auto& s : sessions)
                s->poll();
            if (each)
                each();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    UiQueue ui;
    // Declared before the sessions: they outlive every stream into them.
    std::vector<std::unique_ptr<CountingSink>> sinks;
    std::vector<std::unique_ptr<RecorderSession>> sessions;
};

using State = RecorderSession::State;

}   // namespace

TEST_F(RecorderSessions, RefusedAndUnreachableRecordersAreToldApartFromAConnectedOne)
{
    RecorderProcess good(kCameras);
    RecorderProcess strict({"--password", "other"});
    ASSERT_TRUE(good.start());
    ASSERT_TRUE(strict.start());
    // A port nobody listens on: a recorder that was started and stopped.
    RecorderProcess gone;
    ASSERT_TRUE(gone.start());
    const int gonePort = gone.port();
    gone.stop();

    RecorderSession& a = add(at(good.port()));
    RecorderSession& b = add(at(strict.port()));
    RecorderSession& c = add(at(gonePort));
    ASSERT_TRUE(until([&] {
        return !a.cameraNames().empty() && b.state() == State::Failed &&
               c.state() == State::Reconnecting;
    })) << a.cameraNames().size()
        << " " << int(b.state()) << " " << int(c.state());
    EXPECT_EQ(SessionTexts::state(a), u"connected");
    EXPECT_EQ(a.channelCount(), 4);
    EXPECT_EQ(SessionTexts::state(b), u"login failed: Wrong password");
    // Not reached yet: retried on its own schedule, the countdown and the reason told; the
    // login result carried the connect's own error.
    EXPECT_GT(c.secondsLeft(), 0);
    EXPECT_EQ(c.systemError(), ECONNREFUSED);
    const std::u16string away = SessionTexts::state(c);
    EXPECT_EQ(away.rfind(u"reconnecting in ", 0), 0u) << toUtf8(away);
    EXPECT_NE(away.find(u"Connection refused"), std::u16string::npos);
    EXPECT_EQ(a.name(), "127.0.0.1:" + std::to_string(good.port()));
}

TEST_F(RecorderSessions, OneRecorderKilledAndRestartedWhileTheOthersKeepStreaming)
{
    std::vector<std::unique_ptr<RecorderProcess>> recs;
    for (int i = 0; i < 3; ++i) {
        recs.push_back(std::make_unique<RecorderProcess>(kCameras));
        ASSERT_TRUE(recs.back()->start());
    }
    for (auto& r : recs) {
        RecorderSession& s = add(at(r->port()));
        sinks.push_back(std::make_unique<CountingSink>());
        s.openCamera(1, sinks.back().get());
    }
    ASSERT_TRUE(until([&] {
        for (auto& k : sinks)
            if (k->calls.load() < 10)
                return false;
        return true;
    })) << "every recorder streams";

    // The middle recorder dies; the other two must go on without a pause.
    const int port = recs[1]->port();
    recs[1]->kill();
    uint64_t longestGap = 0;
    const auto watchOthers = [&] {
        const uint64_t now = Clock::nowMs();
        for (int i : {0, 2})
            longestGap = std::max(longestGap, now - sinks[size_t(i)]->lastMs.load());
    };
    ASSERT_TRUE(
        until([&] { return sessions[1]->state() == State::Reconnecting; }, 15000, watchOthers));
    EXPECT_EQ(sessions[0]->state(), State::Connected);
    EXPECT_EQ(sessions[2]->state(), State::Connected);
    // A retry fails: a recorder that worked and went away is told as away, not as misconfigured.
    ASSERT_TRUE(until([&] { return sessions[1]->failureCode() != 0; }, 15000, watchOthers));
    EXPECT_EQ(SessionTexts::state(*sessions[1]).find(u"refused"), std::u16string::npos)
        << toUtf8(SessionTexts::state(*sessions[1]));

    // It comes back on the same port: its camera streams again by itself.
    recs[1] = std::make_unique<RecorderProcess>(std::vector<std::string>{
        "--size", "176x144", "--fps", "25", "--channels", "4", "--port", std::to_string(port)});
    ASSERT_TRUE(recs[1]->start());
    const int before = sinks[1]->calls.load();
    const std::vector<int> othersBefore{sinks[0]->calls.load(), sinks[2]->calls.load()};
    ASSERT_TRUE(until([&] { return sinks[1]->calls.load() > before + 10; }, 30000, watchOthers))
        << toUtf8(SessionTexts::state(*sessions[1]));
    EXPECT_EQ(sessions[1]->state(), State::Connected);
    EXPECT_EQ(sessions[1]->losses(), 1);
    EXPECT_EQ(sessions[1]->logins(), 2);
    EXPECT_TRUE(sessions[1]->streaming(1));
    // The others streamed all along: no second without media (a stalled one would show here).
    EXPECT_LT(longestGap, 1000u);
    EXPECT_GT(sinks[0]->calls.load(), othersBefore[0] + 10);
    EXPECT_GT(sinks[2]->calls.load(), othersBefore[1] + 10);

    // A camera stopped by the caller is not reopened after another loss.
    sessions[2]->stopCamera(1);
    EXPECT_FALSE(sessions[2]->streaming(1));
    const int stopped = sinks[2]->calls.load();
    until([] { return false; }, 300);
    EXPECT_EQ(sinks[2]->calls.load(), stopped);
}
