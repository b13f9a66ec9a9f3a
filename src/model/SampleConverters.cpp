// The card's sample words: one 16-bit big-endian word out per frame. The top 16 bits of a wider
// sample are its two most significant bytes. Source and destination never overlap, and this file
// is compiled with the loop vectorizer on: conversion runs at memory speed (bench/bench_convert).

#include "MSoundFile.h"

namespace cardmill {

namespace {

enum Mode { kMono, kFirst, kSecond, kMix };

template <int Bytes, bool Little> inline int Top16(const std::uint8_t* s)
{
    if constexpr (Little)
        return static_cast<std::int16_t>((s[Bytes - 1] << 8) | s[Bytes - 2]);
    else
        return static_cast<std::int16_t>((s[0] << 8) | s[1]);
}

inline void PutWord(std::uint8_t* out, int value)
{
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

template <int Bytes, bool Little, Mode M>
void ConvertWide(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    constexpr std::size_t frameBytes = Bytes * (M == kMono ? 1 : 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* frame = in + i * frameBytes;
        int value;
        if constexpr (M == kMono || M == kFirst)
            value = Top16<Bytes, Little>(frame);
        else if constexpr (M == kSecond)
            value = Top16<Bytes, Little>(frame + Bytes);
        else
            value = (Top16<Bytes, Little>(frame) + Top16<Bytes, Little>(frame + Bytes)) >> 1;
        PutWord(out + 2 * i, value);
    }
}

template <bool Unsigned> inline int Sample8(std::uint8_t s)
{
    return Unsigned ? s - 128 : static_cast<std::int8_t>(s);
}

template <bool Unsigned>
void Convert8Mono(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(Sample8<Unsigned>(in[i]));
        out[2 * i + 1] = 0;
    }
}

template <bool Unsigned, Mode M>
void Convert8Stereo(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        const int left = Sample8<Unsigned>(in[2 * i]);
        const int right = Sample8<Unsigned>(in[2 * i + 1]);
        if constexpr (M == kMix) {
            PutWord(out + 2 * i, (left + right) * 128);
        } else {
            out[2 * i] = static_cast<std::uint8_t>(M == kFirst ? left : right);
            out[2 * i + 1] = 0;
        }
    }
}

template <int Bytes, bool Little> SampleConverter WideConverter(Mode mode)
{
    switch (mode) {
    case kMono:
        return ConvertWide<Bytes, Little, kMono>;
    case kFirst:
        return ConvertWide<Bytes, Little, kFirst>;
    case kSecond:
        return ConvertWide<Bytes, Little, kSecond>;
    case kMix:
        break;
    }
    return ConvertWide<Bytes, Little, kMix>;
}

template <bool Unsigned> SampleConverter ByteConverter(Mode mode)
{
    switch (mode) {
    case kMono:
        return Convert8Mono<Unsigned>;
    case kFirst:
        return Convert8Stereo<Unsigned, kFirst>;
    case kSecond:
        return Convert8Stereo<Unsigned, kSecond>;
    case kMix:
        break;
    }
    return Convert8Stereo<Unsigned, kMix>;
}

} // namespace

SampleConverter ChooseConverter(const SampleFormat& format)
{
    const Mode mode = format.channelCount < 2 ? kMono
        : format.channel == 1                 ? kFirst
        : format.channel == 2                 ? kSecond
                                              : kMix;
    switch (format.bytesPerSample) {
    case 1:
        return format.unsigned8 ? ByteConverter<true>(mode) : ByteConverter<false>(mode);
    case 2:
        return format.littleEndian ? WideConverter<2, true>(mode) : WideConverter<2, false>(mode);
    case 3:
        return format.littleEndian ? WideConverter<3, true>(mode) : WideConverter<3, false>(mode);
    case 4:
        return format.littleEndian ? WideConverter<4, true>(mode) : WideConverter<4, false>(mode);
    default:
        return nullptr;
    }
}

} // namespace cardmill
