// Where a Linux build of powmeter finds the stand-in ioreg installed beside it. The stand-ins
// live off PATH, so that scripts that probe for the platform's commands are not misled; the
// query's shell still has to find one.
#pragma once

#include <cstddef>
#include <string_view>

// Writes into `out`, of `size` bytes, the folder that `relative` names from the folder of the
// program whose absolute path is `program`: each leading "../" takes one folder off, and an
// absolute `relative` stands as it is. False when `program` is not absolute or the result
// does not fit.
bool stand_in_folder(std::string_view program, const char* relative, char* out, std::size_t size) noexcept;

// Appends the stand-ins' folder of the running powmeter's own install to the end of PATH
// (PATH unset: the system's default search path), where the query's shell looks last, so
// that an ioreg that the user put on PATH still wins. Changes nothing when the program's
// path cannot be read; beside a build tree's powmeter the folder is not there, and the shell
// finds nothing in it.
void add_stand_ins_to_path(const char* relative) noexcept;
