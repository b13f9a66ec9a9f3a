#include "model/MReadableFile.h"

#include "model/TextFields.h"
#include "support/Builders.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::FormBuilder;

class ReadableFile : public ::testing::Test {
protected:
    MReadableFile& Open(const Bytes& bytes, bool littleEndianLengths, bool padded)
    {
        file = std::make_unique<Probe>(env.services, littleEndianLengths, padded);
        file->AttachMemory(bytes);
        EXPECT_TRUE(file->SetFile("mem.bin"));
        return *file;
    }

    struct Probe : MReadableFile {
        Probe(Services& services, bool little, bool padded)
            : MReadableFile(services)
        {
            littleEndian = little;
            noPadding = !padded;
        }
    };

    test::TestEnv env;
    std::unique_ptr<MReadableFile> file;
};

TEST_F(ReadableFile, RiffChunksArePaddedAndLittleEndian)
{
    const Bytes bytes = FormBuilder("RIFF", "WAVE", Endian::Little)
                            .Chunk("odd ", { 1, 2, 3 })
                            .Chunk("fmt ", { 9, 9 })
                            .Chunk("fmt ", { 7 })
                            .Build();
    MReadableFile& f = Open(bytes, true, true);
    EXPECT_FALSE(f.FindForm(FourCC("FORM"), FourCC("WAVE")));
    EXPECT_EQ(f.Tell(), 0u);
    ASSERT_TRUE(f.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_EQ(f.FindChunk(FourCC("fmt "), 0), 10u);
    const auto second = f.ReadChunk(FourCC("fmt "), 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, (Bytes { 'f', 'm', 't', ' ', 1, 0, 0, 0, 7 }));
    EXPECT_FALSE(f.FindChunk(FourCC("fmt "), 2).has_value());
}

TEST_F(ReadableFile, IffChunksWithAndWithoutPadding)
{
    const Bytes padded = FormBuilder("FORM", "AIFF", Endian::Big, true)
                             .Chunk("ODD ", { 1 })
                             .Chunk("COMM", { 5, 6 })
                             .Build();
    MReadableFile& a = Open(padded, false, true);
    ASSERT_TRUE(a.FindForm(FourCC("FORM"), FourCC("AIFF")));
    EXPECT_EQ(a.ReadChunk(FourCC("COMM"), 0), (Bytes { 'C', 'O', 'M', 'M', 0, 0, 0, 2, 5, 6 }));

    // Without padding an odd chunk is followed directly by the next header.
    const Bytes unpadded = FormBuilder("ORCM", "CMin", Endian::Big, false)
                               .Chunk("ODD ", { 1 })
                               .Chunk("INST", { 5, 6 })
                               .Build();
    MReadableFile& b = Open(unpadded, false, false);
    ASSERT_TRUE(b.FindForm(FourCC("ORCM"), FourCC("CMin")));
    EXPECT_EQ(b.ReadChunk(FourCC("INST"), 0), (Bytes { 'I', 'N', 'S', 'T', 0, 0, 0, 2, 5, 6 }));
    // Read as padded, the walk lands one byte late and finds nothing.
    MReadableFile& c = Open(unpadded, false, true);
    ASSERT_TRUE(c.FindForm(FourCC("ORCM"), FourCC("CMin")));
    EXPECT_FALSE(c.ReadChunk(FourCC("INST"), 0).has_value());
}

TEST_F(ReadableFile, WalkStopsAtAShortHeaderAndNeverTrustsALengthPastTheFile)
{
    const Bytes bytes = FormBuilder("RIFF", "WAVE", Endian::Little)
                            .ChunkClaiming("huge", 0x7FFFFFF0, { 1, 2, 3, 4 })
                            .Build();
    MReadableFile& f = Open(bytes, true, true);
    ASSERT_TRUE(f.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_EQ(f.FindChunk(FourCC("huge"), 0), 0x7FFFFFF8u);
    EXPECT_FALSE(f.ReadChunk(FourCC("huge"), 0).has_value());
    EXPECT_FALSE(f.FindChunk(FourCC("none"), 0).has_value());

    Bytes truncated = FormBuilder("RIFF", "WAVE", Endian::Little).Chunk("abcd", { 1, 2 }).Build();
    truncated.insert(truncated.end(), { 'e', 'f', 'g' }); // a header cut short
    MReadableFile& g = Open(truncated, true, true);
    ASSERT_TRUE(g.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_FALSE(g.FindChunk(FourCC("efg "), 0).has_value());
    EXPECT_TRUE(g.FindChunk(FourCC("abcd"), 0).has_value());
}

TEST_F(ReadableFile, AMissingFileIsAnErrorNotACrash)
{
    test::TempDir dir;
    MReadableFile f(env.services);
    EXPECT_FALSE(f.SetFile(dir.File("gone.wav")));
    EXPECT_FALSE(f.Exists());
    std::uint8_t buffer[4];
    EXPECT_FALSE(f.Read(buffer));
    EXPECT_FALSE(f.FindForm(FourCC("RIFF"), FourCC("WAVE")));
    EXPECT_FALSE(f.ReadChunk(FourCC("data"), 0).has_value());
    EXPECT_EQ(f.GetFileName(), "gone.wav");
    EXPECT_EQ(f.GetComment(), "<no comment>");
}

} // namespace
} // namespace cardmill
