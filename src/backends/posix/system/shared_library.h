#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::platform::posix {

// A shared library opened at run time by its runtime name (the package's, never the development
// link), so that a process that never needs it pays nothing for it. Closed on destruction unless
// kept open.
class SharedLibrary {
public:
    // Nothing, with "cannot open <name>: <why>" in problem when given, when it cannot be opened.
    static std::optional<SharedLibrary> open(const std::string& name,
                                             std::string* problem = nullptr);
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&&) = delete;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary();

    // Points function at the symbol, typed as function is; false, and null, when it is absent.
    template <typename Function> bool resolve(Function& function, const char* symbol) const {
        function = reinterpret_cast<Function>(address(symbol));
        return function != nullptr;
    }
    // resolve() for a function its user cannot do without: the first absent one is kept.
    template <typename Function> void require(Function& function, const char* symbol) {
        if (!resolve(function, symbol) && !missing_)
            missing_ = symbol;
    }
    // The first required symbol the library lacks; nullptr when it lacks none.
    const char* missing() const { return missing_; }
    const std::string& name() const { return name_; }

    // Never closed: what the library made may outlive any one user of it.
    void keepOpen() { handle_ = nullptr; }

private:
    SharedLibrary(void* handle, std::string name);
    void* address(const char* symbol) const;

    void* handle_;
    std::string name_;
    const char* missing_ = nullptr;
};

// Inside a struct: a member for each C function a list names (LIST(X) applies X to each name),
// typed as the function's own declaration and keeping its name, and the resolve() that requires
// them all. Such a struct is the table a LibraryOnce opens.
#define BRIVANE_LIBRARY_TABLE(LIST)                                                                \
    LIST(BRIVANE_LIBRARY_MEMBER)                                                                   \
    void resolve(::brivane::platform::posix::SharedLibrary& library) {                             \
        LIST(BRIVANE_LIBRARY_REQUIRE)                                                              \
    }
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument names a member, not a value
#define BRIVANE_LIBRARY_MEMBER(name) decltype(&::name) name = nullptr;
#define BRIVANE_LIBRARY_REQUIRE(name) library.require(name, #name);

// A library's table of functions (BRIVANE_LIBRARY_TABLE), opened on the first call and kept for
// the rest of the process; so is a failure, which later calls report without trying again.
// Thread-safe.
template <typename Table> class LibraryOnce {
public:
    // user names who needs the functions in the message when one is absent ("the history").
    constexpr LibraryOnce(const char* name, const char* user) : name_(name), user_(user) {}

    // The table; nullptr, with why in problem, when the library cannot be opened or lacks one of
    // the functions.
    const Table* get(std::string& problem) {
        std::call_once(once_, [this] { opened_ = open(); });
        problem = failure_;
        return opened_;
    }
    const Table* get() {
        std::string problem;
        return get(problem);
    }
    // The table once get() gave it; nullptr before.
    const Table* opened() const { return opened_; }

private:
    const Table* open() {
        auto library = SharedLibrary::open(name_, &failure_);
        if (!library)
            return nullptr;
        table_.emplace().resolve(*library);
        if (library->missing()) {
            failure_ = std::string(name_) + " lacks a function " + user_ + " needs (" +
                       library->missing() + ")";
            return nullptr;
        }
        library->keepOpen();
        return &*table_;
    }

    const char* name_;
    const char* user_;
    std::once_flag once_;
    std::atomic<const Table*> opened_ = nullptr;
    std::optional<Table> table_;
    std::string failure_;
};

} // namespace brivane::platform::posix
