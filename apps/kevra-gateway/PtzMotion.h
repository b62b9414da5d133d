// One camera's ONVIF moves as the recorder's PTZ step commands. The recorder moves one step per
// command and has no stop of its own, so a move is a steady series of steps at the viewer's
// held-key pace (one step per PtzHold::kStepMs on every moving axis, the first at once), and
// ending the series is the stop. A continuous move ends by itself at its timeout, so a client
// that goes away cannot leave the camera turning; a relative move is a number of steps
// proportional to the distance. Pure state on the millisecond clock; GLib main thread.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

namespace kevra::gateway {

class PtzMotion {
public:
    static constexpr uint64_t kDefaultTimeoutMs = 1000;
    static constexpr uint64_t kMaxTimeoutMs = 10000;
    static constexpr int kStepsPerUnit = 10;    // relative move: a distance of 1 is this many
    static constexpr float kDeadZone = 0.05f;   // smaller speeds and distances move nothing

    enum Axis { Pan, Tilt, Zoom, Focus };
    static constexpr int kAxes = 4;
    using Values = std::array<float, kAxes>;
    using Given = std::array<bool, kAxes>;

    // Speeds in [-1, 1] (pan: + right, tilt: + up, zoom: + in, focus: + the recorder's
    // "focus +"); an axis at 0 stops. Only the axes given take part (the others keep what they
    // do).
    void continuous(const Values& speed, const Given& given, uint64_t timeoutMs, uint64_t nowMs);
    void relative(const Values& distance, const Given& given, uint64_t nowMs);
    void stop(bool panTilt, bool zoom, bool focus = false);

    // The recorder's PTZ codes to send now (empty when no step is due). Steps never burst: a
    // late call gives one step per axis and the next follows a full step later.
    std::vector<int> due(uint64_t nowMs);
    // When due() has work next; 0 when nothing moves.
    uint64_t nextDueMs() const;
    bool moving(Axis axis) const;
    // Where the steps sent so far have taken the camera, in [-1, 1] (an estimate: the
    // recorder does not report its position).
    float position(Axis axis) const;

private:
    struct Motion {
        int code = -1;        // recorder PTZ code; -1 = still
        int direction = 0;    // +1 / -1
        int stepsLeft = -1;   // relative move; -1 = continuous
        uint64_t endMs = 0;   // continuous move
        int position = 0;     // steps, clamped to +-kStepsPerUnit
    };
    static int codeFor(Axis axis, int direction);

    std::array<Motion, kAxes> axes_;
    uint64_t nextMs_ = 0;
};

}   // namespace kevra::gateway
