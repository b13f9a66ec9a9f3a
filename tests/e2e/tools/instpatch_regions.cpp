// Lists what libinstpatch (the SoundFont and DLS reader of Swami and FluidSynth) reads from a
// SoundFont 2 or DLS file, for the tests to hold Cardmill's readers against. It prints JSON
// lines: first the file's {"format", "version"}, then one object per preset (bank, program,
// name) or, with a preset chosen, one per region of it.
//
//   instpatch_regions FILE [BANK:PROGRAM]
//
// A SoundFont preset's regions are libinstpatch's own voices (IpatchSF2VoiceCache: the preset
// and instrument zones merged, preset values added to the instrument's), with their generators
// as stored (centibels, cents, frames) and the sample's header values; a DLS instrument's regions
// are its IpatchDLS2Region objects with their sample info (the region's own, else the wave's),
// the gain in decibels by libinstpatch's own conversion. Loop ends are the first frame after the
// loop, as libinstpatch keeps them. The exit status is 1, with libinstpatch's message, when it
// can't read the file or holds no such preset.

#include <cstdio>
#include <cstring>
#include <libinstpatch/libinstpatch.h>
#include <string>

namespace {

std::string Quoted(const char* text)
{
    std::string out = "\"";
    for (const char* c = text ? text : ""; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (*c == '"' || *c == '\\')
            out += std::string("\\") + *c;
        else if (u < 0x20 || u >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else
            out += *c;
    }
    return out + "\"";
}

int Fail(const char* what, GError* error)
{
    std::fprintf(stderr, "instpatch_regions: %s: %s\n", what, error ? error->message : "failed");
    return 1;
}

int SampleBits(IpatchSample* sample)
{
    const int width = IPATCH_SAMPLE_FORMAT_GET_WIDTH(ipatch_sample_get_format(sample));
    return width == IPATCH_SAMPLE_24BIT ? 24 : width == IPATCH_SAMPLE_8BIT ? 8 : 16;
}

const char* Channel(int channel)
{
    return channel == IPATCH_SF2_SAMPLE_CHANNEL_LEFT ? "left"
        : channel == IPATCH_SF2_SAMPLE_CHANNEL_RIGHT ? "right"
                                                     : "mono";
}

int ListSoundFont(IpatchSF2* font, const char* chosen)
{
    if (!chosen) {
        std::printf("{\"format\": \"SoundFont\", \"version\": [%d, %d]}\n", font->ver_major,
            font->ver_minor);
        for (GSList* p = font->presets; p; p = p->next) {
            auto* preset = static_cast<IpatchSF2Preset*>(p->data);
            std::printf("{\"bank\": %d, \"program\": %d, \"name\": %s}\n", preset->bank,
                preset->program, Quoted(preset->name).c_str());
        }
        return 0;
    }
    int bank = -1, program = -1;
    std::sscanf(chosen, "%d:%d", &bank, &program);
    IpatchSF2Preset* preset = nullptr;
    for (GSList* p = font->presets; p && !preset; p = p->next) {
        auto* candidate = static_cast<IpatchSF2Preset*>(p->data);
        if (candidate->bank == bank && candidate->program == program)
            preset = candidate;
    }
    if (!preset)
        return Fail("no such preset", nullptr);
    IpatchSF2VoiceCache* cache = ipatch_sf2_voice_cache_new(nullptr, 0);
    IpatchConverter* converter
        = ipatch_create_converter(IPATCH_TYPE_SF2_PRESET, IPATCH_TYPE_SF2_VOICE_CACHE);
    ipatch_converter_add_input(converter, G_OBJECT(preset));
    ipatch_converter_add_output(converter, G_OBJECT(cache));
    GError* error = nullptr;
    if (!ipatch_converter_convert(converter, &error))
        return Fail("voice cache", error);
    std::printf(
        "{\"format\": \"SoundFont\", \"version\": [%d, %d]}\n", font->ver_major, font->ver_minor);
    for (guint v = 0; v < cache->voices->len; ++v) {
        IpatchSF2Voice* voice = IPATCH_SF2_VOICE_CACHE_GET_VOICE(cache, v);
        const IpatchSF2GenAmount* g = voice->gen_array.values;
        const int* ranges = &g_array_index(cache->ranges, int, voice->range_index);
        // The voice keeps the sample's data; its header is the sample that holds that data.
        IpatchSF2Sample* sample = nullptr;
        for (GSList* s = font->samples; s && !sample; s = s->next)
            if (static_cast<IpatchSF2Sample*>(s->data)->sample_data == voice->sample_data)
                sample = static_cast<IpatchSF2Sample*>(s->data);
        IpatchSF2Sample* linked = sample ? ipatch_sf2_sample_peek_linked(sample) : nullptr;
        std::printf("{\"keys\": [%d, %d], \"velocities\": [%d, %d], ", ranges[0], ranges[1],
            ranges[2], ranges[3]);
        std::printf("\"sampleRoot\": %d, \"rootOverride\": %d, \"coarseTune\": %d, "
                    "\"fineTune\": %d, \"sampleFineTune\": %d, ",
            voice->root_note, g[IPATCH_SF2_GEN_ROOT_NOTE_OVERRIDE].sword,
            g[IPATCH_SF2_GEN_COARSE_TUNE].sword, g[IPATCH_SF2_GEN_FINE_TUNE_OVERRIDE].sword,
            voice->fine_tune);
        std::printf("\"attenuation\": %d, \"attenuationSet\": %s, \"tremolo\": %d, \"pan\": %d, "
                    "\"sampleModes\": %d, ",
            g[IPATCH_SF2_GEN_ATTENUATION].sword,
            IPATCH_SF2_GEN_ARRAY_TEST_FLAG(&voice->gen_array, IPATCH_SF2_GEN_ATTENUATION) ? "true"
                                                                                          : "false",
            g[IPATCH_SF2_GEN_MOD_LFO_TO_VOLUME].sword, g[IPATCH_SF2_GEN_PAN].sword,
            g[IPATCH_SF2_GEN_SAMPLE_MODES].sword);
        const long start = g[IPATCH_SF2_GEN_SAMPLE_START].sword
            + 32768L * g[IPATCH_SF2_GEN_SAMPLE_COARSE_START].sword;
        const long loopStart = static_cast<long>(voice->loop_start)
            + g[IPATCH_SF2_GEN_SAMPLE_LOOP_START].sword
            + 32768L * g[IPATCH_SF2_GEN_SAMPLE_COARSE_LOOP_START].sword;
        const long loopEnd = static_cast<long>(voice->loop_end)
            + g[IPATCH_SF2_GEN_SAMPLE_LOOP_END].sword
            + 32768L * g[IPATCH_SF2_GEN_SAMPLE_COARSE_LOOP_END].sword;
        std::printf(
            "\"start\": %ld, \"loopStart\": %ld, \"loopEnd\": %ld, ", start, loopStart, loopEnd);
        std::printf("\"sample\": %s, \"frames\": %u, \"rate\": %u, \"bits\": %d, \"rom\": %s, "
                    "\"channel\": \"%s\", \"linked\": %s}\n",
            Quoted(sample ? sample->name : "").c_str(), voice->sample_size, voice->rate,
            sample ? SampleBits(IPATCH_SAMPLE(sample)) : 0,
            sample && (ipatch_item_get_flags(sample) & IPATCH_SF2_SAMPLE_FLAG_ROM) ? "true"
                                                                                   : "false",
            Channel(sample ? sample->channel : 0), linked ? Quoted(linked->name).c_str() : "null");
    }
    g_object_unref(converter);
    g_object_unref(cache);
    return 0;
}

std::string DlsName(IpatchDLS2Info* info)
{
    char* name = ipatch_dls2_info_get(info, IPATCH_DLS2_NAME);
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

int ListDls(IpatchDLS2* dls, const char* chosen)
{
    int bank = -1, program = -1;
    if (chosen)
        std::sscanf(chosen, "%d:%d", &bank, &program);
    auto bankOf = [](IpatchDLS2Inst* inst) {
        // Bank select MSB in bits 8-14, LSB in bits 0-6, as the instrument header holds them;
        // drum kits stand in banks 128 and up, as Cardmill numbers them.
        const int number = ((inst->bank >> 8) & 0x7F) * 128 + (inst->bank & 0x7F);
        return (ipatch_item_get_flags(inst) & IPATCH_DLS2_INST_PERCUSSION) ? 128 + number : number;
    };
    IpatchDLS2Inst* found = nullptr;
    for (GSList* i = dls->insts; i && chosen && !found; i = i->next) {
        auto* inst = static_cast<IpatchDLS2Inst*>(i->data);
        if (bankOf(inst) == bank && static_cast<int>(inst->program) == program)
            found = inst;
    }
    if (chosen && !found)
        return Fail("no such instrument", nullptr);
    std::printf("{\"format\": \"DLS\"}\n");
    if (!chosen) {
        for (GSList* i = dls->insts; i; i = i->next) {
            auto* inst = static_cast<IpatchDLS2Inst*>(i->data);
            std::printf("{\"bank\": %d, \"program\": %d, \"name\": %s}\n", bankOf(inst),
                inst->program, Quoted(DlsName(inst->info).c_str()).c_str());
        }
        return 0;
    }
    for (GSList* r = found->regions; r; r = r->next) {
        auto* region = static_cast<IpatchDLS2Region*>(r->data);
        IpatchDLS2Sample* sample = region->sample;
        const IpatchDLS2SampleInfo* info = region->sample_info ? region->sample_info
            : sample && sample->sample_info                    ? sample->sample_info
                                                               : nullptr;
        const int loop = info ? info->options & IPATCH_DLS2_SAMPLE_LOOP_MASK : 0;
        guint frames = 0;
        if (sample)
            g_object_get(sample, "sample-size", &frames, nullptr);
        std::printf("{\"keys\": [%d, %d], \"velocities\": [%d, %d], ", region->note_range_low,
            region->note_range_high, region->velocity_range_low, region->velocity_range_high);
        std::printf("\"rootKey\": %d, \"fineTune\": %d, \"gainDb\": %.6f, \"loop\": \"%s\", "
                    "\"loopStart\": %u, \"loopEnd\": %u, ",
            info ? info->root_note : 60, info ? info->fine_tune : 0,
            info ? ipatch_unit_dls_gain_to_decibels(info->gain) : 0.0,
            loop == IPATCH_SAMPLE_LOOP_RELEASE        ? "release"
                : loop == IPATCH_SAMPLE_LOOP_STANDARD ? "standard"
                                                      : "none",
            info ? info->loop_start : 0, info ? info->loop_end : 0);
        std::printf("\"sample\": %s, \"frames\": %u, \"rate\": %d}\n",
            Quoted(sample ? DlsName(sample->info).c_str() : "").c_str(), frames,
            sample ? sample->rate : 0);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: instpatch_regions FILE [BANK:PROGRAM]\n");
        return 2;
    }
    ipatch_init();
    const char* path = argv[1];
    const char* chosen = argc == 3 ? argv[2] : nullptr;
    GError* error = nullptr;
    const GType type = ipatch_file_identify_name(path, &error);
    if (type == IPATCH_TYPE_SF2_FILE) {
        IpatchSF2File* file = ipatch_sf2_file_new();
        IpatchFileHandle* handle = ipatch_file_open(IPATCH_FILE(file), path, "r", &error);
        if (!handle)
            return Fail("open", error);
        IpatchSF2Reader* reader = ipatch_sf2_reader_new(handle);
        IpatchSF2* font = ipatch_sf2_reader_load(reader, &error);
        if (!font)
            return Fail("SoundFont", error);
        return ListSoundFont(font, chosen);
    }
    if (type == IPATCH_TYPE_DLS_FILE) {
        IpatchDLSFile* file = ipatch_dls_file_new();
        IpatchFileHandle* handle = ipatch_file_open(IPATCH_FILE(file), path, "r", &error);
        if (!handle)
            return Fail("open", error);
        IpatchDLSReader* reader = ipatch_dls_reader_new(handle);
        IpatchDLS2* dls = ipatch_dls_reader_load(reader, &error);
        if (!dls)
            return Fail("DLS", error);
        return ListDls(dls, chosen);
    }
    return Fail("not a SoundFont or DLS file libinstpatch reads", error);
}
