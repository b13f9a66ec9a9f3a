#include "model/instrument/DecentSamplerParser.h"

#include "model/TextFields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <expat.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

namespace cardmill {

namespace {

using Attributes = std::map<std::string, std::string>;

// The attributes the card's instrument takes; every other attribute of <groups>, <group> and
// <sample> is reported. Names as DecentSampler writes them (it ignores case).
const std::set<std::string> kTaken { "path", "rootnote", "lonote", "hinote", "lovel", "hivel",
    "loopenabled", "loopstart", "loopend", "tuning", "volume", "start", "name", "enabled" };
// Attributes that change nothing that is heard.
const std::set<std::string> kSilent { "name", "tags", "seqmode", "seqlength", "silencedbytags",
    "silencingmode", "ampvelocitytrack" };

std::optional<double> Number(const std::string& text)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop == text.data())
        return std::nullopt;
    return value;
}

/// A volume as DecentSampler takes it: "-3dB" in decibels, else a linear gain.
std::optional<double> Decibels(const std::string& text)
{
    const auto value = Number(text);
    if (!value)
        return std::nullopt;
    if (text.size() > 2 && EqualsIgnoringCase(text.substr(text.size() - 2), "db"))
        return *value;
    if (*value <= 0.0)
        return -144.0;
    return 20.0 * std::log10(*value);
}

struct Parser {
    const std::string& fileName;
    const SfzLimits& limits;
    XML_Parser xml = nullptr;
    SfzDocument document;
    std::vector<std::pair<std::string, Attributes>> open; // element name (lower case), attributes

    void Drop(int line, const std::string& what, std::string reason)
    {
        if (document.dropped.size() < limits.maxDropped)
            document.dropped.push_back({ fileName, line, what, std::move(reason) });
    }

    void Start(const char* name, const char** pairs)
    {
        std::string element = LowerAscii(name);
        Attributes attributes;
        for (int i = 0; pairs[i] && pairs[i + 1]; i += 2)
            attributes[LowerAscii(pairs[i])] = pairs[i + 1];
        const int line = static_cast<int>(XML_GetCurrentLineNumber(xml));
        const std::string parent = open.empty() ? std::string() : open.back().first;
        if (element == "sample" && parent == "group")
            Sample(line, attributes);
        else if (element == "group" && parent == "groups")
            Report(line, attributes);
        else if (element == "groups" && parent == "decentsampler")
            Report(line, attributes);
        else if (parent == "sample" || parent == "group")
            Drop(line, "<" + element + ">", "not on the card");
        else if (parent == "decentsampler" && element == "effects")
            Drop(line, "<effects>", "not on the card");
        open.emplace_back(std::move(element), std::move(attributes));
    }

    void End() { open.pop_back(); }

    /// The attributes of <groups> and <group> are told once, where they stand.
    void Report(int line, const Attributes& attributes)
    {
        for (const auto& [name, value] : attributes)
            if (!kTaken.contains(name) && !kSilent.contains(name))
                Drop(line, name, "not on the card");
    }

    std::optional<std::string> Inherited(const Attributes& sample, const std::string& name) const
    {
        if (const auto own = sample.find(name); own != sample.end())
            return own->second;
        for (auto level = open.rbegin(); level != open.rend(); ++level)
            if (const auto found = level->second.find(name); found != level->second.end())
                return found->second;
        return std::nullopt;
    }

    void Sample(int line, const Attributes& attributes)
    {
        if (document.regions.size() >= limits.maxRegions) {
            Drop(line, "<sample>", "more samples than the reader takes; left out");
            return;
        }
        for (const auto& [name, value] : attributes)
            if (!kTaken.contains(name) && !kSilent.contains(name))
                Drop(line, name, "not on the card");
        const auto enabled = Inherited(attributes, "enabled");
        if (enabled && EqualsIgnoringCase(*enabled, "false"))
            return;
        const auto path = attributes.find("path");
        if (path == attributes.end() || path->second.empty()) {
            Drop(line, "<sample>", "names no sample file; left out");
            return;
        }
        SfzRegion region;
        region.file = region.sampleFile = fileName;
        region.line = region.sampleLine = line;
        region.sample = path->second;
        for (char& c : region.sample)
            if (c == '\\')
                c = '/';
        auto key = [&](const char* name, int fallback) {
            const auto text = Inherited(attributes, name);
            if (!text)
                return fallback;
            const auto value = ParseSfzKey(*text);
            if (!value) {
                Drop(line, name,
                    "'" + *text + "' is no note; " + std::to_string(fallback) + " is used");
                return fallback;
            }
            return *value;
        };
        auto number = [&](const char* name) -> std::optional<double> {
            const auto text = Inherited(attributes, name);
            if (!text)
                return std::nullopt;
            const auto value = Number(*text);
            if (!value || !std::isfinite(*value) || std::abs(*value) > 1e12)
                Drop(line, name, "'" + *text + "' is no number; left out");
            return value && std::isfinite(*value) && std::abs(*value) <= 1e12 ? value
                                                                              : std::nullopt;
        };
        region.lokey = key("lonote", 0);
        region.hikey = key("hinote", 127);
        region.keycenter = key("rootnote", 60);
        region.lovel = key("lovel", 1);
        region.hivel = key("hivel", 127);
        // Tuning (semitones, fractions allowed) and volume add up over the levels.
        auto summed = [&](const char* name, std::optional<double> (*value)(const std::string&)) {
            double total = 0.0;
            for (const auto& level : open)
                if (const auto found = level.second.find(name); found != level.second.end())
                    total += value(found->second).value_or(0.0);
            if (const auto own = attributes.find(name); own != attributes.end())
                total += value(own->second).value_or(0.0);
            return total;
        };
        const double semitones = summed("tuning", &Number);
        region.tune = static_cast<int>(std::lround(std::clamp(semitones, -127.0, 127.0) * 100.0));
        region.volume = std::max(summed("volume", &Decibels), -144.0);
        if (const auto start = number("start"))
            region.offset = static_cast<std::int64_t>(std::max(0.0, *start));
        if (const auto loop = Inherited(attributes, "loopenabled"))
            region.loopMode
                = EqualsIgnoringCase(*loop, "true") ? SfzLoopMode::Continuous : SfzLoopMode::NoLoop;
        if (const auto start = number("loopstart"))
            region.loopStart = static_cast<std::int64_t>(std::max(0.0, *start));
        if (const auto end = number("loopend"))
            region.loopEnd = static_cast<std::int64_t>(std::max(0.0, *end));
        document.regions.push_back(std::move(region));
    }
};

} // namespace

SfzDocument ParseDecentSampler(
    std::string_view text, const std::string& fileName, const SfzLimits& limits)
{
    Parser parser { fileName, limits, nullptr, {}, {} };
    if (text.size() > limits.maxFileBytes) {
        parser.Drop(0, "", "the file is larger than the reader takes");
        return parser.document;
    }
    const std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> xml(
        XML_ParserCreate(nullptr), &XML_ParserFree);
    if (!xml) {
        parser.Drop(0, "", "no memory to read it");
        return parser.document;
    }
    parser.xml = xml.get();
    XML_SetUserData(xml.get(), &parser);
    XML_SetElementHandler(
        xml.get(),
        [](void* self, const char* name, const char** attributes) {
            static_cast<Parser*>(self)->Start(name, attributes);
        },
        [](void* self, const char*) { static_cast<Parser*>(self)->End(); });
    if (XML_Parse(xml.get(), text.data(), static_cast<int>(text.size()), XML_TRUE)
        == XML_STATUS_ERROR) {
        parser.document.regions.clear();
        parser.Drop(static_cast<int>(XML_GetCurrentLineNumber(xml.get())), "",
            std::string("it is no XML: ") + XML_ErrorString(XML_GetErrorCode(xml.get())));
    }
    return parser.document;
}

} // namespace cardmill
