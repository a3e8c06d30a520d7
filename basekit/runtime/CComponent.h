// CComponent.h - the base of components served by the component manager.
//
// This file defines CComponent, what the component manager (VComponentManager)
// asks of a component: its type and kind (four-character codes), its release,
// its requirements block and its version information. Component libraries
// implement it; a library needs only this header, so its layout must not
// change without rebuilding every component library.
//
// Requirements block (32-bit words): [0] version, at least 0x10000; [1] size in
// bytes, at least 52; [10] number of requirements; from [11] pairs of (required
// type, minimum version or -1 for none). Version information: word 5 holds the
// component's version.
#pragma once

#include <cstdint>

namespace bkit {

// Stands for any kind.
constexpr uint32_t kCOMPONENT_ANY_KIND = 0x42424242;  // 'BBBB'

class CComponent {
public:
    virtual uint32_t GetComponentType() const = 0;
    virtual uint32_t GetComponentKind() const = 0;
    // Drops the caller's reference; the component deletes itself at the last.
    virtual void Release() = 0;
    virtual void Retain() = 0;
    // The requirements block, or null when the component declares none.
    virtual const uint32_t* GetRequirements() const = 0;
    // The version information (word 5 holds the version), or null.
    virtual const uint32_t* GetVersionInfo() const = 0;

protected:
    virtual ~CComponent() = default;
};

}  // namespace bkit
