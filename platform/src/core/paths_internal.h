// Path conversion helpers shared by the module and path functions.
#pragma once

#include <windows.h>

#include <cstdlib>

namespace comhost::paths {

// A growable, terminated character buffer on the C heap.  It does not count
// as an allocation for failure injection: these are the host layer's own
// working buffers, not memory handed to a caller.
template <typename Char>
class Buffer {
public:
    Buffer() = default;
    ~Buffer() { std::free(data_); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    // Makes room for n characters; false (last error set) when out of memory.
    bool Reserve(size_t n) {
        if (n <= capacity_) return true;
        void *grown = std::realloc(data_, n * sizeof(Char));
        if (!grown) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        data_ = static_cast<Char *>(grown);
        capacity_ = n;
        return true;
    }
    Char *data() { return data_; }
    const Char *data() const { return data_; }
    size_t length() const { return length_; }
    void set_length(size_t n) { length_ = n; }

private:
    Char *data_ = nullptr;
    size_t capacity_ = 0;
    size_t length_ = 0;
};

// Windows-form path to host path.  length -1: terminated input.
bool WideToHost(LPCWSTR path, int length, Buffer<char> &out);
bool AnsiToHost(LPCSTR path, Buffer<char> &out);
// Host path to Windows form.
bool HostToWide(const char *hostPath, Buffer<WCHAR> &out);
bool HostToAnsi(const char *hostPath, Buffer<char> &out);

}  // namespace comhost::paths
