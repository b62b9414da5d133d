#include "remux/ClipRecorder.h"

#include <csignal>

namespace kevra {

ClipRecorder::ClipRecorder(std::string path) : path_(std::move(path)), writer_(path_)
{
}

ClipRecorder::ClipRecorder(std::string path, ClipWriter::Container container)
    : path_(std::move(path)), writer_(path_, container)
{
}

ClipRecorder::~ClipRecorder()
{
    stop();
}

bool ClipRecorder::start()
{
    // A file-size limit must end the recording with a message, not the whole program.
    std::signal(SIGXFSZ, SIG_IGN);
    {
        std::lock_guard<std::mutex> g(lock_);
        started_ = std::chrono::steady_clock::now();
        status_ = Status{};
        status_.running = true;
        stopping_ = false;
    }
    if (thread_.start([this] { loop(); }) != 0) {
        std::lock_guard<std::mutex> g(lock_);
        status_.running = false;
        status_.failed = true;
        status_.error = "cannot start the recording thread";
        return false;
    }
    return true;
}

void ClipRecorder::push(const uint8_t* bytes, int length)
{
    if (!bytes || length <= 0)
        return;
    std::lock_guard<std::mutex> g(lock_);
    if (!status_.running || stopping_)
        return;
    if (queuedBytes_ + length > kQueueBytes) {
        ++status_.droppedBlocks;
        dropping_ = true;
        return;
    }
    Block b;
    b.bytes.assign(bytes, bytes + length);
    b.gap = dropping_;
    dropping_ = false;
    queuedBytes_ += length;
    queue_.push_back(std::move(b));
    wake_.notify_one();
}

void ClipRecorder::prime(std::vector<uint8_t> earlier)
{
    if (earlier.empty())
        return;
    std::lock_guard<std::mutex> g(lock_);
    if (!status_.running || stopping_)
        return;
    Block b;
    b.bytes = std::move(earlier);
    b.earlier = true;
    queuedBytes_ += static_cast<int64_t>(b.bytes.size());
    queue_.push_back(std::move(b));
    wake_.notify_one();
}

void ClipRecorder::writeEarlier(const Block& b)
{
    // Only the units from the latest key frame on are kept (copies: the cutter's bytes go with
    // the next feed), then written in one go.
    struct Held {
        AccessUnit unit;
        std::vector<uint8_t> data, extradata;
    };
    std::vector<Held> held;
    cutter_.feed(b.bytes.data(), static_cast<int>(b.bytes.size()));
    AccessUnit unit;
    while (cutter_.next(unit)) {
        if (unit.key)
            held.clear();
        if (held.empty() && !unit.key)
            continue;
        Held h{unit, std::vector<uint8_t>(unit.data, unit.data + unit.size),
               std::vector<uint8_t>(unit.extradata, unit.extradata + unit.extradataSize)};
        held.push_back(std::move(h));
    }
    for (Held& h : held) {
        h.unit.data = h.data.data();
        h.unit.extradata = h.extradata.data();
        if (!writer_.write(h.unit))
            break;
    }
}

void ClipRecorder::streamRestarted()
{
    std::lock_guard<std::mutex> g(lock_);
    if (!status_.running || stopping_)
        return;
    Block b;
    b.restart = true;
    queue_.push_back(std::move(b));
    wake_.notify_one();
}

void ClipRecorder::stop()
{
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
        wake_.notify_one();
    }
    thread_.join();
}

ClipRecorder::Status ClipRecorder::status() const
{
    std::lock_guard<std::mutex> g(lock_);
    Status s = status_;
    if (s.running)
        s.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started_)
                          .count();
    return s;
}

void ClipRecorder::publish()
{
    std::lock_guard<std::mutex> g(lock_);
    const auto now = std::chrono::steady_clock::now();
    status_.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - started_).count();
    if (status_.firstFrameMs < 0 && writer_.framesWritten() > 0)
        status_.firstFrameMs = status_.elapsedMs;
    status_.frames = writer_.framesWritten();
    status_.mediaUs = writer_.mediaUs();
    status_.bytes = writer_.bytesWritten();
    status_.files = writer_.parts();
    if (!status_.files.empty())
        status_.path = status_.files.back().path;
    if (writer_.failed() && !status_.failed) {
        status_.failed = true;
        status_.running = false;
        status_.error = writer_.error();
        queue_.clear();
        queuedBytes_ = 0;
    }
}

void ClipRecorder::loop()
{
    for (;;) {
        Block b;
        {
            std::unique_lock<std::mutex> g(lock_);
            wake_.wait(g, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty() || status_.failed)
                break;   // stopping, with everything written
            b = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= static_cast<int64_t>(b.bytes.size());
        }
        if (b.earlier) {
            writeEarlier(b);
            publish();
            continue;
        }
        if (b.restart) {
            cutter_.restartStream();
            writer_.startNewPart();
        }
        if (b.gap)
            cutter_.markGap();
        cutter_.feed(b.bytes.data(), static_cast<int>(b.bytes.size()));
        AccessUnit unit;
        bool ok = true;
        while (ok && cutter_.next(unit))
            ok = writer_.write(unit);
        publish();
    }
    cutter_.finish();
    AccessUnit unit;
    while (!writer_.failed() && cutter_.next(unit))
        writer_.write(unit);
    writer_.close();
    publish();
    std::lock_guard<std::mutex> g(lock_);
    status_.running = false;
}

}   // namespace kevra
