// Linked into each program, like the terminate handler: the C++ library reports misuse (a
// container asked for too much, a position out of range, a lock that failed) with exceptions
// whose texts it builds with its older string type, and with them comes a second copy of the
// whole string implementation, about a tenth of the updater. No program reads those texts:
// every such failure is caught as "any exception". So the reports stay exceptions, without text.
#include <exception>
#include <new>

#if defined(__GLIBCXX__) // the library's own hooks, declared in <bits/functexcept.h>
#include <bits/functexcept.h>

namespace {
[[noreturn]] void Report() {
    throw std::exception();
}
} // namespace

namespace std {
void __throw_bad_exception() {
    throw bad_exception();
}
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_bad_cast() {
    Report();
}
void __throw_bad_typeid() {
    Report();
}
void __throw_logic_error(const char*) {
    Report();
}
void __throw_domain_error(const char*) {
    Report();
}
void __throw_invalid_argument(const char*) {
    Report();
}
void __throw_length_error(const char*) {
    Report();
}
void __throw_out_of_range(const char*) {
    Report();
}
void __throw_out_of_range_fmt(const char*, ...) {
    Report();
}
void __throw_runtime_error(const char*) {
    Report();
}
void __throw_range_error(const char*) {
    Report();
}
void __throw_overflow_error(const char*) {
    Report();
}
void __throw_underflow_error(const char*) {
    Report();
}
void __throw_system_error(int) {
    Report();
}
} // namespace std
#endif
