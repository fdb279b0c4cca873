// One small owner for every kind of handle the program holds, so that no early return can leak
// one. Each kind is a traits struct: its type, its "none" value and its close function. Free of
// any system header, so the Windows handles (platform/win32/Handle.h) and the Linux build's file
// descriptors share it.
#pragma once

namespace platform {

template <typename Traits> class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const { return handle_; }
    explicit operator bool() const { return Traits::IsValid(handle_); }
    Type release() {
        Type handle = handle_;
        handle_ = Traits::None();
        return handle;
    }
    void reset(Type handle = Traits::None()) {
        if (Traits::IsValid(handle_)) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

  private:
    Type handle_ = Traits::None();
};

} // namespace platform
