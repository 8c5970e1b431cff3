// powmeter's nothrow array new and its delete: plain malloc and free. The C++ runtime's
// own nothrow new wraps the throwing one in a try block, which links in the whole
// exception runtime and adds its set-up to the start of every run.
#include <cstdlib>
#include <new>

void* operator new[](std::size_t size, const std::nothrow_t& /*unused*/) noexcept
{
    return std::malloc(size == 0 ? 1 : size);
}

// Pairs with the nothrow new above; nothing here uses the throwing one.
void operator delete[](void* block) noexcept  // NOLINT(cert-dcl54-cpp)
{
    std::free(block);
}

// Required beside the unsized delete; a char array is always deleted unsized, so no run
// ever reaches it.
// GCOVR_EXCL_START
void operator delete[](void* block, std::size_t /*unused*/) noexcept  // NOLINT(cert-dcl54-cpp)
{
    std::free(block);
}
// GCOVR_EXCL_STOP
