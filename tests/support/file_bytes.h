// Whole files as bytes, for tests that write inputs and read back what a program wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace reel::test {

// Every byte of the file; empty when it cannot be read (a test then fails on the content).
std::vector<uint8_t> ReadAllBytes(const std::filesystem::path& path);

// Replaces the file with exactly `bytes`; false when it cannot be written completely.
bool WriteAllBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes);
bool WriteAllBytes(const std::filesystem::path& path, std::string_view text);

}  // namespace reel::test
