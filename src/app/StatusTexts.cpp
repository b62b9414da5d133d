#include "app/StatusTexts.h"

#include "app/StreamController.h"
#include "app/StreamStats.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "profile/Language.h"

namespace kevra {

void StatusTexts::setStatus(const std::u16string& text)
{
    status_ = text;
    showRow();
}

void StatusTexts::tell(const std::u16string& text)
{
    message_ = text;
    messageUntilMs_ = Clock::nowMs() + kMessageMs;
    showRow();
}

std::u16string StatusTexts::row() const
{
    if (std::u16string recovery = host_.recoveryNote(); !recovery.empty())
        return recovery;
    return message_.empty() ? status_ : message_;
}

void StatusTexts::showRow()
{
    std::u16string text = row();
    if (rowGiven_ && text == shownRow_)
        return;
    rowGiven_ = true;
    shownRow_ = text;
    view_.showStatus(text);
}

StatusTexts::TileLabel StatusTexts::tileLabel(int position) const
{
    TileLabel l;
    CameraId c = playback_.tileCamera(position);
    bool stopped = false;
    if (!c.valid()) {
        // No stream (the connection is lost, say): the tile still names its camera.
        c = grid_.camera(grid_.positionTile(position));
        if (!c.valid() || !gridShown())
            return l;
        stopped = true;
    }
    l.name = host_.cameraName(c);
    l.state = Language::text(stopped ? u"STOP_TILE"
                                     : StreamController::tileKey(playback_.tileState(position)));
    // A recorder that is away: its tiles say so (and keep their last pictures).
    if (std::u16string away = host_.recorderAway(c); !away.empty())
        l.state = std::move(away);
    if (position >= 0 && position < TileGrid::kMaxTiles)
        l.note = tileNotes_[size_t(position)];
    l.recording = host_.recordingMark(c);   // also while its stream is lost: it goes on
    if (statsShown_ && !stopped &&
        (grid_.zoomed() || grid_.positionTile(position) == grid_.selected()))
        l.stats = statsText(playback_.stream(c));
    return l;
}

void StatusTexts::followFramedTile()
{
    if (!gridShown())
        return;
    const TileLabel l = tileLabel(grid_.zoomed() ? 0 : grid_.selected());
    if (!l.name.empty() && l.state != status_)
        setStatus(l.state);
}

void StatusTexts::poll()
{
    const uint64_t now = Clock::nowMs();
    if (!message_.empty() && now >= messageUntilMs_)
        message_.clear();
    followFramedTile();
    showRow();
    markStalledTiles();
    // The figures change while the picture may not (a stalled stream): drawn again each second.
    if (statsShown_ && now - statsDrawnMs_ >= 1000) {
        statsDrawnMs_ = now;
        view_.refreshTiles();
        view_.refreshNotice();
    }
    const std::u16string notice = videoNotice();
    if (notice != shownNotice_) {
        shownNotice_ = notice;
        view_.refreshNotice();
    }
}

// Each tile whose stream has drawn no new picture for a while says so over its last picture,
// as the single view does; the note goes with the next picture.
void StatusTexts::markStalledTiles()
{
    bool changed = false;
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        const CameraId shown = gridShown() ? playback_.tileCamera(p) : CameraId{};
        const StreamController* s = shown.valid() ? playback_.stream(shown) : nullptr;
        const int seconds = s ? s->stalledSeconds() : 0;
        std::u16string note = seconds ? Language::format(u"NO_PICTURE", {seconds}) : u"";
        if (note != tileNotes_[size_t(p)]) {
            tileNotes_[size_t(p)] = std::move(note);
            changed = true;
        }
    }
    if (changed)
        view_.refreshTiles();
}

std::u16string StatusTexts::videoNotice() const
{
    std::u16string notice;
    const StreamController* s = playback_.singleStream();
    const bool full = playback_.single().fullScreen();
    // A stream that cannot be shown is no stalled picture: say that, not how long none came
    // (in full screen there is no status row to say it).
    if (s && s->state() == StreamController::State::CodecError)
        notice = full ? Language::text(u"CODEC_ERR") : u"";
    else if (const int seconds = s ? s->stalledSeconds() : 0)
        notice = Language::format(u"NO_PICTURE", {seconds});
    // Full screen has no status row: the recovery and the tour's state are told over the picture.
    for (const std::u16string& more : {full ? host_.recoveryNote() : std::u16string(),
                                       full ? host_.tourText() : std::u16string()})
        if (!more.empty())
            notice += (notice.empty() ? u"" : u"\n") + more;
    return notice;
}

void StatusTexts::toggleStats()
{
    statsShown_ = !statsShown_;
    statsDrawnMs_ = Clock::nowMs();
    view_.refreshTiles();
    view_.refreshNotice();
}

std::u16string StatusTexts::statsText(const StreamController* stream)
{
    if (!stream)
        return {};
    std::u16string text;
    for (const auto& [key, value] : StreamStats::overlayRows(stream->figures()))
        text += (text.empty() ? u"" : u"\n") + Language::text(key) + u" " + fromUtf8(value);
    return text;
}

std::u16string StatusTexts::singleStats() const
{
    if (!statsShown_ || gridShown())
        return {};
    return statsText(playback_.singleStream());
}

}   // namespace kevra
