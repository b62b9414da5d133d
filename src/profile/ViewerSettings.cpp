#include "profile/ViewerSettings.h"

#include "profile/LoginSettings.h"
#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"

#include <string>

namespace kevra {

namespace {

std::u16string numbered(const char16_t* key, int recorder)
{
    const std::string n = std::to_string(recorder < 0 ? 0 : recorder);
    return std::u16string(key) + std::u16string(n.begin(), n.end());
}

std::u16string number(int value)
{
    const std::string n = std::to_string(value);
    return std::u16string(n.begin(), n.end());
}

}   // namespace

int ViewerSettings::clampStream(int stream)
{
    return stream < 0 || stream > kMaxStream ? kDefaultStream : stream;
}

ViewerSettings ViewerSettings::load(const std::u16string& loginPath, int recorder)
{
    const std::u16string path = SettingsFolder::readPath(loginPath);
    ViewerSettings s;
    s.tileStream = clampStream(ProfileFile::ReadInt(
        LoginSettings::kSection, numbered(kTileStreamKey, recorder), kDefaultStream, path));
    s.singleStream = clampStream(ProfileFile::ReadInt(
        LoginSettings::kSection, numbered(kSingleStreamKey, recorder), kDefaultStream, path));
    s.autoReconnect = ProfileFile::ReadInt(LoginSettings::kSection,
                                           LoginSettings::kAutoReconnectKey, 1, path) != 0;
    s.lowLatency =
        ProfileFile::ReadInt(LoginSettings::kSection, LoginSettings::kLowLatencyKey, 0, path) != 0;
    s.pictureFolder = ProfileFile::ReadString(kSection, kPictureFolderKey, u"", path);
    s.clipFolder = ProfileFile::ReadString(kSection, kClipFolderKey, u"", path);
    s.language = ProfileFile::ReadString(kSection, kLanguageKey, u"", path);
    if (s.language != kEnglish && s.language != kChinese)
        s.language.clear();
    return s;
}

int ViewerSettings::save(const std::u16string& loginPath, const ViewerSettings& s, int recorder)
{
    if (!SettingsFolder::prepareWrite(loginPath))
        return 0;
    // One replacement of the file per section: a reader sees all of a section or none of it.
    int ok = ProfileFile::WriteStrings(
        LoginSettings::kSection,
        {{numbered(kTileStreamKey, recorder), number(clampStream(s.tileStream))},
         {numbered(kSingleStreamKey, recorder), number(clampStream(s.singleStream))},
         {LoginSettings::kAutoReconnectKey, s.autoReconnect ? u"1" : u"0"},
         {LoginSettings::kLowLatencyKey, s.lowLatency ? u"1" : u"0"}},
        loginPath);
    ok &= ProfileFile::WriteStrings(kSection,
                                    {{kPictureFolderKey, s.pictureFolder},
                                     {kClipFolderKey, s.clipFolder},
                                     {kLanguageKey, s.language}},
                                    loginPath);
    return ok;
}

}   // namespace kevra
