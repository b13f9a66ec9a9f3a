#include "compiler/MCompileEngine.h"

#include "model/MProject.h"
#include "model/bank/MParamFileRawSex.h"
#include "model/sound/MSoundFileWAV.h"
#include "support/Banks.h"
#include "support/Fakes.h"
#include "support/SoundHelpers.h"
#include "support/Steps.h"

#include <tuple>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

using test::Bytes;
using test::WavBuilder;

/// What a driver gets from the engine: the image, and how it came (full blocks, final bytes).
struct Image {
    Bytes bytes;
    int fullBlocks = 0;
    int finalBytes = 0;
    bool failed = false;
};

class Engine : public ::testing::Test {
protected:
    Image Compile()
    {
        Image image;
        project.ComputeTotalBytes();
        MCompileEngine engine(project, env.prompter);
        EXPECT_TRUE(engine.Begin());
        test::StepUntilDone([&] {
            const int result = engine.Step(env.progress);
            if (result == 1) {
                const auto block = engine.GetBlockData();
                image.bytes.insert(image.bytes.end(), block.begin(), block.end());
                ++image.fullBlocks;
            } else if (result != 0) {
                image.failed = true;
                return -1;
            } else if (engine.IsFinished()) {
                image.finalBytes = engine.GetFinalByteCount();
                const auto block = engine.GetBlockData();
                image.bytes.insert(
                    image.bytes.end(), block.begin(), block.begin() + image.finalBytes);
                return 1;
            }
            return 0;
        });
        engine.End();
        if (!image.failed) {
            EXPECT_EQ(image.bytes.size(), project.GetTotalBytes());
        }
        return image;
    }

    MSoundFileWAV* Sound(int group, std::uint32_t frames, const std::string& name = "s.wav")
    {
        auto sound = test::Load<MSoundFileWAV>(
            env, WavBuilder().Format(1, 1, 48000, 16).Frames(frames).Build(), "/snd/" + name);
        sound->SetCategory(static_cast<std::int16_t>(group));
        MSoundFileWAV* raw = sound.get();
        project.AddItem(std::move(sound));
        return raw;
    }
    void Sequence(std::size_t bytes, std::uint16_t outPort = 0)
    {
        Bytes data(bytes);
        for (std::size_t i = 0; i < bytes; ++i)
            data[i] = static_cast<std::uint8_t>(i * 3 + bytes);
        project.AddItem(std::make_unique<test::FakeSequence>(env.services, data, outPort));
    }
    void Bank(std::uint16_t family)
    {
        auto bank = test::OpenInMemory(
            env, test::BankCapture { family }.Build(), "/b/bank.syx", &MParamFileRawSex::OpenBank);
        ASSERT_TRUE(bank);
        env.services.projectLoading = true; // no target question
        EXPECT_EQ(test::LoadFully(*bank), 1);
        env.services.projectLoading = false;
        project.AddItem(std::move(bank));
    }
    static std::uint32_t U32(const Bytes& bytes, std::size_t at)
    {
        return *ByteReader(bytes).U32At(at, Endian::Big);
    }
    /// The 24-bit word address of a sample header's first sample word.
    static std::uint32_t FirstWord(const Bytes& bytes, std::size_t header)
    {
        return U32(bytes, header + 8) & 0xFFFFFF;
    }

    test::TestEnv env;
    MProject project { env.prefs };
};

TEST_F(Engine, AnEmptyProjectIsItsCardHeader)
{
    const Image image = Compile();
    EXPECT_EQ(std::tuple(image.fullBlocks, image.finalBytes), std::tuple(0, 108));
    ASSERT_EQ(image.bytes.size(), 108u);
    EXPECT_EQ(
        Bytes(image.bytes.begin(), image.bytes.begin() + 4), (Bytes { 0x00, 0x70, 0x38, 0x1C }));
    EXPECT_EQ(U32(image.bytes, 4), 54u);
    EXPECT_EQ(std::string(image.bytes.begin() + 10, image.bytes.begin() + 24), "untitled  1.00");
    EXPECT_EQ(std::string(image.bytes.begin() + 24, image.bytes.begin() + 30), "empty ");
    EXPECT_EQ(std::string(image.bytes.begin() + 90, image.bytes.end()), "WinCM WinCM WinCM ");
}

TEST_F(Engine, OneSoundOfAThousandFrames)
{
    Sound(0, 1000);
    const Image image = Compile();
    ASSERT_EQ(image.bytes.size(), 2172u);
    EXPECT_EQ(std::tuple(image.fullBlocks, image.finalBytes), std::tuple(2, 124));
    // The voice at 108; its sample header at 126; the first sample word's address (S) is 69.
    EXPECT_EQ(std::tuple(U32(image.bytes, 4), *ByteReader(image.bytes).U16At(8, Endian::Big),
                  image.bytes[108], image.bytes[109], FirstWord(image.bytes, 126)),
        std::tuple(0x0000043Eu, 1, 0x10, 1, 69u));
}

TEST_F(Engine, TwoSequencesAndTheirTable)
{
    Sequence(100, 1);
    Sequence(50);
    const Image image = Compile();
    ASSERT_EQ(image.bytes.size(), 458u);
    // Each sequence's first byte, then the table's two entries.
    EXPECT_EQ(std::tuple(U32(image.bytes, 4), image.bytes[108], image.bytes[208],
                  U32(image.bytes, 258), U32(image.bytes, 262)),
        std::tuple(0x020000E5u, 100, 50, 0x01000036u, 0x00000068u));
    for (std::size_t at = 266; at < 458; at += 4)
        ASSERT_EQ(U32(image.bytes, at), 0u);
}

TEST_F(Engine, ASequenceLongerThanTheWorkBufferIsHandedOutInPieces)
{
    Sound(0, 300);
    Sequence(700001 + 1);
    Sequence(6);
    const Image image = Compile();
    ASSERT_FALSE(image.failed);
    ASSERT_EQ(image.bytes.size(), project.GetTotalBytes());
    const std::size_t start = 2 * project.SequenceAreaAddress();
    for (std::size_t i = 0; i < 700002; i += 997)
        ASSERT_EQ(image.bytes[start + i], static_cast<std::uint8_t>(i * 3 + 700002)) << i;
    const std::size_t table = image.bytes.size() - 200;
    EXPECT_EQ(std::tuple(U32(image.bytes, table), U32(image.bytes, table + 4)),
        std::tuple(project.SequenceAreaAddress(), project.SequenceAreaAddress() + 350001));
}

TEST_F(Engine, AZeltaBankComesFirst)
{
    Bank(0x0E);
    Sound(9, 50);
    const Image image = Compile();
    ASSERT_GT(image.bytes.size(), 65536u + 200);
    EXPECT_EQ(
        Bytes(image.bytes.begin(), image.bytes.begin() + 4), (Bytes { 0xA5, 0xC3, 0x5A, 0xA5 }));
    EXPECT_EQ(image.bytes[4], test::BankCapture::Unpacked(0, 0, 1));
    // The header follows the 64 bank blocks; the first sample word is at 32768 + (108 + 30) / 2.
    const std::size_t voice = 65536 + 108;
    // Byte 17 of the voice is never leftover bank data.
    EXPECT_EQ(
        std::tuple(image.bytes[voice], image.bytes[voice + 17], FirstWord(image.bytes, voice + 18)),
        std::tuple(0x38, 0, 32768 + 69u));
}

TEST_F(Engine, APerculaBankAfterPendingBytes)
{
    project.SetTarget(25);
    Bank(0x19);
    Sound(0, 64); // 108 + 30 + 2 x 81 = 300 bytes before the bank
    Sequence(0);
    project.RemoveItem(project.GetItem(11, 0));
    const Image image = Compile();
    EXPECT_EQ(std::tuple(image.fullBlocks, image.finalBytes), std::tuple(64, 300));
    ASSERT_EQ(image.bytes.size(), 65836u);
    EXPECT_EQ(Bytes(image.bytes.begin() + 300, image.bytes.begin() + 304),
        (Bytes { 0x69, 0x96, 0x12, 0x48 }));
    EXPECT_EQ(U32(image.bytes, 4) & 0xFF000000u, 0x04000000u);
    for (std::size_t at = 304 + 58624; at < image.bytes.size(); ++at)
        ASSERT_EQ(image.bytes[at], 0) << at; // the filler
}

TEST_F(Engine, SequencesBeforeAPerculaBankSetTheirFlag)
{
    project.SetTarget(25);
    Sequence(40);
    Bank(0x19);
    const Image image = Compile();
    ASSERT_EQ(image.bytes.size(), project.GetTotalBytes());
    EXPECT_EQ(U32(image.bytes, 4), 0x14000000u | (project.GetTotalBytes() / 2));
    // The table is the last 200 bytes before the bank.
    EXPECT_EQ(U32(image.bytes, 108 + 40), 54u);
}

TEST_F(Engine, TwoBlocksOfHeaderAndVoicesThenSamplesFromBlockTwo)
{
    project.AddItem(std::make_unique<test::FakeVoice>(env.services, 0, 2048 - 108 - 30));
    Sound(0, 1000);
    const Image image = Compile();
    ASSERT_GT(image.bytes.size(), 2050u);
    const auto sound = dynamic_cast<MSoundFile*>(project.GetItem(0, 1));
    EXPECT_EQ(sound->CardAddress(), 1024u); // the first sample word opens block 2
    // The low byte of that address ends block 1; the first frame (bytes 03 0A, little-endian)
    // opens block 2.
    EXPECT_EQ(std::tuple(image.bytes[2047], image.bytes[2048], image.bytes[2049]),
        std::tuple(0x00, 0x0A, 0x03));
}

TEST_F(Engine, VoiceNumbersAndGroupNamesInTheHeader)
{
    Sound(0, 10, "a.wav");
    Sound(0, 10, "b.wav");
    Sound(1, 10, "c.wav");
    project.SetGroupName(0, "Strings");
    project.SetGroupName(1, "Pad");
    const Image image = Compile();
    EXPECT_EQ(std::tuple(image.bytes.at(108 + 1), image.bytes.at(108 + 30 + 1),
                  image.bytes.at(108 + 60 + 1)),
        std::tuple(1, 2, 1));
    EXPECT_EQ(std::string(image.bytes.begin() + 24, image.bytes.begin() + 36), "StringPad   ");
}

TEST_F(Engine, AVoiceTableLargerThanTheBufferIsRefused)
{
    project.AddItem(std::make_unique<test::FakeVoice>(env.services, 0, 600000));
    const Image image = Compile();
    EXPECT_TRUE(image.failed);
    EXPECT_EQ(env.prompter.LastText(), "There is not enough memory to prepare the voice headers.");
}

} // namespace
} // namespace cardmill
