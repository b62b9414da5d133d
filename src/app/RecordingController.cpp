#include "app/RecordingController.h"

#include "common/Folders.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kevra {

namespace {

std::string home()
{
    const char* h = std::getenv("HOME");
    return h && *h ? h : "/tmp";
}

// XDG_VIDEOS_DIR="$HOME/Videos" from the user-dirs file; "" when it names none.
std::string userDirsVideos()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string file =
        (config && *config == '/' ? std::string(config) : home() + "/.config") + "/user-dirs.dirs";
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const std::string key = "XDG_VIDEOS_DIR=\"";
        if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0)
            value = home() + value.substr(5);
        // Only absolute paths, and not the home folder itself (that means "not set").
        if (value.empty() || value[0] != '/' || value == home() || value == home() + "/")
            return "";
        return value;
    }
    return "";
}

}   // namespace

RecordingController::RecordingController(std::string folder) : folder_(std::move(folder))
{
}

void RecordingController::setFolder(const std::string& folder)
{
    folder_ = folder;
}

RecordingController::~RecordingController()
{
    stopAll();
}

std::string RecordingController::videosFolder()
{
    std::string videos = userDirsVideos();
    if (videos.empty())
        videos = home() + "/Videos";
    return makeFolders(videos, 0755) ? videos : home();
}

std::string RecordingController::fileName(const std::string& camera, std::time_t when)
{
    std::string name;
    // Trimmed of spaces; control characters and those that do not belong in a file name
    // become '_' (bytes of multi-byte UTF-8 characters pass unchanged).
    size_t first = camera.find_first_not_of(" \t");
    size_t last = camera.find_last_not_of(" \t");
    if (first != std::string::npos) {
        for (size_t i = first; i <= last; ++i) {
            const unsigned char c = static_cast<unsigned char>(camera[i]);
            const bool bad = c < 0x20 || c == 0x7F ||
                             std::string("/\\:*?\"<>|").find(char(c)) != std::string::npos;
            name += bad ? '_' : char(c);
        }
    }
    if (name.empty() || name[0] == '.')
        name.insert(0, "camera");
    // Camera names come from the recorder: keep the file name sane, without cutting a
    // character in two.
    if (name.size() > 64) {
        size_t cut = 64;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    std::tm tm{};
    localtime_r(&when, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &tm);
    return name + "_" + stamp + ".mp4";
}

std::string RecordingController::elapsedText(int64_t ms)
{
    const int64_t s = ms < 0 ? 0 : ms / 1000;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(s / 3600),
                      (long long)(s / 60 % 60), (long long)(s % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", (long long)(s / 60), (long long)(s % 60));
    return text;
}

RecordingController::Started RecordingController::start(CameraId id, const std::string& camera,
                                                        std::time_t when)
{
    Started r;
    std::lock_guard<std::mutex> g(lock_);
    auto found = recordings_.find(id);
    if (found != recordings_.end() && !found->second->status().failed) {
        r.ok = true;
        r.path = found->second->path();
        return r;
    }
    // An existing file of that name (or one of its parts) gets "_2", "_3", ... added rather than
    // being replaced.
    const std::string base = fileName(camera, when);
    const std::string stem = base.substr(0, base.size() - 4);
    // The videos folder is looked up (and made) only now that a file goes into it.
    const std::string folder = folder_.empty() ? videosFolder() : folder_;
    std::string path = folder + "/" + base;
    for (int n = 2; n < 1000; ++n) {
        if (::access(path.c_str(), F_OK) != 0 &&
            ::access(ClipWriter::partPath(path, 2).c_str(), F_OK) != 0)
            break;
        path = folder + "/" + stem + "_" + std::to_string(n) + ".mp4";
    }
    r.path = path;
    if (::access(folder.c_str(), W_OK) != 0) {
        r.error = "cannot write to " + folder + ": " + std::strerror(errno);
        return r;
    }
    auto recorder = std::make_shared<ClipRecorder>(path);
    if (!recorder->start()) {
        r.error = recorder->status().error;
        return r;
    }
    // The clip starts with the latest key frame the stream brought before now.
    auto kept = earlier_.find(id);
    if (kept != earlier_.end()) {
        std::vector<uint8_t> bytes;
        bytes.reserve(kept->second.bytes);
        for (const std::vector<uint8_t>& block : kept->second.blocks)
            bytes.insert(bytes.end(), block.begin(), block.end());
        recorder->prime(std::move(bytes));
    }
    recordings_[id] = std::move(recorder);
    r.ok = true;
    return r;
}

ClipRecorder::Status RecordingController::stop(CameraId id)
{
    std::shared_ptr<ClipRecorder> recorder;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto found = recordings_.find(id);
        if (found == recordings_.end())
            return ClipRecorder::Status{};
        recorder = std::move(found->second);
        recordings_.erase(found);
    }
    // No more bytes reach it now: what is queued is written and the files completed.
    recorder->stop();
    return recorder->status();
}

std::map<CameraId, ClipRecorder::Status> RecordingController::stopAll()
{
    std::map<CameraId, ClipRecorder::Status> out;
    for (CameraId id : cameras())
        out[id] = stop(id);
    return out;
}

bool RecordingController::recording(CameraId id) const
{
    std::lock_guard<std::mutex> g(lock_);
    return recordings_.count(id) != 0;
}

std::vector<CameraId> RecordingController::cameras() const
{
    std::lock_guard<std::mutex> g(lock_);
    std::vector<CameraId> out;
    for (const auto& [id, recorder] : recordings_)
        out.push_back(id);
    return out;
}

ClipRecorder::Status RecordingController::status(CameraId id) const
{
    std::lock_guard<std::mutex> g(lock_);
    auto found = recordings_.find(id);
    return found == recordings_.end() ? ClipRecorder::Status{} : found->second->status();
}

void RecordingController::feed(CameraId id, const uint8_t* bytes, int length)
{
    if (!bytes || length <= 0)
        return;
    std::lock_guard<std::mutex> g(lock_);
    auto found = recordings_.find(id);
    if (found != recordings_.end())
        found->second->push(bytes, length);   // a copy into its queue; never waits for the disk
    Earlier& kept = earlier_[id];
    kept.blocks.emplace_back(bytes, bytes + length);
    kept.bytes += static_cast<size_t>(length);
    while (kept.bytes > kEarlierBytes && !kept.blocks.empty()) {
        kept.bytes -= kept.blocks.front().size();
        kept.blocks.pop_front();
    }
}

void RecordingController::streamStopped(CameraId id)
{
    std::lock_guard<std::mutex> g(lock_);
    earlier_.erase(id);
}

void RecordingController::streamRestarted(CameraId id)
{
    std::lock_guard<std::mutex> g(lock_);
    earlier_.erase(id);
    auto found = recordings_.find(id);
    if (found != recordings_.end())
        found->second->streamRestarted();
}

}   // namespace kevra
