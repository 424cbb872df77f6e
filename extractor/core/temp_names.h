// The names of the extractor's temporary files: ".rdz-", eight hex digits
// that stand for the run, eight more for the file, ".tmp". Both halves come
// from the system's random source, so neither an entry nor another run can
// name a temporary before it exists; entry names of that shape are refused
// outright, so a file of that shape found on the disk is a leftover.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rdz {

constexpr size_t kTempNameLen = 5 + 16 + 4;

// `out` gets kTempNameLen characters and a NUL.
void make_temp_name(uint32_t run, uint32_t file, char* out);

// True for a component an entry may not have: ".rdz-" ... ".tmp" in any
// letter case, as Windows would match it.
bool looks_like_temp(std::string_view component);

// True for a temporary left by another run, killed before it could clean up:
// ".rdz-", 8 or 16 lowercase hex digits, ".tmp", not carrying `run`.
bool is_leftover(std::string_view name, uint32_t run);

}  // namespace rdz
