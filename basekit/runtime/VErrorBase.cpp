// VErrorBase.cpp - error records, localizers, native codes and raising.
#include "basekit/runtime/VErrorBase.h"

#include <cstdio>
#include <cstring>

#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/platform/NativeErrorText.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/ILocalizer.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

std::map<OsType, ILocalizer*> VErrorBase::sLocalizers;

namespace {

const VString& ErrCodeKey() { static const VString key("errCode"); return key; }
const VString& SignatureKey() { static const VString key("componentSignature"); return key; }
const VString& MessageKey() { static const VString key("message"); return key; }
const VString& ActionKey() { static const VString key("action_description"); return key; }

// The four characters of a signature as text; trailing NULs are left out so
// that a zero signature is the empty text.
void SignatureToString(OsType signature, VString& out)
{
    out.Clear();
    int count = 4;
    while (count > 0 && ((signature >> (8 * (4 - count))) & 0xFF) == 0)
        --count;
    for (int i = 0; i < count; ++i)
        out.AppendUniChar(static_cast<UniChar>((signature >> (24 - 8 * i)) & 0xFF));
}

// The signature read from the first four characters of a text (missing ones 0).
OsType SignatureFromString(const VString& text)
{
    OsType signature = 0;
    for (VIndex i = 0; i < 4; ++i) {
        UniChar c = (i < text.GetLength()) ? text[i] : 0;
        signature = (signature << 8) | (static_cast<OsType>(c) & 0xFF);
    }
    return signature;
}

// Appends the signature's characters up to the first NUL, as "%.4s" would.
void AppendSignatureChars(VString& out, OsType signature)
{
    char chars[5];
    OsTypeToChars(signature, chars);
    for (int i = 0; i < 4 && chars[i] != 0; ++i)
        out.AppendUniChar(static_cast<UniChar>(static_cast<unsigned char>(chars[i])));
}

void FillTaskInfo(int32_t& taskID, VString& taskName)
{
    if (VTask* task = VTask::GetCurrent()) {
        taskID = task->GetID();
        task->GetName(taskName);
    }
}

// Native code -> toolbox code, searched in order.
struct NativeMapping {
    VError native;
    VError toolbox;
};

constexpr NativeMapping kNativeTable[] = {
    {0, 0},
    {MakeCarbonVError(-108), MakeBKitError(100)},
    {MakeCarbonVError(-39), MakeBKitError(200)},
    {MakeCarbonVError(-34), MakeBKitError(658)},
    {MakeCarbonVError(-43), MakeBKitError(600)},
    {MakeCarbonVError(-120), MakeBKitError(650)},
    {MakeCarbonVError(-45), MakeBKitError(5)},
    {MakeCarbonVError(-46), MakeBKitError(5)},
    {MakeCarbonVError(-192), MakeBKitError(401)},
    {MakeCarbonVError(-37), MakeBKitError(614)},
    {MakeCarbonVError(-54), MakeBKitError(5)},
    {MakeCarbonVError(-128), MakeBKitError(6)},
    {MakePOSIXVError(2), MakeBKitError(600)},
    {MakePOSIXVError(13), MakeBKitError(5)},
};

bool LookUpNative(VError native, VError& toolbox)
{
    for (const NativeMapping& row : kNativeTable) {
        if (row.native == native) {
            toolbox = row.toolbox;
            return true;
        }
    }
    return false;
}

}  // namespace

// --- construction ---

VErrorBase::VErrorBase() : fParameters(new VJSONObject()) {}

VErrorBase::VErrorBase(VError code) : fError(code), fParameters(new VJSONObject())
{
    FillTaskInfo(fTaskID, fTaskName);
    SetLong(ErrCodeKey(), ERRCODE_FROM_VERROR(code));
    VString signature;
    SignatureToString(COMPONENT_FROM_VERROR(code), signature);
    SetString(SignatureKey(), signature);
}

VErrorBase::VErrorBase(VError code, VJSONObject* parameters)
    : fError(code), fParameters(parameters ? RetainRefCountable(parameters) : new VJSONObject())
{
    FillTaskInfo(fTaskID, fTaskName);
}

VErrorBase::VErrorBase(const VErrorBase& other)
    : VObject(), IRefCountable(), fError(other.fError), fTaskID(other.fTaskID), fTaskName(other.fTaskName)
{
    VJSONCloner cloner;
    VJSONValue clone;
    cloner.CloneObject(other.fParameters, clone);
    fParameters = clone.IsObject() ? clone.RetainObject() : nullptr;
    if (fParameters == nullptr)
        fParameters = new VJSONObject();
}

VErrorBase::~VErrorBase()
{
    ReleaseRefCountable(&fParameters);
}

VErrorBase* VErrorBase::Create(VJSONObject* parameters, OsType signature)
{
    VRefPtr<VJSONObject> object(parameters);
    if (!object)
        object = VRefPtr<VJSONObject>::Adopt(new VJSONObject());

    VJSONValue signatureValue = object->GetProperty(SignatureKey());
    if (signatureValue.IsString()) {
        VString text;
        signatureValue.GetString(text);
        signature = SignatureFromString(text);
    } else {
        VString text;
        SignatureToString(signature, text);
        object->SetPropertyAsString(SignatureKey(), text);
    }

    int32_t number;
    VJSONValue numberValue = object->GetProperty(ErrCodeKey());
    if (numberValue.IsNumber()) {
        // Truncated to the low 32 bits, as a cast of the integer would.
        double d = numberValue.GetNumber();
        int64_t whole = (d >= -9.2e18 && d <= 9.2e18) ? static_cast<int64_t>(d) : 0;
        number = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
    } else {
        number = -1;
        object->SetPropertyAsNumber(ErrCodeKey(), -1);
    }

    VError code = MakeVError(signature, number);
    if (code == 0)
        code = VE_UNKNOWN_ERROR;
    return new VErrorBase(code, object.Get());
}

// --- descriptions ---

CharSet VErrorBase::DebugDump(char* buffer, int& size)
{
    if (VProcess::sInstance != nullptr) {
        VString dump;
        DumpToString(dump);
        VIndex units = dump.GetLength();
        if (size < 0)
            size = 0;
        if (units > size / 2)
            units = size / 2;
        const UniChar* text = dump.GetCPointer();
        for (VIndex i = 0; i < units; ++i) {
            buffer[2 * i] = static_cast<char>(text[i] & 0xFF);
            buffer[2 * i + 1] = static_cast<char>((text[i] >> 8) & 0xFF);
        }
        size = units * 2;
        return VTC_UTF_16_SMALLENDIAN;
    }
    // Without the process object no string service may be relied on: a plain
    // byte summary, which is what the answer says it is.
    char signature[5];
    OsTypeToChars(GetComponentSignature(), signature);
    if (size <= 0) {
        size = 0;
        return VTC_UTF_8;
    }
    int written = snprintf(buffer, static_cast<size_t>(size), "Error code: %ld, component: '%.4s', task ID: %d",
                           static_cast<long>(GetErrorNumber()), signature, fTaskID);
    if (written < 0)
        written = 0;
    if (written >= size)
        written = size - 1;
    size = written;
    return VTC_UTF_8;
}

void VErrorBase::GetErrorString(VString& out) const
{
    out.FromCString("Error code: ");
    out.AppendLong(GetErrorNumber());
    out.AppendCString(" (");
    AppendSignatureChars(out, GetComponentSignature());
    out.AppendUniChar(u')');
}

void VErrorBase::FormatWithParameters(VString& out) const
{
    out.Format(fParameters, false);
}

void VErrorBase::GetErrorDescription(VString& out) const
{
    VJSONValue message = fParameters->GetProperty(MessageKey());
    if (message.IsString()) {
        message.GetString(out);
        return;
    }

    if (fError != 0) {
        ILocalizer* localizer = GetLocalizer(GetComponentSignature());
        if (localizer != nullptr && localizer->LocalizeErrorMessage(fError, out)) {
            FormatWithParameters(out);
            return;
        }
    }

    out.Clear();
    OsType signature = GetComponentSignature();
    int32_t number = GetErrorNumber();
    if (signature == kCARB_SIGNATURE) {
        const char* comment = nullptr;
        const char* name = nullptr;
        if (GetCarbonStatusTexts(number, &comment, &name)) {
            out.FromCString(comment);
            out.AppendCString(" (");
            out.AppendCString(name);
            out.AppendCString(").");
        }
    } else if (signature == kCOCO_SIGNATURE) {
        char buffer[256];
        out.FromCString(GetCocoaErrorText(number, buffer, sizeof(buffer)));
    } else if (signature == kMACH_SIGNATURE) {
        out.FromCString(GetMachErrorText(number));
    } else if (signature == kPOSX_SIGNATURE) {
        char buffer[1024];
        if (GetPOSIXErrorText(number, buffer, sizeof(buffer)))
            out.FromCString(buffer);
    }

    if (out.IsEmpty())
        GetErrorString(out);
}

void VErrorBase::GetActionDescription(VString& out) const
{
    VJSONValue action = fParameters->GetProperty(ActionKey());
    if (action.IsString())
        action.GetString(out);
    FormatWithParameters(out);
}

void VErrorBase::GetLocation(VString& out) const
{
    OsType signature = GetComponentSignature();
    if (signature == kBKIT_SIGNATURE) {
        out.FromCString("basekit");
        return;
    }
    out.FromCString("component: '");
    for (int shift = 24; shift >= 0; shift -= 8)
        out.AppendUniChar(static_cast<UniChar>((signature >> shift) & 0xFF));
    out.AppendUniChar(u'\'');
}

void VErrorBase::GetTaskName(VString& out, int32_t* taskID) const
{
    out.FromString(fTaskName);
    if (taskID)
        *taskID = fTaskID;
}

void VErrorBase::DumpToString(VString& out) const
{
    GetErrorString(out);
    out.AppendUniChar(u'\n');

    VString part;
    GetErrorDescription(part);
    if (!part.IsEmpty())
        out.AppendString(part).AppendUniChar(u'\n');

    part.Clear();
    GetLocation(part);
    if (!part.IsEmpty())
        out.AppendString(part).AppendUniChar(u'\n');

    part.Clear();
    GetActionDescription(part);
    if (!part.IsEmpty())
        out.AppendString(part).AppendUniChar(u'\n');

    out.AppendCString("task ");
    out.AppendLong(fTaskID);
    if (!fTaskName.IsEmpty())
        out.AppendCString(", name: '").AppendString(fTaskName).AppendUniChar(u'\'');
    out.AppendUniChar(u'\n');
}

// --- parameters ---

void VErrorBase::SetString(const VString& name, const VString& text)
{
    fParameters->SetPropertyAsString(name, text);
}

void VErrorBase::SetLong(const VString& name, int32_t value)
{
    fParameters->SetPropertyAsNumber(name, value);
}

void VErrorBase::SetLong8(const VString& name, int64_t value)
{
    fParameters->SetPropertyAsNumber(name, static_cast<double>(value));
}

void VErrorBase::SetDescription(const VString& text)
{
    SetString(MessageKey(), text);
}

void VErrorBase::FreezeDescription()
{
    if (fParameters->HasOwnProperty(MessageKey()))
        return;
    VString description;
    GetErrorDescription(description);
    SetDescription(description);
}

VJSONObject* VErrorBase::CreateJSONObject() const
{
    VJSONObject* object = new VJSONObject();
    object->SetPropertyAsNumber(ErrCodeKey(), GetErrorNumber());
    VString text;
    SignatureToString(GetComponentSignature(), text);
    object->SetPropertyAsString(SignatureKey(), text);
    GetErrorDescription(text);
    object->SetPropertyAsString(MessageKey(), text);
    return object;
}

bool VErrorBase::CallLocalizer(ILocalizer* localizer, VError code, VString& out) const
{
    if (code == 0)
        return true;
    if (localizer != nullptr && localizer->LocalizeErrorMessage(code, out)) {
        FormatWithParameters(out);
        return true;
    }
    out.Clear();
    return false;
}

// --- localizers ---

void VErrorBase::RegisterLocalizer(OsType signature, ILocalizer* localizer)
{
    sLocalizers[signature] = localizer;
}

void VErrorBase::UnregisterLocalizer(OsType signature)
{
    sLocalizers.erase(signature);
}

ILocalizer* VErrorBase::GetLocalizer(OsType signature)
{
    auto found = sLocalizers.find(signature);
    return (found == sLocalizers.end()) ? nullptr : found->second;
}

// --- native codes ---

VError VErrorBase::MAC_MapCarbonErrorToVError(int32_t status)
{
    if (status == 0)
        return 0;
    VError native = MakeCarbonVError(status);
    VError toolbox;
    return LookUpNative(native, toolbox) ? toolbox : native;
}

VError VErrorBase::EncodedNativeErrorToVError(VError native, VError defaultError)
{
    OsType signature = COMPONENT_FROM_VERROR(native);
    if (signature == kCARB_SIGNATURE || signature == kPOSX_SIGNATURE) {
        VError toolbox;
        return LookUpNative(native, toolbox) ? toolbox : defaultError;
    }
    if (signature == kCOCO_SIGNATURE || signature == kMACH_SIGNATURE)
        return (ERRCODE_FROM_VERROR(native) != 0) ? defaultError : native;
    return (native == VE_UNKNOWN_ERROR) ? defaultError : native;
}

// --- subclasses ---

VErrorUserGenerated::VErrorUserGenerated(VError code, const VString& description)
    : VErrorBase(code), fDescription(description)
{
}

void VErrorUserGenerated::GetErrorDescription(VString& out) const { out.FromString(fDescription); }
void VErrorUserGenerated::DumpToString(VString& out) const { out.FromString(fDescription); }

VErrorImported::VErrorImported(VError code, const VString& description) : VErrorBase(code), fDescription(description) {}

void VErrorImported::GetErrorDescription(VString& out) const { out.FromString(fDescription); }
void VErrorImported::GetLocation(VString& out) const { out.FromCString("REST Imported Error"); }
void VErrorImported::DumpToString(VString& out) const { out.FromString(fDescription); }

// --- raising ---

VError _ThrowError(VError code, const VString* p1, const VString* p2, const VString* p3)
{
    if (VProcess::sInstance == nullptr)
        return code;
    VErrorBase* error = new VErrorBase(code);
    static const VString kP1("p1"), kP2("p2"), kP3("p3");
    if (p1)
        error->SetString(kP1, *p1);
    if (p2)
        error->SetString(kP2, *p2);
    if (p3)
        error->SetString(kP3, *p3);
    VTask::PushError(error);
    error->Release();
    return code;
}

VError _PushRetainedError(VErrorBase* error, VError native)
{
    if (error == nullptr)
        return 0;
    VError code = error->GetError();
    if (native != 0) {
        VErrorTaskContext* context = VTask::GetErrorContext(false);
        if (context == nullptr || !context->IsErrorFiltered(code))
            VTask::PushRetainedError(new VErrorBase(native));
    }
    VTask::PushRetainedError(error);
    return code;
}

VError vThrowUserGeneratedError(VError code, const VString& message)
{
    VTask::PushRetainedError(new VErrorUserGenerated(code, message));
    return code;
}

}  // namespace bkit
