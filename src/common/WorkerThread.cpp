#include "common/WorkerThread.h"

#include <system_error>

namespace kevra {

WorkerThread::~WorkerThread()
{
    join();
}

int WorkerThread::start(std::function<void()> entry)
{
    if (thread_.joinable() || !entry)
        return -1;
    try {
        thread_ = std::thread(std::move(entry));
    } catch (const std::system_error&) {
        return -1;
    }
    return 0;
}

void WorkerThread::join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

}   // namespace kevra
