// Linked into a test build of powmeter: every nothrow array allocation fails, as it would
// when the system has no memory left.
#include <cstddef>
#include <new>

void* operator new[](std::size_t, const std::nothrow_t&) noexcept
{
    return nullptr;
}
