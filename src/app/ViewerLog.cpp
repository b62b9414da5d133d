#include "app/ViewerLog.h"

#include "common/Utf.h"
#include "device/ResultCode.h"
#include "profile/RecorderList.h"
#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

namespace kevra {

namespace {
std::atomic<bool> verboseFlag{false};
std::mutex logMutex;   // guards the output function and keeps lines whole
std::function<void(const std::string&)>& output()
{
    static std::function<void(const std::string&)> fn;
    return fn;
}

std::mutex namesMutex;   // guards recorderNames()
std::map<int, std::string>& recorderNames()
{
    static std::map<int, std::string> names;
    return names;
}

std::string timeOfDay()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

void write(const std::string& text)
{
    const std::string line = "kevra: " + timeOfDay() + " " + text;
    std::lock_guard<std::mutex> lock(logMutex);
    if (output()) {
        output()(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}
}   // namespace

void ViewerLog::setVerbose(bool verbose)
{
    verboseFlag = verbose;
}

bool ViewerLog::verbose()
{
    return verboseFlag.load();
}

void ViewerLog::setOutput(std::function<void(const std::string&)> fn)
{
    std::lock_guard<std::mutex> lock(logMutex);
    output() = std::move(fn);
}

void ViewerLog::event(const std::string& text)
{
    write(text);
}

void ViewerLog::detail(const std::string& text)
{
    if (verboseFlag.load())
        write(text);
}

std::string ViewerLog::loginText(const std::string& host, int port, int code, int systemError)
{
    const std::string where = host + ":" + std::to_string(port);
    if (code == result_code::OK)
        return "login to " + where + " accepted";
    return "login to " + where + " failed: " + describeLoginResult(code, systemError);
}

void ViewerLog::login(const std::string& host, int port, int code, int systemError)
{
    write(loginText(host, port, code, systemError));
}

void ViewerLog::settingsRead(const std::u16string& path)
{
    const std::u16string file = SettingsFolder::readPath(path);
    const ProfileFile::Encoding e = ProfileFile::encodingOf(file);
    if (e != ProfileFile::Encoding::None)
        write("settings read from " + toUtf8(file) + " (" + ProfileFile::encodingName(e) + ")");
}

void ViewerLog::setRecorderName(int recorder, const std::string& name)
{
    std::lock_guard<std::mutex> lock(namesMutex);
    if (name.empty())
        recorderNames().erase(recorder);
    else
        recorderNames()[recorder] = name;
}

void ViewerLog::channelOpened(int channel, int code, int recorder)
{
    const std::string camera = cameraText(channel, recorder);
    if (code == result_code::OK)
        write(camera + " opened");
    else
        write(camera + " could not be opened: " + describeResult(code, ResultEvent::Channel));
}

void ViewerLog::channelStopped(int channel, int recorder)
{
    write(cameraText(channel, recorder) + " stopped");
}

std::string ViewerLog::cameraText(int channel, int recorder)
{
    std::string text = "camera " + std::to_string(channel + 1);
    std::lock_guard<std::mutex> lock(namesMutex);
    if (const auto named = recorderNames().find(recorder); named != recorderNames().end())
        text += " of " + named->second;
    else if (recorder != RecorderList::kDialogRecorder)
        text += " of recorder " + std::to_string(recorder + 1);
    return text;
}

}   // namespace kevra
