// Linked into a test build of powmeter: no pipe to a command can be set up, as when the
// process has run out of file descriptors.
#include <cerrno>
#include <cstdio>

extern "C" FILE* popen(const char*, const char*)
{
    errno = EMFILE;
    return nullptr;
}
