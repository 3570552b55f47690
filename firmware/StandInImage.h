#pragma once

#include <cstdint>
#include <vector>

// The stand-in firmware image that the program carries while the device's own image is not at hand.
// It has the framing and message lengths of the real image; its data bodies are fixed pseudo-random
// 7-bit bytes, so every build makes the same image and a dropped or reordered message always shows.
namespace standin
{
/** Placeholder three-byte MIDI manufacturer identifier (00 7F 7F) that follows each F0. */
constexpr std::uint8_t manufacturerId[3] = { 0x00, 0x7F, 0x7F };

/** The two bytes that follow the manufacturer identifier in every message. */
constexpr std::uint8_t deviceBytes[2] = { 0x00, 0x60 };

/** Bytes of every message besides its body: F0, identifier, device bytes, command, sub-command, F7. */
constexpr std::size_t framingBytes = 9;

/** Seed of the generator that fills the data bodies. */
constexpr std::uint32_t dataSeed = 0x43324657;

/** One run of like messages in the image. */
struct MessageRun
{
    std::uint8_t command;
    std::uint8_t subCommand;
    std::size_t length; // from F0 to F7
    std::size_t count;
    bool zeroBody; // body of 00 bytes, otherwise pseudo-random data bytes
};

/** The image's messages in order, as runs. */
const std::vector<MessageRun>& layout();

/** Builds the whole image. */
std::vector<std::uint8_t> makeImage();
} // namespace standin
