// Intrusive, non-atomic reference counting.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace quorvane {

/// Base of every object shared by several owners; the release of the last reference deletes it.
///
/// The count is a plain integer: objects cross threads only inside captured smart pointers that are
/// moved, never copied, by the other thread (see core/thread.h).
class ref_counted_object {
 public:
  ref_counted_object(const ref_counted_object&) = delete;
  ref_counted_object& operator=(const ref_counted_object&) = delete;

  /// Adds one reference.
  void retain() noexcept { ++reference_count_; }

  /// Drops one reference; the release that reads 1 deletes the object through its virtual destructor.
  void release() noexcept {
    const int32_t count = reference_count_;
    reference_count_ = count - 1;
    if (count == 1) delete this;
  }

  /// The number of references held now (smart pointers and permanent owner references).
  int32_t reference_count() const noexcept { return reference_count_; }

 protected:
  ref_counted_object() = default;
  virtual ~ref_counted_object() = 0;

 private:
  int32_t reference_count_ = 0;
};

inline ref_counted_object::~ref_counted_object() = default;

/// Holds one reference to a `ref_counted_object`; may be null.
template <class T>
class smart_ptr {
 public:
  /// A null pointer.
  smart_ptr() noexcept = default;

  /// A null pointer.
  smart_ptr(std::nullptr_t) noexcept {}

  /// Wraps a raw pointer and adds a reference: a fresh object goes from 0 to 1.
  smart_ptr(T* object) noexcept : object_(object) {
    if (object_) object_->retain();
  }

  /// Holds `other`'s object too, adding a reference when it is not null.
  smart_ptr(const smart_ptr& other) noexcept : smart_ptr(other.object_) {}

  /// Holds `other`'s object (of a derived class) too, adding a reference when it is not null.
  template <class U>
  requires std::is_convertible_v<U*, T*> smart_ptr(const smart_ptr<U>& other)
  noexcept : smart_ptr(other.get()) {}

  /// Takes `other`'s reference (to an object of a derived class) over without touching the count, as moving
  /// between threads requires; `other` becomes null.
  template <class U>
  requires std::is_convertible_v<U*, T*> smart_ptr(smart_ptr<U>&& other)
  noexcept : object_(std::exchange(other.object_, nullptr)) {}

  /// Takes the other's reference over without touching the count.
  smart_ptr(smart_ptr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

  /// Releases the held object, if any.
  ~smart_ptr() { reset(); }

  /// Holds `other`'s object instead of the current one; assignment to itself changes nothing.
  smart_ptr& operator=(const smart_ptr& other) noexcept {
    if (this == &other) return *this;
    // The new object is taken before the old one is released: `other` may live inside the old object
    // (`node = node->next`), and that release can delete it.
    T* old = std::exchange(object_, other.object_);
    if (object_) object_->retain();
    if (old) old->release();
    return *this;
  }

  /// Takes `other`'s reference over and releases the current object; `other` becomes null.
  smart_ptr& operator=(smart_ptr&& other) noexcept {
    if (this == &other) return *this;
    T* old = std::exchange(object_, std::exchange(other.object_, nullptr));
    if (old) old->release();
    return *this;
  }

  /// Releases the held object, if any, and becomes null.
  void reset() noexcept {
    if (T* object = std::exchange(object_, nullptr)) object->release();
  }

  /// The held object, or null.
  T* get() const noexcept { return object_; }

  /// Member access to the held object (which must not be null).
  T* operator->() const noexcept { return object_; }

  /// The held object (which must not be null).
  T& operator*() const noexcept { return *object_; }

  /// True when an object is held.
  explicit operator bool() const noexcept { return object_ != nullptr; }

  /// True when both hold the same object (or both are null).
  friend bool operator==(const smart_ptr& a, const smart_ptr& b) noexcept { return a.object_ == b.object_; }

  /// True when nothing is held.
  friend bool operator==(const smart_ptr& a, std::nullptr_t) noexcept { return a.object_ == nullptr; }

 private:
  template <class U>
  friend class smart_ptr;

  T* object_ = nullptr;
};

/// Creates a counted object and wraps it at once.
template <class T, class... Args>
smart_ptr<T> make_counted(Args&&... args) {
  return smart_ptr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace quorvane
