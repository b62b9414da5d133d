#include "profile/LoginSettings.h"

#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"

namespace kevra {

std::u16string LoginSettings::pathIn(const std::u16string& applicationDirectory)
{
    return applicationDirectory + kFileName;
}

LoginSettings LoginSettings::load(const std::u16string& file)
{
    const std::u16string path = SettingsFolder::readPath(file);
    LoginSettings s;
    s.ip = ProfileFile::ReadString(kSection, kIpKey, kDefaultIp, path);
    s.port = ProfileFile::ReadInt(kSection, kPortKey, kDefaultPort, path);
    s.user = ProfileFile::ReadString(kSection, kUserKey, kDefaultUser, path);
    s.password = ProfileFile::ReadString(kSection, kPasswordKey, kDefaultPassword, path);
    s.autoReconnect = ProfileFile::ReadInt(kSection, kAutoReconnectKey, 1, path) != 0;
    s.lowLatency = ProfileFile::ReadInt(kSection, kLowLatencyKey, 0, path) != 0;
    return s;
}

int LoginSettings::save(const std::u16string& path, const std::u16string& ip,
                        const std::u16string& portText, const std::u16string& user,
                        const std::u16string& password)
{
    if (!SettingsFolder::prepareWrite(path))
        return 0;
    // Every write is attempted even when an earlier one failed.
    int ok = ProfileFile::WriteString(kSection, kIpKey, ip, path);
    ok &= ProfileFile::WriteString(kSection, kPortKey, portText, path);
    ok &= ProfileFile::WriteString(kSection, kUserKey, user, path);
    ok &= ProfileFile::WriteString(kSection, kPasswordKey, password, path);
    return ok;
}

int LoginSettings::saveLowLatency(const std::u16string& path, bool on)
{
    if (!SettingsFolder::prepareWrite(path))
        return 0;
    return ProfileFile::WriteString(kSection, kLowLatencyKey, on ? u"1" : u"0", path);
}

}   // namespace kevra
