// IMessageable.cpp - message targets and their contexts.
#include "basekit/runtime/IMessageable.h"

#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

VMessagingContext::VMessagingContext(IMessageable* target)
    : fTarget(target), fTaskID(VTaskMgr::Get()->GetCurrentTaskID()), fMessagingOn(1)
{
}

int VMessagingContext::GetMessagingTask() const
{
    return GetTarget() ? fTaskID.load(std::memory_order_acquire) : 0;
}

bool VMessagingContext::IsValid() const
{
    return IsMessagingOn() && GetTarget() && fTaskID.load(std::memory_order_acquire) != 0;
}

IMessageable::IMessageable() : fMessagingContext(new VMessagingContext(this)) {}

IMessageable::~IMessageable()
{
    fMessagingContext->ClearTarget();
    fMessagingContext->Release();
}

void IMessageable::DoMessage(VMessage&) {}

void IMessageable::StartMessaging() { fMessagingContext->SetMessagingOn(true); }

void IMessageable::StopMessaging() { fMessagingContext->SetMessagingOn(false); }

int IMessageable::GetMessagingTask() const { return fMessagingContext->GetMessagingTask(); }

void IMessageable::SetMessagingTask(int taskID) { fMessagingContext->SetMessagingTask(taskID); }

VMessagingContext* IMessageable::RetainMessagingContext() const
{
    fMessagingContext->Retain();
    return fMessagingContext;
}

}  // namespace bkit
