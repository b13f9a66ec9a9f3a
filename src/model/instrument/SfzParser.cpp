#include "model/instrument/SfzParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

namespace cardmill {

std::string SfzDropped::Text() const
{
    // Line 0: a place in a binary file, which `file` names in words.
    std::string text = file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": ";
    if (!opcode.empty())
        text += opcode + ": ";
    return text + reason;
}

std::optional<int> ParseSfzKey(std::string_view text)
{
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error == std::errc() && end == text.data() + text.size())
        return number;
    if (text.empty())
        return std::nullopt;
    static constexpr int kSteps[7] = { 9, 11, 0, 2, 4, 5, 7 }; // a b c d e f g
    const char letter = static_cast<char>(text[0] | 0x20);
    if (letter < 'a' || letter > 'g')
        return std::nullopt;
    int step = kSteps[letter - 'a'];
    std::size_t at = 1;
    if (at < text.size() && text[at] == '#') {
        ++step;
        ++at;
    } else if (at < text.size() && text[at] == 'b') {
        --step;
        ++at;
    }
    int octave = 0;
    const auto [octaveEnd, octaveError]
        = std::from_chars(text.data() + at, text.data() + text.size(), octave);
    if (octaveError != std::errc() || octaveEnd != text.data() + text.size() || octave < -1
        || octave > 9)
        return std::nullopt;
    return (octave + 1) * 12 + step;
}

namespace {

struct Opcode {
    std::string name;
    std::string value;
    const std::string* file;
    int line;
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
        || c == '$';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<double> ParseNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

/// Opcodes the card does not use whose value here is the SFZ default: nothing is lost.
bool IsDefaultValue(const std::string& name, const std::string& value)
{
    static const std::map<std::string, std::string> kDefaults = { { "pitch_keytrack", "100" },
        { "amp_veltrack", "100" }, { "pan", "0" }, { "seq_length", "1" }, { "seq_position", "1" },
        { "trigger", "attack" }, { "lochan", "1" }, { "hichan", "16" }, { "pitch", "0" } };
    const auto it = kDefaults.find(name);
    return it != kDefaults.end() && it->second == value;
}

class Parser {
public:
    Parser(const SfzIncludeReader& reader, const SfzLimits& bounds)
        : includes(reader)
        , limits(bounds)
    {
    }

    void ParseText(std::string_view text, const std::string& file, int depth)
    {
        // Editors on Windows begin UTF-8 text with a byte order mark; it is no part of the text.
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        const std::string* name = &*fileNames.insert(file).first;
        bool inComment = false;
        int lineNumber = 0;
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            const std::string_view line = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++lineNumber;
            if (line.size() > limits.maxLineBytes) {
                Drop(*name, lineNumber, "", "the line is longer than the reader takes; skipped");
                continue;
            }
            std::string clean = StripComments(line, inComment);
            Directive(clean, *name, lineNumber, depth);
        }
    }

    SfzDocument Finish()
    {
        CloseRegion();
        return std::move(document);
    }

private:
    std::string StripComments(std::string_view line, bool& inComment)
    {
        std::string out;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (inComment) {
                if (line[i] == '*' && i + 1 < line.size() && line[i + 1] == '/') {
                    inComment = false;
                    ++i;
                }
                continue;
            }
            if (line[i] == '/' && i + 1 < line.size() && line[i + 1] == '/')
                break;
            if (line[i] == '/' && i + 1 < line.size() && line[i + 1] == '*') {
                inComment = true;
                ++i;
                out += ' ';
                continue;
            }
            out += line[i];
        }
        return out;
    }

    void Directive(const std::string& line, const std::string& file, int lineNumber, int depth)
    {
        const std::string_view text = Trim(line);
        if (text.starts_with("#define")) {
            Define(Trim(text.substr(7)), file, lineNumber);
            return;
        }
        if (text.starts_with("#include")) {
            Include(Trim(text.substr(8)), file, lineNumber, depth);
            return;
        }
        const auto expanded = Expand(line);
        if (!expanded) {
            Drop(file, lineNumber, "", "the line grows too long with its #define values; skipped");
            return;
        }
        Tokens(*expanded, file, lineNumber);
    }

    void Define(std::string_view text, const std::string& file, int line)
    {
        std::size_t nameEnd = 0;
        while (nameEnd < text.size() && !IsSpace(text[nameEnd]))
            ++nameEnd;
        const std::string_view name = text.substr(0, nameEnd);
        if (name.size() < 2 || name[0] != '$'
            || !std::all_of(name.begin() + 1, name.end(), IsNameChar)) {
            Drop(file, line, "#define", "not a $NAME and a value");
            return;
        }
        const auto value = Expand(Trim(text.substr(nameEnd)));
        if (!value) {
            Drop(file, line, "#define", "the value is too long");
            return;
        }
        const auto known = std::find_if(
            defines.begin(), defines.end(), [&](const auto& entry) { return entry.first == name; });
        if (known != defines.end()) {
            known->second = *value;
        } else if (defines.size() >= limits.maxDefines) {
            Drop(file, line, "#define", "too many definitions");
        } else {
            defines.emplace_back(std::string(name), *value);
            // The longest name first, so that $NOTE is not taken for $NO followed by "TE".
            std::stable_sort(defines.begin(), defines.end(),
                [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        }
    }

    std::optional<std::string> Expand(std::string_view line) const
    {
        std::string out;
        for (std::size_t i = 0; i < line.size();) {
            bool replaced = false;
            if (line[i] == '$') {
                for (const auto& [name, value] : defines) {
                    if (line.substr(i).starts_with(name)) {
                        out += value;
                        i += name.size();
                        replaced = true;
                        break;
                    }
                }
            }
            if (!replaced)
                out += line[i++];
            if (out.size() > limits.maxLineBytes)
                return std::nullopt;
        }
        return out;
    }

    void Include(std::string_view text, const std::string& file, int line, int depth)
    {
        if (text.size() < 2 || text.front() != '"' || text.find('"', 1) == std::string_view::npos) {
            Drop(file, line, "#include", "the file name must be in double quotes");
            return;
        }
        std::string name(text.substr(1, text.find('"', 1) - 1));
        std::replace(name.begin(), name.end(), '\\', '/');
        if (std::find(stack.begin(), stack.end(), name) != stack.end()) {
            Drop(file, line, "#include", "'" + name + "' includes itself; not read again");
            return;
        }
        if (depth + 1 > limits.maxIncludeDepth || includeCount >= limits.maxIncludes) {
            Drop(file, line, "#include", "too many nested or repeated includes; skipped");
            return;
        }
        ++includeCount;
        const auto body = includes ? includes(name) : std::nullopt;
        if (!body) {
            Drop(file, line, "#include", "can't read '" + name + "'");
            return;
        }
        if (body->size() > limits.maxFileBytes
            || totalBytes + body->size() > limits.maxTotalBytes) {
            Drop(file, line, "#include", "'" + name + "' is too large; skipped");
            return;
        }
        totalBytes += body->size();
        stack.push_back(name);
        ParseText(*body, name, depth + 1);
        stack.pop_back();
    }

    /// Where an opcode's value ends: before blanks that lead to the next opcode or header, so
    /// that a sample path may hold blanks.
    static std::size_t ValueEnd(std::string_view line, std::size_t from)
    {
        for (std::size_t q = from; q < line.size(); ++q) {
            if (!IsSpace(line[q]))
                continue;
            std::size_t r = q;
            while (r < line.size() && IsSpace(line[r]))
                ++r;
            if (r >= line.size())
                return q;
            if (line[r] == '<')
                return q;
            std::size_t s = r;
            while (s < line.size() && IsNameChar(line[s]))
                ++s;
            if (s > r && s < line.size() && line[s] == '=')
                return q;
            q = r - 1;
        }
        return line.size();
    }

    void Tokens(std::string_view line, const std::string& file, int lineNumber)
    {
        std::size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && IsSpace(line[pos]))
                ++pos;
            if (pos >= line.size())
                break;
            if (line[pos] == '<') {
                const std::size_t close = line.find('>', pos);
                if (close == std::string_view::npos) {
                    Drop(file, lineNumber, "", "a header without its '>'");
                    return;
                }
                Header(std::string(line.substr(pos + 1, close - pos - 1)), file, lineNumber);
                pos = close + 1;
                continue;
            }
            const std::size_t start = pos;
            while (pos < line.size() && IsNameChar(line[pos]))
                ++pos;
            if (pos == start || pos >= line.size() || line[pos] != '=') {
                std::size_t end = pos;
                while (end < line.size() && !IsSpace(line[end]))
                    ++end;
                Drop(file, lineNumber, "",
                    "'" + std::string(line.substr(start, std::min<std::size_t>(end - start, 40)))
                        + "' is not an opcode");
                pos = std::max(end, start + 1);
                continue;
            }
            const std::string name(line.substr(start, pos - start));
            const std::size_t end = ValueEnd(line, pos + 1);
            const std::string value(Trim(line.substr(pos + 1, end - pos - 1)));
            pos = end;
            AddOpcode({ name, value, &file, lineNumber });
        }
    }

    enum class Level { None, Control, Global, Master, Group, Region, Other };

    void Header(const std::string& name, const std::string& file, int line)
    {
        CloseRegion();
        if (name == "control") {
            level = Level::Control;
            defaultPath.clear();
        } else if (name == "global") {
            level = Level::Global;
            global.clear();
            master.clear();
            group.clear();
        } else if (name == "master") {
            level = Level::Master;
            master.clear();
            group.clear();
        } else if (name == "group") {
            level = Level::Group;
            group.clear();
        } else if (name == "region") {
            level = Level::Region;
            region.clear();
            regionFile = &file;
            regionLine = line;
        } else {
            level = Level::Other;
            Drop(file, line, "<" + name.substr(0, 40) + ">",
                "not on the card; its opcodes are left out");
        }
    }

    void AddOpcode(Opcode op)
    {
        switch (level) {
        case Level::Control:
            if (op.name == "default_path") {
                defaultPath = op.value;
                std::replace(defaultPath.begin(), defaultPath.end(), '\\', '/');
            } else if (!IsDefaultValue(op.name, op.value)) {
                Drop(*op.file, op.line, op.name, "not on the card");
            }
            return;
        case Level::Global:
            global.push_back(std::move(op));
            return;
        case Level::Master:
            master.push_back(std::move(op));
            return;
        case Level::Group:
            group.push_back(std::move(op));
            return;
        case Level::Region:
            region.push_back(std::move(op));
            return;
        case Level::Other:
            return;
        case Level::None:
            break;
        }
        Drop(*op.file, op.line, op.name, "stands before any header; left out");
    }

    void CloseRegion()
    {
        if (level != Level::Region)
            return;
        level = Level::None;
        if (document.regions.size() >= limits.maxRegions) {
            if (!regionsFull)
                Drop(*regionFile, regionLine, "<region>",
                    "more regions than the reader takes; the rest are left out");
            regionsFull = true;
            return;
        }
        SfzRegion r;
        r.file = *regionFile;
        r.line = regionLine;
        for (const auto* list : { &global, &master, &group, &region })
            for (const Opcode& op : *list)
                Apply(r, op);
        if (r.sample.empty()) {
            Drop(r.file, r.line, "<region>", "no sample; left out");
            return;
        }
        document.regions.push_back(std::move(r));
    }

    void Apply(SfzRegion& r, const Opcode& op)
    {
        const std::string& name = op.name;
        const std::string_view value = op.value;
        auto bad = [&](const std::string& what) { Drop(*op.file, op.line, name, what); };
        auto key = [&](int& field) {
            const auto k = ParseSfzKey(value);
            if (!k || *k < -1 || *k > 127)
                bad("'" + op.value.substr(0, 40) + "' is not a key");
            else
                field = *k;
        };
        auto integer = [&](auto& field, std::int64_t low, std::int64_t high) {
            const auto n = ParseNumber(value);
            if (!n || *n < static_cast<double>(low) || *n > static_cast<double>(high))
                bad("'" + op.value.substr(0, 40) + "' is out of range");
            else
                field = static_cast<std::remove_reference_t<decltype(field)>>(std::llround(*n));
        };
        if (name == "sample") {
            std::string path(value);
            std::replace(path.begin(), path.end(), '\\', '/');
            r.sample = path.starts_with('/') ? path : defaultPath + path;
            r.sampleFile = *op.file;
            r.sampleLine = op.line;
        } else if (name == "lokey") {
            key(r.lokey);
        } else if (name == "hikey") {
            key(r.hikey);
        } else if (name == "key") {
            int k = 0;
            key(k);
            if (ParseSfzKey(value))
                r.lokey = r.hikey = r.keycenter = k;
        } else if (name == "pitch_keycenter") {
            if (value == "sample")
                bad("the sample's own root key is not read; 60 is used");
            else
                key(r.keycenter);
        } else if (name == "lovel") {
            integer(r.lovel, 0, 127);
        } else if (name == "hivel") {
            integer(r.hivel, 0, 127);
        } else if (name == "tune") {
            integer(r.tune, -9600, 9600);
        } else if (name == "transpose") {
            integer(r.transpose, -127, 127);
        } else if (name == "volume") {
            const auto n = ParseNumber(value);
            if (!n || *n < -144.0 || *n > 6.0)
                bad("'" + op.value.substr(0, 40) + "' is out of range");
            else
                r.volume = *n;
        } else if (name == "offset") {
            integer(r.offset, 0, UINT32_MAX);
        } else if (name == "loop_mode" || name == "loopmode") {
            static const std::map<std::string_view, SfzLoopMode> kModes
                = { { "no_loop", SfzLoopMode::NoLoop }, { "one_shot", SfzLoopMode::OneShot },
                      { "loop_continuous", SfzLoopMode::Continuous },
                      { "loop_sustain", SfzLoopMode::Sustain } };
            const auto it = kModes.find(value);
            if (it == kModes.end())
                bad("'" + op.value.substr(0, 40) + "' is not a loop mode");
            else
                r.loopMode = it->second;
        } else if (name == "loop_start" || name == "loopstart") {
            std::int64_t frame = -1;
            integer(frame, 0, UINT32_MAX);
            if (frame >= 0)
                r.loopStart = frame;
        } else if (name == "loop_end" || name == "loopend") {
            std::int64_t frame = -1;
            integer(frame, 0, UINT32_MAX);
            if (frame >= 0)
                r.loopEnd = frame;
        } else if (!IsDefaultValue(name, op.value)) {
            bad("not on the card");
        }
    }

    void Drop(const std::string& file, int line, const std::string& opcode, std::string reason)
    {
        if (document.dropped.size() >= limits.maxDropped)
            return;
        if (!reported.insert(file + '\n' + std::to_string(line) + '\n' + opcode).second)
            return;
        document.dropped.push_back({ file, line, opcode, std::move(reason) });
    }

    const SfzIncludeReader& includes;
    const SfzLimits& limits;
    SfzDocument document;
    std::set<std::string> fileNames;
    std::set<std::string> reported;
    std::vector<std::pair<std::string, std::string>> defines;
    std::vector<std::string> stack;
    int includeCount = 0;
    std::size_t totalBytes = 0;
    Level level = Level::None;
    std::string defaultPath;
    std::vector<Opcode> global, master, group, region;
    const std::string* regionFile = nullptr;
    int regionLine = 0;
    bool regionsFull = false;
};

/// "key 60 lies ..." or "keys 60 to 64 lie ...": the sentence for one key or for several.
std::string KeyRange(int low, int high, std::string_view one, std::string_view many)
{
    return low == high
        ? "key " + std::to_string(low) + " " + std::string(one)
        : "keys " + std::to_string(low) + " to " + std::to_string(high) + " " + std::string(many);
}

/// "line 12" of a text file, "keys 30 to 35" of a region read from a binary file.
std::string RegionName(const SfzRegion& region)
{
    if (region.line > 0)
        return "line " + std::to_string(region.line);
    return "keys " + std::to_string(region.lokey) + " to " + std::to_string(region.hikey);
}

} // namespace

SfzDocument ParseSfz(std::string_view text, const std::string& fileName,
    const SfzIncludeReader& includes, const SfzLimits& limits)
{
    Parser parser(includes, limits);
    if (text.size() > limits.maxFileBytes) {
        SfzDocument tooLarge;
        tooLarge.dropped.push_back({ fileName, 0, "", "the file is too large to be an SFZ file" });
        return tooLarge;
    }
    parser.ParseText(text, fileName, 0);
    return parser.Finish();
}

void SplitLayeredRegions(SfzDocument& document)
{
    std::set<std::pair<int, int>> velocities;
    std::set<int> bounds;
    for (const SfzRegion& r : document.regions) {
        velocities.insert({ r.lovel, r.hivel });
        bounds.insert(r.lokey);
        bounds.insert(r.hikey + 1);
    }
    if (velocities.size() < 2)
        return;
    std::vector<SfzRegion> pieces;
    for (const SfzRegion& r : document.regions) {
        int low = r.lokey;
        for (auto bound = bounds.upper_bound(r.lokey); bound != bounds.end() && *bound <= r.hikey;
             ++bound) {
            SfzRegion piece = r;
            piece.lokey = low;
            piece.hikey = *bound - 1;
            pieces.push_back(std::move(piece));
            low = *bound;
        }
        SfzRegion last = r;
        last.lokey = low;
        pieces.push_back(std::move(last));
    }
    document.regions = std::move(pieces);
}

SfzLayout LayOutSfz(const SfzDocument& document)
{
    SfzLayout layout;
    auto drop = [&](const SfzRegion& r, std::string reason) {
        layout.dropped.push_back({ r.file, r.line, "", std::move(reason) });
    };
    // Regions of one key range are the layers of one key group.
    std::map<std::pair<int, int>, std::vector<std::size_t>> ranges;
    for (std::size_t i = 0; i < document.regions.size(); ++i) {
        const SfzRegion& r = document.regions[i];
        if (r.lokey < 0 || r.hikey < 0 || r.lokey > r.hikey) {
            drop(r, "plays no key; left out");
            continue;
        }
        if (r.lovel > r.hivel) {
            drop(r, "plays at no velocity; left out");
            continue;
        }
        ranges[{ r.lokey, r.hikey }].push_back(i);
    }
    int covered = -1;
    const SfzRegion* below = nullptr;
    for (auto& [range, members] : ranges) {
        const auto [low, high] = range;
        const SfzRegion& first = document.regions[members.front()];
        if (high <= covered) {
            for (std::size_t i : members)
                drop(document.regions[i],
                    KeyRange(low, high, "lies", "lie") + " within the key group of "
                        + RegionName(*below) + "; left out");
            continue;
        }
        if (low <= covered)
            drop(first,
                KeyRange(low, covered, "overlaps", "overlap") + " the region of "
                    + RegionName(*below)
                    + (low == covered ? ", which keeps it" : ", which keeps them"));
        else if (low > covered + 1)
            drop(first,
                KeyRange(
                    covered + 1, low - 1, "has no region; it plays", "have no region; they play")
                    + " this one");
        std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
            return document.regions[a].lovel < document.regions[b].lovel;
        });
        SfzKeyGroup group;
        group.upperKey = high;
        for (std::size_t i : members) {
            const SfzRegion& r = document.regions[i];
            if (!group.layers.empty() && r.lovel <= document.regions[group.layers.back()].hivel) {
                drop(r,
                    "its velocities overlap the region of "
                        + RegionName(document.regions[group.layers.back()])
                        + " (the card plays one layer at a time); left out");
            } else if (group.layers.size() >= 3) {
                drop(r,
                    "a fourth layer of " + KeyRange(low, high, "", "")
                        + "(the card plays 3); left out");
            } else {
                group.layers.push_back(i);
            }
        }
        layout.groupSize = std::max(layout.groupSize, static_cast<int>(group.layers.size()));
        layout.groups.push_back(std::move(group));
        covered = high;
        below = &first;
    }
    if (below && covered < 127)
        drop(*below, KeyRange(covered + 1, 127, "has no region", "have no region"));
    return layout;
}

} // namespace cardmill
