// VErrorBaseBag.cpp - the bag form of an error record, as log entries carry it.
//
// The parameters object is not written as a "parameters" element: converting
// JSON to a bag belongs to the bag's JSON form, which this build does not read
// back; the log line never shows elements anyway.
#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

VError VErrorBase::SaveToBag(VValueBag& bag) const
{
    ILoggerBagKeys::error_code.Set(&bag, fError);
    ILoggerBagKeys::task_id.Set(&bag, fTaskID);
    ILoggerBagKeys::task_name.Set(&bag, fTaskName);
    return VE_OK;
}

}  // namespace bkit
