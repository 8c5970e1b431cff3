#include "stand_in_path.h"

#include <climits>
#include <cstdlib>

#include <unistd.h>

// Every library function a program imports costs the loader a symbol lookup at each start,
// which here would cost more than the work itself; so the few string steps are plain loops,
// and the buffers are static, needing no stack guard.
namespace {

char program_path[PATH_MAX];
char folder_path[PATH_MAX];
// The new PATH entry, where it fits; a longer one is allocated.
char path_entry[2 * PATH_MAX];

std::size_t length_of(const char* text)
{
    std::size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

bool starts_with(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix)
            return false;
    }
    return true;
}

// Copies `text` and its zero byte to `out`; gives where that zero byte now lies.
char* copy(char* out, const char* text)
{
    while ((*out = *text++) != '\0')
        ++out;
    return out;
}

}  // namespace

bool stand_in_folder(std::string_view program, const char* relative, char* out, std::size_t size) noexcept
{
    std::size_t folder = 0;
    if (relative[0] != '/') {
        if (program.empty() || program[0] != '/')
            return false;
        folder = program.rfind('/');
        for (; starts_with(relative, "../"); relative += 3) {
            while (folder > 0 && program[folder - 1] != '/')
                --folder;
            // One step above the root is the root, as the kernel resolves "..".
            if (folder > 0)
                --folder;
        }
    }
    if (folder + 1 + length_of(relative) >= size)
        return false;
    for (std::size_t at = 0; at < folder; ++at)
        out[at] = program[at];
    out[folder] = '/';
    copy(out + folder + (relative[0] == '/' ? 0 : 1), relative);
    return true;
}

void add_stand_ins_to_path(const char* relative) noexcept
{
    // The kernel's own record of the program that runs: argv[0] may be any word at all.
    const ssize_t length = readlink("/proc/self/exe", program_path, sizeof program_path);
    // Beside a build tree's powmeter the folder is not there, and the shell finds nothing in
    // it; asking first would cost more than the shell's own look.
    if (length <= 0 ||
        !stand_in_folder({program_path, static_cast<std::size_t>(length)}, relative, folder_path, sizeof folder_path))
        return;  // GCOVR_EXCL_LINE: only without /proc, or with a path near PATH_MAX long

    std::size_t index = 0;
    while (environ[index] != nullptr && !starts_with(environ[index], "PATH="))
        ++index;
    const bool found = environ[index] != nullptr;
    // Without PATH the shell searches the C library's default; keep that before the folder.
    const char* const path = found ? environ[index] + 5 : "/bin:/usr/bin";
    // The entry lives as long as the process, in the environment that the shell inherits.
    const std::size_t size = 5 + length_of(path) + 1 + length_of(folder_path) + 1;
    char* const entry = size <= sizeof path_entry ? path_entry : static_cast<char*>(std::malloc(size));
    if (entry == nullptr)
        return;  // GCOVR_EXCL_LINE: only out of memory
    char* end = copy(entry, "PATH=");
    end = copy(end, path);
    *end++ = ':';
    copy(end, folder_path);
    if (found) {
        environ[index] = entry;
        return;
    }
    char** const grown = static_cast<char**>(std::malloc((index + 2) * sizeof *grown));
    if (grown == nullptr)
        return;  // GCOVR_EXCL_LINE: only out of memory
    for (std::size_t at = 0; at < index; ++at)
        grown[at] = environ[at];
    grown[index] = entry;
    grown[index + 1] = nullptr;
    environ = grown;
}
