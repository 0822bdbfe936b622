// Thin holders that close a file, a file search or an Internet handle on every path; for every
// folder that opens such handles.
#pragma once
#include <windows.h>
#include <wininet.h>

template <typename Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;
    explicit ScopedHandle(Handle handle) : Value(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    Handle Get() const { return Value; }
    void Reset(Handle handle)
    {
        Close();
        Value = handle;
    }
    explicit operator bool() const { return Value != Traits::Empty(); }
    void Close()
    {
        if (Value != Traits::Empty())
            Traits::Close(Value);
        Value = Traits::Empty();
    }

private:
    Handle Value;
};

struct FileTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
struct FindTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};
struct InternetTraits {
    using Handle = HINTERNET;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { InternetCloseHandle(handle); }
};

using FileHandle = ScopedHandle<FileTraits>;
using FindHandle = ScopedHandle<FindTraits>;
using InternetHandle = ScopedHandle<InternetTraits>;
