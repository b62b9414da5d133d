// The remembered login (recorder address, port, user name, password) in login.ini, section
// "login", and whether the viewer logs in again by itself after a lost connection. Loaded when the login dialog opens and saved when the user chooses Login, both on
// the user-interface thread.
#pragma once
#include <cstdint>
#include <string>

namespace kevra {

struct LoginSettings {
    std::u16string ip;
    int32_t port = 0;
    std::u16string user;
    std::u16string password;
    bool autoReconnect = true;
    bool lowLatency = false;

    static constexpr const char16_t* kFileName = u"login.ini";
    static constexpr const char16_t* kSection = u"login";
    static constexpr const char16_t* kIpKey = u"IP0";
    static constexpr const char16_t* kPortKey = u"Port0";
    static constexpr const char16_t* kUserKey = u"User0";
    static constexpr const char16_t* kPasswordKey = u"Pwd0";
    // A value that reads as the number 0 (as Port0 is read: "0", "", "off") turns automatic
    // reconnection off; a missing key or any other number leaves it on. Only read: the user
    // writes it by hand, and save() leaves it in place.
    static constexpr const char16_t* kAutoReconnectKey = u"AutoReconnect";

    // Low-latency live view: 1 turns it on (the viewer shows the newest picture and catches up
    // after a network stall), 0 or a missing key keeps every frame in turn. Written by the
    // viewer's toggle (saveLowLatency); save() leaves it in place.
    static constexpr const char16_t* kLowLatencyKey = u"LowLatency";

    static constexpr const char16_t* kDefaultIp = u"0.0.0.0";
    static constexpr int32_t kDefaultPort = 34567;
    static constexpr const char16_t* kDefaultUser = u"admin";
    static constexpr const char16_t* kDefaultPassword = u"580317";

    // login.ini in the given folder (the bare name when the folder is empty).
    static std::u16string pathIn(const std::u16string& applicationDirectory);

    // Reads IP0, Port0, User0, Pwd0, AutoReconnect, LowLatency in that order; each missing value gives its
    // default. A file of the user's settings folder that is missing is read from the fallback
    // folder (see SettingsFolder). Nothing is written: a missing file stays missing.
    static LoginSettings load(const std::u16string& path);

    // Writes IP0, Port0 (the port field's text as typed), User0, Pwd0 in that order, after
    // SettingsFolder::prepareWrite.
    // 1 when all four were written, 0 otherwise (callers may ignore it).
    static int save(const std::u16string& path, const std::u16string& ip,
                    const std::u16string& portText, const std::u16string& user,
                    const std::u16string& password);
    // Writes LowLatency (1 or 0) alone, after SettingsFolder::prepareWrite. 1 when written.
    static int saveLowLatency(const std::u16string& path, bool on);
};

}   // namespace kevra
