// The live pages the gateway serves to browsers, built from templates in this program with
// their texts from the language files: the view of one camera, the 2 x 2 grid, and the script
// both share (WHEP playback, states, reconnection, PTZ). Nothing on them is fetched from
// elsewhere. Pure functions of their arguments (plus the language files); any thread.
#pragma once
#include <map>
#include <string>

namespace kevra::gateway {

class WebPages {
public:
    // "chn" when the browser's Accept-Language puts Chinese before English, else "eng".
    static std::string languageFor(const std::string& acceptLanguage);
    static std::string view(const std::string& languageDir, const std::string& language,
                            const std::string& path, const std::string& name);
    static std::string grid(const std::string& languageDir, const std::string& language);
    static const std::string& script();
    // Replaces each {{KEY}} in `page` in one pass: by `values[KEY]` as it is (already escaped
    // for its place), {{TEXTS}} by a JSON object of every WEB_ text the script uses, any other
    // by the text of WEB_KEY, HTML-escaped. Public for tests.
    static std::string fill(const std::string& page, const std::string& languageFile,
                            const std::map<std::string, std::string>& values);
};

}   // namespace kevra::gateway
