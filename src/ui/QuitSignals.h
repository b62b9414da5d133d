// Turns SIGTERM, SIGINT and SIGHUP into a call on the user-interface thread, so that a viewer
// told to stop by the system ends the way Exit ends it. The handler only writes the signal's
// number into a pipe; a socket notifier on the other end calls the action. Each handler runs
// once: a second signal of the same kind ends the process at once, as it would have without
// this. Owned by main; everything but the handler runs on the user-interface thread.
#pragma once
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace kevra {

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; action(signal number) runs from the event loop once per signal.
    explicit QuitSignals(std::function<void(int)> action);
    // Restores the default handlers and closes the pipe.
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // False when the pipe could not be made (the signals then keep their default effect).
    bool installed() const { return notifier_ != nullptr; }

private:
    void readPipe();

    std::function<void(int)> action_;
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}   // namespace kevra
