// The viewer's own settings kept in login.ini beside the login: the recorder's stream numbers
// for grid tiles and for a camera shown alone (section "login", TileStream0 / SingleStream0,
// numbered like IP0 so each remembered recorder has its own), whether the viewer logs in again
// by itself (AutoReconnect), the low-latency live view (LowLatency), and in section "viewer" the folders for pictures and clips and the
// language. Read and written on the user-interface thread through ProfileFile and
// SettingsFolder, like the login.
#pragma once
#include <cstdint>
#include <string>

namespace kevra {

struct ViewerSettings {
    // What a stream number means is the recorder's; the viewer only sends it. 1 is what the
    // viewer always sent, so both default to it.
    static constexpr int kDefaultStream = 1;
    static constexpr int kMaxStream = 255;   // the request carries it in one byte

    int tileStream = kDefaultStream;
    int singleStream = kDefaultStream;
    bool autoReconnect = true;
    bool lowLatency = false;
    std::u16string pictureFolder;   // empty: the user's pictures folder
    std::u16string clipFolder;      // empty: the user's videos folder
    std::u16string language;        // kEnglish, kChinese, or empty: from the locale

    // In LoginSettings' section, beside its AutoReconnect and LowLatency keys.
    static constexpr const char16_t* kTileStreamKey = u"TileStream";       // + recorder number
    static constexpr const char16_t* kSingleStreamKey = u"SingleStream";   // + recorder number
    static constexpr const char16_t* kSection = u"viewer";
    static constexpr const char16_t* kPictureFolderKey = u"PictureFolder";
    static constexpr const char16_t* kClipFolderKey = u"ClipFolder";
    static constexpr const char16_t* kLanguageKey = u"Language";
    static constexpr const char16_t* kEnglish = u"eng";
    static constexpr const char16_t* kChinese = u"chn";

    bool operator==(const ViewerSettings&) const = default;

    // Reads the settings of recorder number `recorder` (0 for IP0); anything missing or out of
    // range (a stream number outside 0 .. kMaxStream, an unknown language) gives its default.
    static ViewerSettings load(const std::u16string& loginPath, int recorder = 0);
    // Writes every value; 1 when all were written.
    static int save(const std::u16string& loginPath, const ViewerSettings& s, int recorder = 0);
    static int clampStream(int stream);
};

}   // namespace kevra
