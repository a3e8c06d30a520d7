// TestComponentLibrary.cpp - a small component library the runtime tests load.
//
// Types: 'tst1' (version 3, no requirements), 'tst2' (needs 'tst1' of at least
// version 2) and 'tst3' (needs 'tst1' of at least version 5, so it is never
// available). "Main" counts its messages; TestLiveComponents tells how many
// components are alive, so that tests see every reference given back.
#include <atomic>
#include <cstdint>

#include "basekit/runtime/CComponent.h"

namespace {

constexpr uint32_t Code(const char (&text)[5])
{
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

std::atomic<int> gLive{0};
std::atomic<int> gRegistered{0};
std::atomic<int> gLeaving{0};

const uint32_t kTypes[] = {Code("tst1"), Code("tst2"), Code("tst3")};

class TestComponent : public bkit::CComponent {
public:
    TestComponent(uint32_t type, uint32_t kind) : fType(type), fKind(kind)
    {
        ++gLive;
        fRequirements[0] = 0x10000;
        fRequirements[1] = sizeof(fRequirements);
        fRequirements[10] = 0;
        if (type == Code("tst2") || type == Code("tst3")) {
            fRequirements[10] = 1;
            fRequirements[11] = Code("tst1");
            fRequirements[12] = type == Code("tst2") ? 2 : 5;
        }
        fVersion[5] = 3;
    }
    uint32_t GetComponentType() const override { return fType; }
    uint32_t GetComponentKind() const override { return fKind; }
    void Retain() override { ++fCount; }
    void Release() override
    {
        if (--fCount == 0)
            delete this;
    }
    const uint32_t* GetRequirements() const override { return fRequirements; }
    const uint32_t* GetVersionInfo() const override { return fVersion; }

private:
    ~TestComponent() override { --gLive; }
    uint32_t fType;
    uint32_t fKind;
    std::atomic<int> fCount{1};
    uint32_t fRequirements[16] = {};
    uint32_t fVersion[8] = {};
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void Main(uint32_t message, void*)
{
    if (message == Code("regs"))
        ++gRegistered;
    else if (message == Code("leav"))
        ++gLeaving;
}

__attribute__((visibility("default"))) bool GetNthComponentType(int32_t n, uint32_t& type)
{
    if (n < 1 || n > 3)
        return false;
    type = kTypes[n - 1];
    return true;
}

__attribute__((visibility("default"))) bkit::CComponent* CreateComponent(uint32_t type, uint32_t kind)
{
    for (uint32_t known : kTypes) {
        if (known == type)
            return new TestComponent(type, kind == 0x42424242 ? Code("dflt") : kind);
    }
    return nullptr;
}

__attribute__((visibility("default"))) int TestLiveComponents() { return gLive.load(); }
__attribute__((visibility("default"))) int TestMainCalls(bool leaving) { return leaving ? gLeaving.load() : gRegistered.load(); }

}  // extern "C"
