// IRefCountable.cpp - the atomic reference count.
#include "basekit/values/IRefCountable.h"

namespace bkit {

int32_t IRefCountable::Retain(const char*) const
{
    return fRefCount.fetch_add(1, std::memory_order_seq_cst) + 1;
}

bool IRefCountable::RetainIfAlive() const
{
    int32_t count = fRefCount.load(std::memory_order_seq_cst);
    while (count > 0) {
        if (fRefCount.compare_exchange_weak(count, count + 1, std::memory_order_seq_cst))
            return true;
    }
    return false;
}

int32_t IRefCountable::Release(const char*) const
{
    int32_t count = fRefCount.fetch_sub(1, std::memory_order_seq_cst) - 1;
    if (count == 0) {
        const_cast<IRefCountable*>(this)->DoOnRefCountZero();
        return 0;
    }
    return count;
}

void IRefCountable::DoOnRefCountZero()
{
    delete this;
}

}  // namespace bkit
