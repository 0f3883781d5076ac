// Linked into the shipped programs only, in place of the standard library's own versions: their
// code is built without exceptions (cmake/ShippedProgram.cmake), and a failure that would throw
// ends the program through std::abort, as the uncaught exception did before. The library's
// versions would bring in its whole exception machinery: the unwinder, the exception classes and
// their strings, and the thread library the unwinder locks with.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void Abort() {
    std::abort();
}

} // namespace

// No program of ours installs a new-handler, so a failed allocation has no one to ask for memory.
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size != 0 ? size : 1))
        return block;
    Abort();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

// What the containers, strings, std::function and std::mutex call where they would throw.
namespace std {
void __throw_bad_exception() {
    Abort();
}
void __throw_bad_alloc() {
    Abort();
}
void __throw_bad_array_new_length() {
    Abort();
}
void __throw_bad_cast() {
    Abort();
}
void __throw_bad_typeid() {
    Abort();
}
void __throw_bad_function_call() {
    Abort();
}
void __throw_logic_error(const char*) {
    Abort();
}
void __throw_domain_error(const char*) {
    Abort();
}
void __throw_invalid_argument(const char*) {
    Abort();
}
void __throw_length_error(const char*) {
    Abort();
}
void __throw_out_of_range(const char*) {
    Abort();
}
void __throw_out_of_range_fmt(const char*, ...) {
    Abort();
}
void __throw_runtime_error(const char*) {
    Abort();
}
void __throw_range_error(const char*) {
    Abort();
}
void __throw_overflow_error(const char*) {
    Abort();
}
void __throw_underflow_error(const char*) {
    Abort();
}
void __throw_system_error(int) {
    Abort();
}
} // namespace std
