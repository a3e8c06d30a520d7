// IRefCountable.h - the intrusive reference count shared by the toolbox's objects.
//
// This file defines IRefCountable, the mixin that gives an object an atomic
// 32-bit reference count, and VRefPtr, the smart pointer that owns one such
// reference. A new object starts with the count at 1: its creator holds the first
// reference. Operations named Retain... hand their caller a new reference that the
// caller releases exactly once; operations named Get... hand out a pointer without
// a reference. Retain and Release may be called from any thread without a lock;
// exactly one Release sees the count reach 0 and runs DoOnRefCountZero.
// A registry that lists objects without keeping them alive hands them out with
// RetainIfAlive, under the lock their destructors take to leave the registry:
// an object whose count already reached 0 is being destroyed and must not be
// retained again.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace bkit {

class IRefCountable {
public:
    IRefCountable() : fRefCount(1) {}
    // A copy is a new object: it starts with its own single reference.
    IRefCountable(const IRefCountable&) : fRefCount(1) {}
    IRefCountable& operator=(const IRefCountable&) { return *this; }

    // Destroying directly is allowed only for an object that was never shared.
    virtual ~IRefCountable() = default;

    // Adds one reference and returns the new count. The label is for debugging
    // and ignored here; callers pass none.
    virtual int32_t Retain(const char* label = nullptr) const;

    // Drops one reference and returns the new count. At 0 it calls
    // DoOnRefCountZero; the caller must not touch the object afterwards.
    virtual int32_t Release(const char* label = nullptr) const;

    // Adds one reference unless the count has already reached 0, and answers
    // whether it did. Works on this base's count only: classes that replace
    // Retain and Release with their own count do not use it.
    bool RetainIfAlive() const;

    // Hook for breaking reference cycles; empty here.
    virtual void ReleaseDependencies() {}

    // Deletes the object through its virtual destructor.
    virtual void DoOnRefCountZero();

    // The current count, for tests and diagnostics; stale as soon as it is read.
    int32_t GetRefCount() const { return fRefCount.load(); }

private:
    mutable std::atomic<int32_t> fRefCount;
};

// Holds one reference to a T (a class deriving from IRefCountable), or null.
// Built from a plain pointer it adopts nothing: it retains, so the caller keeps
// its own reference. Use Adopt() to take over a reference from a Retain... call.
template <class T>
class VRefPtr {
public:
    VRefPtr() = default;
    VRefPtr(std::nullptr_t) {}
    explicit VRefPtr(T* object) : fObject(object) { if (fObject) fObject->Retain(); }
    VRefPtr(const VRefPtr& other) : fObject(other.fObject) { if (fObject) fObject->Retain(); }
    VRefPtr(VRefPtr&& other) noexcept : fObject(other.fObject) { other.fObject = nullptr; }
    template <class U>
    VRefPtr(const VRefPtr<U>& other) : fObject(other.Get()) { if (fObject) fObject->Retain(); }
    ~VRefPtr() { if (fObject) fObject->Release(); }

    VRefPtr& operator=(const VRefPtr& other) { Set(other.fObject); return *this; }
    VRefPtr& operator=(VRefPtr&& other) noexcept { std::swap(fObject, other.fObject); return *this; }
    VRefPtr& operator=(std::nullptr_t) { Clear(); return *this; }

    // Takes over a reference the caller already owns (from new or a Retain... call).
    static VRefPtr Adopt(T* object) { VRefPtr p; p.fObject = object; return p; }

    // Replaces the held object, retaining the new one.
    void Set(T* object)
    {
        if (object) object->Retain();
        T* old = fObject;
        fObject = object;
        if (old) old->Release();
    }
    void Clear() { T* old = fObject; fObject = nullptr; if (old) old->Release(); }

    // Gives the held reference to the caller; the pointer becomes null.
    T* Forget() { T* o = fObject; fObject = nullptr; return o; }

    T* Get() const { return fObject; }
    T* operator->() const { return fObject; }
    T& operator*() const { return *fObject; }
    explicit operator bool() const { return fObject != nullptr; }
    bool operator==(const VRefPtr& other) const { return fObject == other.fObject; }
    bool operator==(const T* other) const { return fObject == other; }

private:
    T* fObject = nullptr;
};

// Releases a pointer if not null and sets it to null.
template <class T>
inline void ReleaseRefCountable(T** object)
{
    if (*object) {
        (*object)->Release();
        *object = nullptr;
    }
}

// Retains a pointer if not null and returns it.
template <class T>
inline T* RetainRefCountable(T* object)
{
    if (object) object->Retain();
    return object;
}

}  // namespace bkit
