#include "tests/engine/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_failing{false};

void* allocate(std::size_t size) {
    if (g_failing.load(std::memory_order_relaxed)) throw std::bad_alloc();
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* allocate_or_null(std::size_t size) noexcept {
    if (g_failing.load(std::memory_order_relaxed)) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace kit::test {
FailingNew::FailingNew() { g_failing.store(true); }
FailingNew::~FailingNew() { g_failing.store(false); }
}  // namespace kit::test

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
