#include "PtzMotion.h"

#include <algorithm>
#include <cmath>

#include "common/PtzHold.h"

namespace kevra::gateway {

int PtzMotion::codeFor(Axis axis, int direction)
{
    // The recorder's codes: 0 up, 1 down, 2 left, 3 right, 4 zoom in, 5 zoom out, 6/7 focus
    // plus (far) / minus (near), 8/9 iris plus (open) / minus (close).
    switch (axis) {
    case Pan: return direction > 0 ? 3 : 2;
    case Tilt: return direction > 0 ? 0 : 1;
    case Zoom: return direction > 0 ? 4 : 5;
    case Focus: return direction > 0 ? 6 : 7;
    case Iris: return direction > 0 ? 8 : 9;
    }
    return -1;
}

void PtzMotion::continuous(const Values& speed, const Given& given, uint64_t timeoutMs,
                           uint64_t nowMs)
{
    timeoutMs = std::min(timeoutMs, kMaxTimeoutMs);
    bool startNow = false;
    for (int a = 0; a < kAxes; ++a) {
        if (!given[a])
            continue;
        Motion& m = axes_[a];
        if (!(std::fabs(speed[a]) >= kDeadZone)) {   // also NaN
            m.code = -1;
            continue;
        }
        int direction = speed[a] > 0 ? 1 : -1;
        // A client repeating the same move keeps the pace; a new direction steps at once.
        if (m.code < 0 || m.direction != direction)
            startNow = true;
        m.direction = direction;
        m.code = codeFor(Axis(a), direction);
        m.stepsLeft = -1;
        m.endMs = nowMs + timeoutMs;
    }
    if (startNow)
        nextMs_ = nowMs;
}

void PtzMotion::relative(const Values& distance, const Given& given, uint64_t nowMs)
{
    bool startNow = false;
    for (int a = 0; a < kAxes; ++a) {
        if (!given[a])
            continue;
        Motion& m = axes_[a];
        float d = std::clamp(distance[a], -2.0f, 2.0f);
        if (!(std::fabs(d) >= kDeadZone)) {
            m.code = -1;
            continue;
        }
        m.direction = d > 0 ? 1 : -1;
        m.code = codeFor(Axis(a), m.direction);
        m.stepsLeft = std::max(1, int(std::lround(std::fabs(d) * kStepsPerUnit)));
        startNow = true;
    }
    if (startNow && nextMs_ < nowMs)
        nextMs_ = nowMs;
}

void PtzMotion::stop(bool panTilt, bool zoom, bool focus)
{
    if (focus)
        axes_[Focus].code = -1;
    if (panTilt)
        axes_[Pan].code = axes_[Tilt].code = -1;
    if (zoom)
        axes_[Zoom].code = -1;
}

void PtzMotion::hold(Axis axis, int direction, uint64_t timeoutMs, uint64_t nowMs)
{
    direction = direction > 0 ? 1 : -1;
    for (int a = 0; a < kAxes; ++a)
        if (a != axis)
            axes_[a].code = -1;
    Motion& m = axes_[axis];
    // Renewing the same move keeps the pace; a new one steps at once.
    if (m.code < 0 || m.direction != direction || m.stepsLeft >= 0)
        nextMs_ = nowMs;
    m.direction = direction;
    m.code = codeFor(axis, direction);
    m.stepsLeft = -1;
    m.endMs = nowMs + std::min(timeoutMs, kMaxTimeoutMs);
}

void PtzMotion::stopAll()
{
    for (Motion& m : axes_)
        m.code = -1;
}

std::vector<int> PtzMotion::due(uint64_t nowMs)
{
    std::vector<int> codes;
    for (Motion& m : axes_)
        if (m.code >= 0 && m.stepsLeft < 0 && nowMs >= m.endMs)
            m.code = -1;   // the timeout: the client did not renew the move
    if (nowMs < nextMs_)
        return codes;
    for (Motion& m : axes_) {
        if (m.code < 0)
            continue;
        codes.push_back(m.code);
        m.position = std::clamp(m.position + m.direction, -kStepsPerUnit, kStepsPerUnit);
        if (m.stepsLeft > 0 && --m.stepsLeft == 0)
            m.code = -1;
    }
    if (!codes.empty())
        nextMs_ = nowMs + PtzHold::kStepMs;
    return codes;
}

uint64_t PtzMotion::nextDueMs() const
{
    uint64_t next = 0;
    for (const Motion& m : axes_) {
        if (m.code < 0)
            continue;
        uint64_t at = m.stepsLeft < 0 ? std::min(nextMs_, m.endMs) : nextMs_;
        next = next == 0 ? std::max<uint64_t>(at, 1) : std::min(next, at);
    }
    return next;
}

bool PtzMotion::moving(Axis axis) const
{
    return axes_[axis].code >= 0;
}

float PtzMotion::position(Axis axis) const
{
    return float(axes_[axis].position) / kStepsPerUnit;
}

}   // namespace kevra::gateway
