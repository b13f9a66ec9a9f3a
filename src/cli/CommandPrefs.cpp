#include "Cli.h"
#include "Json.h"
#include "model/APrefs.h"

#include <cstdio>

namespace cardmill {

int CommandPrefs(CliApp& app)
{
    APrefs& prefs = app.controller->Prefs();
    std::vector<std::string> shown;
    // What each change replaced: a refused value leaves every preference as it was, since the
    // settings are saved again when the program ends.
    std::vector<std::pair<std::string, std::string>> replaced;
    const auto refuse = [&](const std::string& message) {
        for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
            std::string ignored;
            prefs.SetValue(it->first, it->second, ignored);
        }
        return UsageError("prefs", message);
    };
    for (const std::string& arg : app.options.args) {
        if (!arg.empty() && arg[0] == '-')
            return refuse("unknown option " + arg);
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (!APrefs::FindKey(name)) {
            std::string names;
            for (const APrefs::Key& key : APrefs::kKeys)
                names += std::string(names.empty() ? "" : " ") + key.name;
            return refuse("unknown preference '" + name + "' (the preferences: " + names + ")");
        }
        if (equals == std::string::npos) {
            shown.push_back(name);
            continue;
        }
        std::string error;
        const std::string before = *prefs.GetValue(name);
        if (!prefs.SetValue(name, arg.substr(equals + 1), error))
            return refuse(error);
        replaced.emplace_back(name, before);
    }
    const bool changed = !replaced.empty();
    if (changed && !prefs.Save()) {
        std::fprintf(stderr, "cardmill prefs: the settings file %s could not be written\n",
            app.settings->Path().c_str());
        return kFailed;
    }

    if (!shown.empty()) {
        for (const std::string& name : shown)
            std::printf("%s\n", prefs.GetValue(name)->c_str());
        return kSuccess;
    }
    if (changed)
        return kSuccess;

    if (app.options.json) {
        JsonWriter json;
        json.BeginObject();
        std::string section;
        for (const APrefs::Key& key : APrefs::kKeys) {
            if (section != key.section) {
                if (!section.empty())
                    json.EndObject();
                section = key.section;
                json.Key(section).BeginObject();
            }
            const std::string value = *prefs.GetValue(key.name);
            if (key.kind == APrefs::Kind::Number)
                json.Field(key.name, std::stol(value));
            else
                json.Field(key.name, value);
        }
        json.EndObject().EndObject();
        std::fputs(json.Text().c_str(), stdout);
        return kSuccess;
    }
    std::string section;
    for (const APrefs::Key& key : APrefs::kKeys) {
        if (section != key.section) {
            section = key.section;
            std::printf("[%s]\n", key.section);
        }
        std::printf("%s=%s\n", key.name, prefs.GetValue(key.name)->c_str());
    }
    return kSuccess;
}

} // namespace cardmill
