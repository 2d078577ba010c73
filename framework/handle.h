// Move-only owners for the handle kinds the program keeps.
#pragma once

#include <windows.h>

// One owner per handle; Traits says what "empty" is and how to free it.
template <typename Traits>
class CUniqueHandle {
public:
    using pointer = typename Traits::pointer;

    CUniqueHandle() noexcept = default;
    explicit CUniqueHandle(pointer h) noexcept : m_h(h) {}
    ~CUniqueHandle() { reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_h(other.release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    pointer get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Invalid(); }
    pointer release() noexcept {
        pointer h = m_h;
        m_h = Traits::Invalid();
        return h;
    }
    void reset(pointer h = Traits::Invalid()) noexcept {
        if (m_h != Traits::Invalid()) Traits::Close(m_h);
        m_h = h;
    }

private:
    pointer m_h = Traits::Invalid();
};

struct CKernelHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};
// CreateFile, CreateNamedPipe and CreateToolhelp32Snapshot report failure as
// INVALID_HANDLE_VALUE rather than null.
struct CFileHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};
struct CIconTraits {
    using pointer = HICON;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::DestroyIcon(h); }
};
struct CMenuTraits {
    using pointer = HMENU;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::DestroyMenu(h); }
};
struct CBrushTraits {
    using pointer = HBRUSH;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::DeleteObject(h); }
};
struct CFontTraits {
    using pointer = HFONT;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::DeleteObject(h); }
};

using CHandle = CUniqueHandle<CKernelHandleTraits>;
using CFileHandle = CUniqueHandle<CFileHandleTraits>;
using CIconHandle = CUniqueHandle<CIconTraits>;
using CMenuHandle = CUniqueHandle<CMenuTraits>;
using CBrushHandle = CUniqueHandle<CBrushTraits>;
using CFontHandle = CUniqueHandle<CFontTraits>;
