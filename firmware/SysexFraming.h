#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Plain functions that read the framing of a stream of MIDI System Exclusive messages.
// They use no framework code, so the build-time image tools, the transfer and the tests share them.
// None of them ever reads at or past the end pointer it is given.
namespace sysex
{
constexpr std::uint8_t startByte = 0xF0;
constexpr std::uint8_t endByte = 0xF7;

/** What scanning one message found. */
struct MessageScan
{
    enum class Result
    {
        complete,    // a whole message, from its F0 up to and including the first F7 after it
        noStartByte, // the first byte is not F0, or there is no byte at all
        noEndByte    // an F0, but no F7 before the end
    };

    Result result;
    std::size_t length; // bytes of the whole message when complete, 0 otherwise
};

/** Finds the message that starts at begin: from its F0 up to and including the first F7.
    Bytes between the two are not looked at. */
MessageScan scanMessage (const std::uint8_t* begin, const std::uint8_t* end) noexcept;

/** The rules that a firmware image must keep to be sent as it stands. */
enum class ImageRule
{
    notEmpty,          // the image holds at least one byte
    startsWithF0,      // every message begins with F0
    sevenBitData,      // every byte between a message's F0 and F7 is 00 to 7F
    endsWithF7,        // every message has its F7 before the end of the image
    nothingAfterLastF7 // no byte follows the last message's F7 (the same check as startsWithF0, named
                       // apart when the stray bytes trail the image)
};

struct ImageFault
{
    ImageRule rule;
    std::size_t offset; // offset of the first byte that breaks the rule (0 for an empty image)
};

/** Checks a whole image; returns true when it keeps every rule, otherwise fills in the first fault. */
bool checkImage (const std::uint8_t* data, std::size_t size, ImageFault& fault) noexcept;

/** One line of text naming a rule, for the build's error messages. */
const char* describe (ImageRule rule) noexcept;

/** Splits an image into its messages from the start: the length of each complete message, in order,
    up to the first byte that does not begin one. For an image that keeps the rules, that is all of it. */
std::vector<std::size_t> splitMessages (const std::uint8_t* data, std::size_t size);

/** Counts the messages of an image that keeps the rules. */
std::size_t countMessages (const std::uint8_t* data, std::size_t size);
} // namespace sysex
