#include "model/sound/SampleRecord.h"

namespace cardmill {

SampleRecord SampleRecord::Of(const MSoundFile& sound)
{
    SampleRecord record;
    record.file = sound.Record();
    record.file.extras.fingerprint = sound.Fingerprint();
    record.smoothing = static_cast<std::uint8_t>(sound.GetSmoothing());
    record.params = sound.Params();
    record.params.channel = sound.GetChannel();
    return record;
}

void SampleRecord::Write(ByteWriter& out) const
{
    FileRecord stored = file;
    stored.extras.tuned = true;
    stored.extras.fineTune = params.fineTune;
    stored.extras.paramByte2 = params.paramByte2;
    stored.WriteStored(out);
    out.U8(0);
    out.U8(smoothing);
    out.U8(static_cast<std::uint8_t>(params.rootKey));
    out.U8(static_cast<std::uint8_t>(params.fineTune));
    out.U8(static_cast<std::uint8_t>(params.paramByte2));
    out.U8(VolumeByte(params.volume));
    out.U8(static_cast<std::uint8_t>(params.channel));
    out.U8(static_cast<std::uint8_t>(params.looping));
    out.U32(params.loopStart, Endian::Big);
    out.U32(params.loopEnd, Endian::Big);
    out.U32(params.startFrame, Endian::Big);
}

std::optional<SampleRecord> SampleRecord::Read(const ByteReader& bytes)
{
    if (bytes.Size() < kSize)
        return std::nullopt;
    auto file = FileRecord::ReadStored(bytes);
    if (!file)
        return std::nullopt;
    SampleRecord record;
    record.file = *file;
    record.smoothing = *bytes.U8At(373);
    // The record holds the low bytes of the root key, fine tune and tuning value; the whole
    // tunings come from the file record's extras, unless a writer that knows nothing of them
    // changed the low bytes since. The root's byte is read as it was meant: a root above 127
    // (which SetParams moves onto the keyboard) and not one near 65535.
    record.params.rootKey = *bytes.U8At(374);
    record.params.fineTune = *bytes.U8At(375);
    record.params.paramByte2 = static_cast<std::int8_t>(*bytes.U8At(376));
    const FileRecord::Extras& extras = record.file.extras;
    if (extras.tuned && static_cast<std::uint8_t>(extras.fineTune) == *bytes.U8At(375)
        && static_cast<std::uint8_t>(extras.paramByte2) == *bytes.U8At(376)) {
        record.params.fineTune = extras.fineTune;
        record.params.paramByte2 = extras.paramByte2;
    }
    record.params.volume = VolumeFromByte(*bytes.U8At(377));
    record.params.channel = *bytes.U8At(378);
    record.params.looping = *bytes.U8At(379);
    record.params.loopStart = *bytes.U32At(380, Endian::Big);
    record.params.loopEnd = *bytes.U32At(384, Endian::Big);
    record.params.startFrame = *bytes.U32At(388, Endian::Big);
    return record;
}

} // namespace cardmill
