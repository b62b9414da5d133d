#include "profile/RecorderList.h"

#include "profile/LoginSettings.h"
#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"

#include <string>

namespace kevra {

namespace {

const char16_t* const kBases[] = {u"IP", u"Port", u"User", u"Pwd", RecorderList::kNameKey};

std::u16string number(int value)
{
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// A value that would end its line early (or hide in it) cannot be stored.
bool storable(const std::u16string& value)
{
    return value.find_first_of(std::u16string(u"\r\n\0", 3)) == std::u16string::npos;
}

}   // namespace

std::u16string RecorderList::key(const char16_t* base, int index)
{
    return base + number(index);
}

std::u16string RecorderList::displayName(const Recorder& r)
{
    return r.name.empty() ? r.ip + u":" + number(r.port) : r.name;
}

std::vector<RecorderList::Recorder> RecorderList::load(const std::u16string& file)
{
    const std::u16string path = SettingsFolder::readPath(file);
    const std::u16string section = LoginSettings::kSection;
    const LoginSettings first = LoginSettings::load(file);
    std::vector<Recorder> list;
    list.push_back({first.ip, first.port, first.user, first.password,
                    ProfileFile::ReadString(section, key(kNameKey, 0), u"", path)});
    // No stored value can hold a line end: this default tells a missing key.
    const std::u16string missing = u"\r\n";
    for (int i = 1; i < kMaxRecorders; ++i) {
        Recorder r;
        r.ip = ProfileFile::ReadString(section, key(u"IP", i), missing, path);
        if (r.ip == missing)
            continue;
        r.port = ProfileFile::ReadInt(section, key(u"Port", i), LoginSettings::kDefaultPort, path);
        r.user =
            ProfileFile::ReadString(section, key(u"User", i), LoginSettings::kDefaultUser, path);
        r.password =
            ProfileFile::ReadString(section, key(u"Pwd", i), LoginSettings::kDefaultPassword, path);
        r.name = ProfileFile::ReadString(section, key(kNameKey, i), u"", path);
        list.push_back(std::move(r));
    }
    return list;
}

int RecorderList::save(const std::u16string& path, const std::vector<Recorder>& recorders)
{
    if (recorders.empty() || recorders.size() > size_t(kMaxRecorders))
        return 0;
    std::vector<std::pair<std::u16string, std::u16string>> values;
    std::vector<std::u16string> remove;
    for (int i = 0; i < int(recorders.size()); ++i) {
        const Recorder& r = recorders[size_t(i)];
        if (!storable(r.ip) || !storable(r.user) || !storable(r.password) || !storable(r.name) ||
            r.name.find(u'=') != std::u16string::npos)
            return 0;
        if (i > 0) {
            values.emplace_back(key(u"IP", i), r.ip);
            values.emplace_back(key(u"Port", i), number(r.port));
            values.emplace_back(key(u"User", i), r.user);
            values.emplace_back(key(u"Pwd", i), r.password);
        }
        if (r.name.empty())
            remove.push_back(key(kNameKey, i));
        else
            values.emplace_back(key(kNameKey, i), r.name);
    }
    for (int i = int(recorders.size()); i < kMaxRecorders; ++i)
        for (const char16_t* base : kBases)
            remove.push_back(key(base, i));
    if (!SettingsFolder::prepareWrite(path))
        return 0;
    return ProfileFile::UpdateSection(LoginSettings::kSection, values, remove, path);
}

}   // namespace kevra
