// The recorders the viewer logs in to, kept in login.ini's "login" section beside the first
// recorder's login: recorder 0 is IP0/Port0/User0/Pwd0 exactly as LoginSettings reads and the
// login dialog writes them; further recorders are IP1/Port1/User1/Pwd1, IP2/… in the same
// section, and NameN is the display name of recorder N. Plain values and static functions;
// loaded and saved on the user-interface thread (reading is safe on any thread).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class RecorderList {
public:
    struct Recorder {
        std::u16string ip;
        int32_t port = 0;
        std::u16string user;
        std::u16string password;
        std::u16string name;   // "" when the user gave none
        bool operator==(const Recorder&) const = default;
    };

    // Recorders 0 .. kMaxRecorders - 1; one network thread each while logged in.
    static constexpr int kMaxRecorders = 8;
    // The login dialog's recorder: IP0/Port0 of the file, the one views.ini belongs to.
    static constexpr int kDialogRecorder = 0;
    static constexpr const char16_t* kNameKey = u"Name";

    // Key of recorder `index` for a base key: (u"IP", 2) gives u"IP2".
    static std::u16string key(const char16_t* base, int index);

    // The name shown for a recorder: its display name, else "address:port".
    static std::u16string displayName(const Recorder& r);

    // Recorder 0 always (LoginSettings' defaults for missing keys), then every further index
    // whose IP key is present, in index order; a gap in the numbering is closed up. A file of
    // the user's settings folder that is missing is read from the fallback folder.
    static std::vector<Recorder> load(const std::u16string& path);

    // Writes recorders 1.. as IP1/Port1/User1/Pwd1/Name1, … and every display name, and removes
    // the keys of indices beyond the list, all in one replacement of the file (a new file is
    // owner-only). Recorder 0's IP0/Port0/User0/Pwd0 are left as the login dialog wrote them.
    // Refuses (0, nothing written) a list that is empty, longer than kMaxRecorders, or holds a
    // value with a line break or NUL, or a display name with '='; 1 when written.
    static int save(const std::u16string& path, const std::vector<Recorder>& recorders);
};

}   // namespace kevra
