// Runs the registry query and pulls the two battery capacities out of its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Size of the buffer that holds the query's text: at most one byte less of text, then zero bytes.
inline constexpr std::size_t CAPACITY_TEXT_SIZE = 5120;

// The pipeline handed unchanged to the system shell: the registry lines that mention
// Capacity, joined by blanks into one line.
inline constexpr char CAPACITY_QUERY_COMMAND[] = "ioreg -l | grep Capacity |  tr '\\n' ' | '";

// Property key of the current capacity; it matches whatever follows its closing quote.
inline constexpr char CURRENT_CAPACITY_KEY[] = "\"CurrentCapacity\"";

// Property key of the maximum capacity; the trailing blank is part of it.
inline constexpr char MAXIMUM_CAPACITY_KEY[] = "\"MaxCapacity\" ";

// Runs CAPACITY_QUERY_COMMAND and reads its first line, at most CAPACITY_TEXT_SIZE - 1
// characters, into `capacity_text`, which must be CAPACITY_TEXT_SIZE zero bytes; false when
// the pipeline cannot be started or prints nothing.
bool read_capacity_text(char* capacity_text) noexcept;

// Gives the whole number from 0 to INT32_MAX written right after the first `=` behind the
// first occurrence of `key` in the text of the CAPACITY_TEXT_SIZE buffer `capacity_text`,
// which ends at its first zero byte; nothing when the key, the `=` or the digits are
// missing, when the number would start past the buffer's last byte, or when it is negative
// or too large.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): text first, then key, as strstr.
std::optional<std::int32_t> extract_capacity(const char* capacity_text, const char* key) noexcept;
