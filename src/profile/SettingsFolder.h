// Where the viewer keeps its settings files (login.ini, views.ini): the user's configuration
// folder, $XDG_CONFIG_HOME/kevra/ or ~/.config/kevra/, made owner-only. A file of the same name in
// the fallback folder (the program's own folder, where earlier versions kept them) is read while
// the user's folder has none, and copied there the first time it is written, so no key is lost.
// setFallbackFolder() runs once on the main thread before other threads start; everything else
// runs on the user-interface thread (the environment is read on each call).
#pragma once
#include <string>

namespace kevra {

class SettingsFolder {
public:
    // The user's folder, ending with '/'; empty when neither variable gives an absolute path.
    static std::u16string userFolder();
    // The same from given values of XDG_CONFIG_HOME and HOME (null for unset). A relative
    // XDG_CONFIG_HOME is ignored, as the base directory rules require.
    static std::u16string folderFrom(const char* xdgConfigHome, const char* home);

    // The folder whose files stand in for missing ones of the user's folder ('/'-terminated).
    static void setFallbackFolder(const std::u16string& folder);

    // The file to read for `path`: path itself when it exists or lies outside the user's folder;
    // else the fallback folder's file of the same name when that exists; else path.
    static std::u16string readPath(const std::u16string& path);

    // Before `path` is written: when it lies in the user's folder, makes that folder (0700, and
    // any missing parent 0700) and, when the file is missing and the fallback folder has one,
    // copies it there (0600). False when the folder cannot be made; paths elsewhere give true.
    static bool prepareWrite(const std::u16string& path);

    static constexpr const char* kFolderName = "kevra";
};

}   // namespace kevra
