// How many jobs reelforge-cli runs at once when --jobs is not given: one per processor it may run
// on, but no more than the available memory carries at kJobMemoryBudget each, and at least one.
//
// The budget covers a job's picture buffers and frame threads with room to spare, and a long
// soundtrack held while it is encoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace reel {

inline constexpr uint64_t kJobMemoryBudget = uint64_t{256} << 20;

// `availableBytes` none: memory is not known, only the processors count.
int32_t DefaultJobCount(unsigned processors, std::optional<uint64_t> availableBytes);

// The MemAvailable line of a /proc/meminfo text, in bytes; none when it is missing or unreadable.
std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo);

// DefaultJobCount for this machine: the processors of the process's affinity mask and
// /proc/meminfo.
int32_t MachineJobCount();

}  // namespace reel
