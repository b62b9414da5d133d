#include "profile/ViewSettings.h"

#include "profile/DecimalText.h"
#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"

#include <string>
#include <utility>
#include <vector>

namespace kevra {

namespace {

std::u16string ascii(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

std::u16string tileKey(int i)
{
    return ViewSettings::kTileKey + ascii(std::to_string(i));
}

std::u16string sourceKey(int i)
{
    return ViewSettings::kSourceKey + ascii(std::to_string(i));
}

bool isLayout(int n)
{
    return n == 1 || n == 4 || n == 9 || n == 16;
}

}   // namespace

std::u16string ViewSettings::pathIn(const std::u16string& applicationDirectory)
{
    return applicationDirectory + kFileName;
}

std::u16string ViewSettings::recorderName(const std::u16string& address, int32_t port)
{
    for (char16_t c : address)
        if (c < u' ' || c == u'=' || c == u'[' || c == u']' || c == 0x7F)
            return u"";
    return address + u':' + ascii(std::to_string(port));
}

bool ViewSettings::isRecorderName(const std::u16string& name)
{
    const size_t colon = name.rfind(u':');
    if (colon == std::u16string::npos || colon == 0 || name.size() > 300 ||
        colon + 1 == name.size())
        return false;
    for (size_t i = colon + 1; i < name.size(); ++i)
        if (name[i] < u'0' || name[i] > u'9')
            return false;
    return ViewSettings::recorderName(name.substr(0, colon), 0).size() > 0;
}

ViewSettings ViewSettings::load(const std::u16string& file, const std::u16string& recorder)
{
    const std::u16string path = SettingsFolder::readPath(file);
    const ViewSettings fallback;
    if (recorder.empty() || ProfileFile::ReadString(kSection, kRecorderKey, u"", path) != recorder)
        return fallback;
    ViewSettings v;
    if (!parseDecimal(ProfileFile::ReadString(kSection, kLayoutKey, u"", path), v.layout) ||
        !isLayout(v.layout))
        return fallback;
    for (int i = 0; i < v.layout; ++i) {
        int ch = kNone;
        if (!parseDecimal(ProfileFile::ReadString(kSection, tileKey(i), u"", path), ch) ||
            ch < kNone || ch > kMaxChannel)
            return fallback;
        std::u16string source = ProfileFile::ReadString(kSection, sourceKey(i), u"", path);
        if (!source.empty() && !isRecorderName(source))
            return fallback;
        if (source == recorder)
            source.clear();
        for (int j = 0; j < i; ++j)
            if (ch != kNone && v.tiles[size_t(j)] == ch && v.sources[size_t(j)] == source)
                return fallback;
        v.tiles[size_t(i)] = ch;
        if (ch != kNone)
            v.sources[size_t(i)] = std::move(source);
    }
    int zoomed = kNone;
    if (v.layout > 1 &&
        parseDecimal(ProfileFile::ReadString(kSection, kZoomedKey, u"", path), zoomed) &&
        zoomed >= 0 && zoomed < v.layout && v.tiles[size_t(zoomed)] != kNone)
        v.zoomed = zoomed;
    return v;
}

int ViewSettings::save(const std::u16string& path, const std::u16string& recorder,
                       const ViewSettings& view)
{
    if (recorder.empty() || !isLayout(view.layout) || !SettingsFolder::prepareWrite(path))
        return 0;
    std::vector<std::pair<std::u16string, std::u16string>> values;
    std::vector<std::u16string> removed;
    values.emplace_back(kRecorderKey, recorder);
    values.emplace_back(kLayoutKey, ascii(std::to_string(view.layout)));
    for (int i = 0; i < kMaxTiles; ++i) {
        int ch = i < view.layout ? view.tiles[size_t(i)] : kNone;
        if (ch < kNone || ch > kMaxChannel)
            ch = kNone;
        values.emplace_back(tileKey(i), ascii(std::to_string(ch)));
        const std::u16string& source = view.sources[size_t(i)];
        // Every key is written, an empty Source for the first recorder: a key missing here would
        // be looked for (and written) in the sections after this one, the walls'.
        const bool other = ch != kNone && source != recorder && isRecorderName(source);
        values.emplace_back(sourceKey(i), other ? source : std::u16string());
    }
    if (view.layout > 1 && view.zoomed >= 0 && view.zoomed < view.layout)
        values.emplace_back(kZoomedKey, ascii(std::to_string(view.zoomed)));
    else
        removed.push_back(kZoomedKey);
    return ProfileFile::UpdateSection(kSection, values, removed, path);
}

}   // namespace kevra
