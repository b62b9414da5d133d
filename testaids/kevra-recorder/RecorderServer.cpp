#include "RecorderServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

namespace kevra {
namespace {

constexpr uint32_t kMaxRequestPayload = 65536;
constexpr size_t kReadBlock = 65536;
constexpr uint32_t kAbsurdLength = 0xFFFFFFF0u;
constexpr std::chrono::seconds kFirstRequestWait{30};

std::string hexId(const std::array<uint8_t, 4>& id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", id[0], id[1], id[2], id[3]);
    return text;
}

int64_t clockMicros(clockid_t clock)
{
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

const char* roleName(int role)
{
    return role == 1 ? "session" : role == 2 ? "media" : "unknown";
}

}   // namespace

RecorderServer::RecorderServer(const RecorderOptions& options, EventLog& log)
    : options_(options), log_(log), cameras_(options, log), random_(std::random_device{}())
{
}

RecorderServer::~RecorderServer()
{
    for (auto& [id, c] : connections_)
        if (c->fd >= 0)
            ::close(c->fd);
}

int RecorderServer::channelCount() const
{
    int n = options_.channelCount != RecorderOptions::kNoValue ? options_.channelCount
                                                               : int(options_.cameras.size());
    return int(int8_t(uint8_t(n)));   // what the client reads from the signed count byte
}

int RecorderServer::open(std::string& message)
{
    if (!options_.source.empty()) {
        if (source_.load(options_.source) != 0) {
            message = "--source " + options_.source + ": " + source_.problem();
            return -1;
        }
        haveSource_ = true;
    }
    return listen_.open(options_.listen, options_.port, message);
}

RecorderServer::Connection* RecorderServer::find(int id)
{
    auto it = connections_.find(id);
    return it == connections_.end() || it->second->dead ? nullptr : it->second.get();
}

int RecorderServer::run()
{
    std::vector<pollfd> fds;
    std::vector<int> ids;
    cameras_.start(Clock::now());
    while (!stopping_.load()) {
        Clock::time_point now = Clock::now();
        updateCameras(now);
        const auto wait = cameras_.wait(now, std::chrono::milliseconds(50));
        fds.clear();
        ids.clear();
        fds.push_back(pollfd{listen_.fd(), POLLIN, 0});
        ids.push_back(0);
        for (auto& [id, c] : connections_) {
            short events = POLLIN;
            if (c->queued > 0)
                events |= POLLOUT;   // a stalled link still sends what it holds
            fds.push_back(pollfd{c->fd, events, 0});
            ids.push_back(id);
        }
        int n = ::poll(fds.data(), fds.size(), int(wait.count()));
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0) {
            if (fds[0].revents & POLLIN)
                acceptClients();
            for (size_t i = 1; i < fds.size(); ++i) {
                Connection* c = find(ids[i]);
                if (!c || !fds[i].revents)
                    continue;
                if (fds[i].revents & POLLNVAL) {
                    closeConnection(c->id, "invalid");
                    continue;
                }
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                    readFrom(*c);
                c = find(ids[i]);
                if (c && (fds[i].revents & POLLOUT))
                    c->writeOut();
            }
        }
        now = Clock::now();
        checkTimers(now);
        cameras_.streamFrames(now, [this](int channel, int stream, const auto& header,
                                          const auto& frame, bool key, int64_t number) {
            sendFrame(channel, stream, header, frame, key, number);
        });
        for (int id : closing_) {
            auto it = connections_.find(id);
            if (it == connections_.end())
                continue;
            if (it->second->fd >= 0)
                ::close(it->second->fd);
            connections_.erase(it);
        }
        closing_.clear();
    }
    std::vector<int> all;
    for (auto& [id, c] : connections_)
        all.push_back(id);
    for (int id : all)
        closeConnection(id, "shutdown");
    for (int id : closing_) {
        auto it = connections_.find(id);
        if (it != connections_.end() && it->second->fd >= 0)
            ::close(it->second->fd);
    }
    closing_.clear();
    connections_.clear();
    cameras_.clear();
    log_.begin("stopped").end();
    return 0;
}

void RecorderServer::acceptClients()
{
    for (;;) {
        std::string name;
        const int fd = listen_.accept(name);
        if (fd < 0)
            return;
        size_t live = 0;
        for (auto& [id, c] : connections_)
            live += c->dead ? 0 : 1;
        if (live >= size_t(options_.maxClients)) {
            ::close(fd);
            log_.begin("rejected")
                .field("peer", name)
                .field("reason", std::string("too many clients"))
                .end();
            continue;
        }
        const int id = nextId_++;
        auto c =
            std::make_unique<Connection>(options_, log_, random_, [this, id](const char* reason) {
                closeConnection(id, reason);
            });
        c->id = id;
        c->fd = fd;
        c->peer = name;
        c->opened = Clock::now();
        log_.begin("connect").field("conn", c->id).field("peer", name).end();
        connections_[c->id] = std::move(c);
    }
}

void RecorderServer::readFrom(Connection& c)
{
    uint8_t block[kReadBlock];
    ssize_t n = ::recv(c.fd, block, sizeof block, MSG_DONTWAIT);
    if (n == 0) {
        closeConnection(c.id, "peer closed");
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            closeConnection(c.id, "receive failed");
        return;
    }
    c.in.insert(c.in.end(), block, block + n);
    size_t at = 0;
    while (!c.dead) {
        int64_t total = RecorderMessages::completeLength(c.in.data() + at, c.in.size() - at,
                                                         kMaxRequestPayload);
        if (total < 0) {
            closeConnection(c.id, "oversized request");
            return;
        }
        if (total == 0)
            break;
        handleMessage(c, c.in.data() + at, size_t(total));
        at += size_t(total);
    }
    if (!c.dead)
        c.in.erase(c.in.begin(), c.in.begin() + at);
}

void RecorderServer::handleMessage(Connection& c, const uint8_t* msg, size_t length)
{
    RecorderMessages::Request r;
    if (RecorderMessages::parseRequest(msg, msg + RecorderMessages::kHeaderSize,
                                       length - RecorderMessages::kHeaderSize, r) != 0)
        return;
    if (c.role == Role::Media)
        return;   // a media connection only claims; the rest is ignored
    switch (r.command) {
    case RecorderMessages::kLogin: handleLogin(c, r); return;
    case RecorderMessages::kChannelClaim: handleClaim(c, r); return;
    default: break;
    }
    if (c.role != Role::Session || !c.loggedIn) {
        logIgnored(c, r.command, "not logged in");
        return;
    }
    switch (r.command) {
    case RecorderMessages::kKeepalive: {
        bool answer = !(options_.faultKeepaliveStop >= 0 &&
                        Clock::now() - c.loginAt >=
                            std::chrono::duration<double>(options_.faultKeepaliveStop));
        log_.begin("keepalive").field("conn", c.id).flag("answered", answer).end();
        if (answer)
            c.queue(RecorderMessages::buildKeepaliveReply());
        break;
    }
    case RecorderMessages::kListQuery: handleList(c); break;
    case RecorderMessages::kStreamControl: handleStreamControl(c, r); break;
    case RecorderMessages::kPtzControl: handlePtz(c, r); break;
    default: logIgnored(c, r.command, "unknown command"); break;
    }
}

void RecorderServer::logIgnored(const Connection& c, int command, const char* reason)
{
    log_.begin("ignored")
        .field("conn", c.id)
        .field("command", command)
        .field("reason", std::string(reason))
        .end();
}

void RecorderServer::handlePtz(Connection& c, const RecorderMessages::Request& r)
{
    // The event names the first frame number that shows the move.
    int px = 0, py = 0;
    const int64_t next = cameras_.pan(r.ptzChannel, r.ptzAction, px, py);
    log_.begin("ptz")
        .field("conn", c.id)
        .field("channel", r.ptzChannel)
        .field("action", r.ptzAction)
        .field("parameter", r.ptzParam)
        .field("pan_x", px)
        .field("pan_y", py)
        .field("frame", next)
        .field("real_us", clockMicros(CLOCK_REALTIME))
        .field("mono_us", clockMicros(CLOCK_MONOTONIC))
        .end();
}

void RecorderServer::handleLogin(Connection& c, const RecorderMessages::Request& r)
{
    if (c.role == Role::Media)
        return;
    int outcome = 0, reason = 0;
    if (options_.outcome != RecorderOptions::kNoValue) {
        outcome = options_.outcome;
        reason = options_.refuseReason != RecorderOptions::kNoValue ? options_.refuseReason : 0;
    } else if (options_.refuseReason != RecorderOptions::kNoValue) {
        outcome = 1;
        reason = options_.refuseReason;
    } else {
        auto it = std::find_if(options_.users.begin(), options_.users.end(),
                               [&](const auto& u) { return u.first == r.user; });
        if (it == options_.users.end()) {
            outcome = 1;   // reason 0: unknown user
        } else if (it->second != r.password) {
            outcome = 1;
            reason = 1;   // wrong password
        }
    }
    // A new login on the same connection ends what the old one started.
    if (c.loggedIn) {
        for (auto& [id, m] : connections_)
            if (!m->dead && m->role == Role::Media && m->sessionConn == c.id)
                closeConnection(id, "session logged in again");
        c.started.clear();
        c.loggedIn = false;
    }
    c.role = Role::Session;
    if (c.byteLimit < 0)
        c.byteLimit = options_.faultCloseSessionBytes;
    std::array<uint8_t, 4> id{};
    if (outcome == 0) {
        for (;;) {
            uint32_t v = random_();
            std::memcpy(id.data(), &v, 4);
            bool clash = v == 0;
            for (auto& [k, s] : connections_)
                if (!s->dead && s->loggedIn && s->sessionId == id)
                    clash = true;
            if (!clash)
                break;
        }
        c.loggedIn = true;
        c.sessionId = id;
        c.loginAt = Clock::now();
    }
    log_.begin("login")
        .field("conn", c.id)
        .field("user", r.user)
        .field("form", std::string(r.longForm ? "long" : "short"))
        .field("result", std::string(outcome == 0 ? "accepted" : "refused"))
        .field("outcome", outcome)
        .field("reason", reason)
        .field("session", outcome == 0 ? hexId(id) : std::string())
        .field("channels", outcome == 0 ? channelCount() : 0)
        .end();
    c.queue(
        RecorderMessages::buildLoginReply(outcome, reason, outcome == 0 ? channelCount() : 0, id));
    if (outcome != 0)
        return;
    if (options_.faultAbsurdLength == "session") {
        log_.begin("fault").field("conn", c.id).field("kind", std::string("absurd-length")).end();
        c.queue(RecorderMessages::buildHeader(RecorderMessages::kKeepaliveReply, kAbsurdLength));
    }
    if (options_.faultSessionGarbage > 0) {
        log_.begin("fault")
            .field("conn", c.id)
            .field("kind", std::string("garbage"))
            .field("bytes", options_.faultSessionGarbage)
            .end();
        c.garbageLeft = options_.faultSessionGarbage;
        c.queueGarbage();
    }
}

void RecorderServer::handleList(Connection& c)
{
    std::string payload;
    for (size_t i = 0; i < options_.cameras.size(); ++i) {
        if (i)
            payload += "&&";
        payload += options_.cameras[i];
    }
    if (options_.faultBigList > 0) {
        for (int n = 1; int64_t(payload.size()) < options_.faultBigList; ++n) {
            char filler[32];
            std::snprintf(filler, sizeof filler, "&&Filler %07d", n);
            payload += filler;
        }
    }
    std::vector<uint8_t> msg = RecorderMessages::buildListReplyRaw(payload);
    log_.begin("list")
        .field("conn", c.id)
        .field("count", int64_t(options_.cameras.size()))
        .field("bytes", int64_t(payload.size()))
        .end();
    if (options_.faultStallList) {
        msg.resize(RecorderMessages::kHeaderSize + payload.size() / 2);
        log_.begin("fault").field("conn", c.id).field("kind", std::string("stall-list")).end();
        c.queue(std::move(msg));
        c.stalled = true;
        return;
    }
    c.queue(std::move(msg));
}

void RecorderServer::handleClaim(Connection& c, const RecorderMessages::Request& r)
{
    if (c.role != Role::Unknown)
        return;
    int channel = r.claimChannel - 1;
    Connection* session = nullptr;
    for (auto& [id, s] : connections_)
        if (!s->dead && s->role == Role::Session && s->loggedIn && s->sessionId == r.claimId)
            session = s.get();
    bool ok = session && channel >= 0 && channel < channelCount();
    log_.begin("claim")
        .field("conn", c.id)
        .field("channel", channel)
        .field("session", hexId(r.claimId))
        .flag("ok", ok)
        .end();
    if (!ok) {
        closeConnection(c.id,
                        session ? "claim for an unknown channel" : "claim for an unknown session");
        return;
    }
    c.role = Role::Media;
    c.sessionConn = session->id;
    c.channel = channel;
    c.opened = Clock::now();
    c.waitKey = true;
    c.byteLimit = options_.faultCloseMediaBytes;
    c.stallAfter = options_.faultStallMedia;
    c.garbageLeft = options_.faultGarbage;
    cameras_.requestKeyFrames(channel);
}

void RecorderServer::handleStreamControl(Connection& c, const RecorderMessages::Request& r)
{
    for (const auto& o : r.streams) {
        bool valid = o.channel >= 0 && o.channel < channelCount();
        log_.begin("stream")
            .field("conn", c.id)
            .field("channel", o.channel)
            .field("stream", o.stream)
            .field("op", std::string(o.operate ? "start" : "stop"))
            .field("form", std::string(r.textForm ? "text" : "binary"))
            .flag("ok", valid)
            .end();
        if (!valid)
            continue;
        if (o.operate) {
            c.started[o.channel] = o.stream;
            for (auto& [id, m] : connections_)
                if (!m->dead && m->role == Role::Media && m->sessionConn == c.id &&
                    m->channel == o.channel)
                    m->waitKey = true;
            cameras_.requestKeyFrames(o.channel);
        } else {
            c.started.erase(o.channel);
        }
    }
}

bool RecorderServer::streaming(const Connection& m) const
{
    if (m.dead || m.role != Role::Media)
        return false;
    auto it = connections_.find(m.sessionConn);
    if (it == connections_.end() || it->second->dead || !it->second->loggedIn)
        return false;
    return it->second->started.count(m.channel) != 0;
}

int RecorderServer::streamOf(const Connection& m) const
{
    auto it = connections_.find(m.sessionConn);
    if (it == connections_.end())
        return 1;
    auto s = it->second->started.find(m.channel);
    return s != it->second->started.end() && s->second == 2 ? 2 : 1;
}

void RecorderServer::updateCameras(Clock::time_point now)
{
    std::set<CameraSet::Key> wanted;
    for (auto& [id, m] : connections_)
        if (streaming(*m))
            wanted.insert({m->channel, streamOf(*m)});
    // Stop the streams that wanted a camera that did not open rather than retrying on every
    // loop turn.
    for (int ch : cameras_.update(wanted, now, haveSource_ ? &source_ : nullptr))
        for (auto& [id, s] : connections_)
            if (s->role == Role::Session)
                s->started.erase(ch);
}

void RecorderServer::sendFrame(int channel, int stream, const std::vector<uint8_t>& header,
                               const std::vector<uint8_t>& frame, bool key, int64_t number)
{
    for (auto& [id, m] : connections_)
        if (m->channel == channel && streaming(*m) && streamOf(*m) == stream)
            deliver(*m, header, frame, key);
    if (options_.frameCode)
        log_.begin("sent")
            .field("channel", channel)
            .field("stream", stream)
            .field("frame", number)
            .flag("key", key)
            .field("bytes", static_cast<int64_t>(frame.size()))
            .field("real_us", clockMicros(CLOCK_REALTIME))
            .field("mono_us", clockMicros(CLOCK_MONOTONIC))
            .end();
}

void RecorderServer::deliver(Connection& m, const std::vector<uint8_t>& header,
                             const std::vector<uint8_t>& frameIn, bool key)
{
    if (m.stalled || m.garbageLeft > 0)
        return;
    if (m.waitKey && !key)
        return;
    if (options_.faultAbsurdLength == "media" && !m.absurdSent) {
        m.absurdSent = true;
        log_.begin("fault").field("conn", m.id).field("kind", std::string("absurd-length")).end();
        m.queue(RecorderMessages::buildHeader(RecorderMessages::kMediaData, kAbsurdLength));
    }
    // A frame always goes into an empty queue, however large, so big key frames still pass.
    if (m.queued > 0 && m.queued + int64_t(frameIn.size()) > options_.queueLimit) {
        // The client does not keep up: drop frames up to the next key frame instead of queueing.
        if (!m.dropping)
            log_.begin("drop")
                .field("conn", m.id)
                .field("channel", m.channel)
                .field("queued", m.queued)
                .end();
        m.dropping = true;
        m.waitKey = true;
        return;
    }
    if (m.dropping)
        log_.begin("resume").field("conn", m.id).field("channel", m.channel).end();
    m.dropping = false;
    m.waitKey = false;
    // The stream header goes in front of the connection's first frame, in the same messages.
    std::vector<uint8_t> withHeader;
    if (!m.headerSent && !header.empty()) {
        withHeader.reserve(header.size() + frameIn.size());
        withHeader.insert(withHeader.end(), header.begin(), header.end());
        withHeader.insert(withHeader.end(), frameIn.begin(), frameIn.end());
    }
    m.headerSent = true;
    const std::vector<uint8_t>& frame = withHeader.empty() ? frameIn : withHeader;
    size_t piece = options_.perFrame ? frame.size() : size_t(options_.messageSize);
    if (piece == 0)
        piece = frame.size();
    for (size_t at = 0; at < frame.size(); at += piece) {
        size_t n = std::min(piece, frame.size() - at);
        m.queue(RecorderMessages::buildMediaData(frame.data() + at, n));
        if (m.stalled || m.dead || m.closeWhenSent)
            break;
    }
}

void RecorderServer::checkTimers(Clock::time_point now)
{
    for (auto& [id, c] : connections_) {
        if (c->dead)
            continue;
        if (c->role == Role::Unknown && now - c->opened >= kFirstRequestWait) {
            closeConnection(id, "no request");   // a silent connection does not hold a client slot
        } else if (c->role == Role::Session && c->loggedIn && options_.faultCloseSession >= 0 &&
                   now - c->loginAt >= std::chrono::duration<double>(options_.faultCloseSession)) {
            closeConnection(id, "fault: close session");
        } else if (c->role == Role::Media && options_.faultCloseMedia >= 0 &&
                   now - c->opened >= std::chrono::duration<double>(options_.faultCloseMedia)) {
            closeConnection(id, "fault: close media");
        } else if (c->garbageLeft > 0 && c->out.empty() &&
                   (c->role == Role::Session || streaming(*c))) {
            c->queueGarbage();
        }
    }
}

void RecorderServer::closeConnection(int id, const char* reason)
{
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second->dead)
        return;
    Connection& c = *it->second;
    c.dead = true;
    c.out.clear();
    c.queued = 0;
    closing_.push_back(id);
    log_.begin("disconnect")
        .field("conn", id)
        .field("role", std::string(roleName(int(c.role))))
        .field("channel", c.channel)
        .field("reason", std::string(reason))
        .end();
    if (c.role == Role::Session) {
        for (auto& [mid, m] : connections_)
            if (!m->dead && m->role == Role::Media && m->sessionConn == id)
                closeConnection(mid, "session closed");
    }
}

}   // namespace kevra
