// An allocator whose elements start out default-initialised: for a vector of plain values it
// leaves new room unwritten instead of filling it with zeros. That suits a working buffer sized
// for the worst case and filled front to back before it is read, such as the room for a frame's
// symbols, where clearing would write (and fault in) memory most frames never use.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace reel {

template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
 public:
  template <typename U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };

  DefaultInitAllocator() noexcept = default;
  template <typename U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

  template <typename U>
  void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

}  // namespace reel
