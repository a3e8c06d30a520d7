// VUpdateEngineErrorText.cpp - the words the updater shows and logs for its error records.
#include "updater/VUpdateEngineErrorText.h"

#include "basekit/files/VFilePath.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/platform/PosixError.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/ControlEscapes.h"

using namespace bkit;

namespace {

// The parameters that hold a path, each with the sentence that adds it to a
// text that does not name it.
struct PathKey {
    const char* name;
    const char* sentenceKey;
    const char* sentence;
};
const PathKey kPathKeys[] = {
    {"path", "ErrorWithPath", "{error} Path: {path}."},
    {"srcPath", "ErrorWithSource", "{error} Source: {path}."},
    {"from", "ErrorWithSource", "{error} Source: {path}."},
    {"dstPath", "ErrorWithDestination", "{error} Destination: {path}."},
    {"to", "ErrorWithDestination", "{error} Destination: {path}."},
    // The folder a folder copy copied into.
    {"destination", "ErrorWithDestination", "{error} Destination: {path}."},
};

// A path of a record as the user reads it, with its parameter.
struct UserPath {
    const PathKey* key;
    VString text;
};

// The POSIX form of a path text in the internal form; false for any other
// text (already POSIX, "n/a", or no valid path).
bool PosixForm(const VString& text, VString& posix)
{
    if (text.IsEmpty() || text[0] == u'/' || text.FindUniChar(u':') == 0)
        return false;
    VFilePath path(text, FPS_SYSTEM);
    if (!path.IsValid())
        return false;
    path.GetPosixPath(posix);
    return !posix.IsEmpty();
}

// A copy of the record's parameters with its paths in POSIX form; paths
// receives those paths, each once ("n/a" is no path).
VRefPtr<VJSONObject> ParametersForUser(const VErrorBase& error, std::vector<UserPath>& paths)
{
    VJSONCloner cloner;
    VJSONValue clone;
    cloner.CloneObject(error.GetParameters(), clone);
    VRefPtr<VJSONObject> parameters = VRefPtr<VJSONObject>::Adopt(clone.IsObject() ? clone.RetainObject() : nullptr);
    if (!parameters)
        parameters = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    for (const PathKey& key : kPathKeys) {
        VJSONValue value = parameters->GetProperty(VString(key.name));
        if (!value.IsString())
            continue;
        VString text, posix;
        value.GetString(text);
        if (PosixForm(text, posix))
            text = posix;
        text = EscapeControls(text);
        parameters->SetPropertyAsString(VString(key.name), text);
        bool known = false;
        for (const UserPath& path : paths)
            known = known || path.text == text;
        if (!text.IsEmpty() && text != VString("n/a") && !known)
            paths.push_back({&key, text});
    }
    return parameters;
}

// The localized text of key (default given) with its {name} placeholders
// filled from names and values.
VString Sentence(const char* key, const char* defaultText,
                 std::initializer_list<std::pair<const char*, const VString*>> values)
{
    VString text = LocalizeString(VString(key), VString(defaultText));
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    for (const auto& [name, value] : values)
        object->SetPropertyAsString(VString(name), *value);
    text.Format(object.Get(), false);
    return text;
}

// The record's own words, from the parameters given: its description, or for
// a code that has none a sentence with its component and number.
VString OwnWords(const VErrorBase& error, VJSONObject* parameters)
{
    VString text;
    if (dynamic_cast<const VErrorUserGenerated*>(&error) != nullptr ||
        dynamic_cast<const VErrorImported*>(&error) != nullptr) {
        // Their text is their creator's: no parameter goes into it.
        error.GetErrorDescription(text);
    } else {
        VRefPtr<VErrorBase> shown = VRefPtr<VErrorBase>::Adopt(new VErrorBase(error.GetError(), parameters));
        shown->GetErrorDescription(text);
    }
    VString numbers;
    error.GetErrorString(numbers);
    if (!text.IsNull() && !text.IsEmpty() && text != numbers) {
        // Native texts ("Permission denied") come without the full stop that
        // the sentences after them need.
        UniChar last = text[text.GetLength() - 1];
        if (last != u'.' && last != u'!' && last != u'?')
            text.AppendUniChar(u'.');
        return text;
    }
    char signature[5];
    OsTypeToChars(error.GetComponentSignature(), signature);
    VString component(signature);
    VString number;
    number.FromLong(error.GetErrorNumber());
    return Sentence("ErrorWithoutText", "An unexpected error occurred ({component} error {number}).",
                    {{"component", &component}, {"number", &number}});
}

// text followed by each of paths it does not name yet.
VString WithPaths(const VString& text, const std::vector<UserPath>& paths)
{
    VString out(text);
    for (const UserPath& path : paths) {
        if (out.FindRawString(path.text) > 0)
            continue;
        VString quoted("'");
        quoted.AppendString(path.text).AppendUniChar(u'\'');
        out = Sentence(path.key->sentenceKey, path.key->sentence, {{"error", &out}, {"path", &quoted}});
    }
    return out;
}

// True when below is a native record that raising put beneath above: a
// native code, with no parameter besides its code and signature.
bool IsReasonOf(const VErrorBase* below, const VErrorBase& above)
{
    return below != nullptr && VErrorBase::IsNativeError(below->GetError()) &&
           !VErrorBase::IsNativeError(above.GetError()) && below->GetParameters()->GetPropertyCount() <= 2;
}

// The text of a reason told on its own: its words and the paths of the record
// it lies beneath.
VString ReasonText(const VErrorBase& reason, const VErrorBase& above)
{
    std::vector<UserPath> none, paths;
    VString text = OwnWords(reason, ParametersForUser(reason, none).Get());
    ParametersForUser(above, paths);
    return EscapeControls(WithPaths(text, paths));
}

// text followed by the words of reason.
VString WithReason(const VString& text, const VErrorBase& reason)
{
    std::vector<UserPath> none;
    VString because = OwnWords(reason, ParametersForUser(reason, none).Get());
    if (because.GetLength() > 0 && because[because.GetLength() - 1] == u'.')
        because.Truncate(because.GetLength() - 1);
    return Sentence("ErrorWithReason", "{error} Reason: {reason}.", {{"error", &text}, {"reason", &because}});
}

}  // namespace

VString ErrorTextForUser(const VErrorBase& error, const VErrorBase* reason)
{
    std::vector<UserPath> paths;
    VString text = WithPaths(OwnWords(error, ParametersForUser(error, paths).Get()), paths);
    // A code that only translates its reason already says it.
    if (reason != nullptr && VErrorBase::EncodedNativeErrorToVError(reason->GetError(), 0) != error.GetError())
        text = WithReason(text, *reason);
    // A creator's words, and the words of a reason, may hold controls too.
    return EscapeControls(text);
}

std::vector<ToldError> TellErrors(const VErrorContext* context)
{
    std::vector<ToldError> told;
    if (context == nullptr)
        return told;
    const VErrorContext::ErrorList& errors = context->GetErrors();
    for (size_t i = 0; i < errors.size(); ++i) {
        VErrorBase* error = errors[i];
        VErrorBase* above = i + 1 < errors.size() ? errors[i + 1] : nullptr;
        VErrorBase* below = i > 0 ? errors[i - 1] : nullptr;
        if (above != nullptr && IsReasonOf(error, *above))
            told.push_back({error, ReasonText(*error, *above), true});
        else
            told.push_back({error, ErrorTextForUser(*error, IsReasonOf(below, *error) ? below : nullptr), false});
    }
    return told;
}

VString FailureText(const VErrorContext* context)
{
    if (context == nullptr || context->IsEmpty())
        return VString();
    const VErrorContext::ErrorList& errors = context->GetErrors();
    const VErrorBase& newest = *errors.back();
    const VErrorBase* reason = nullptr;
    for (size_t i = errors.size() - 1; i > 0 && reason == nullptr && !VErrorBase::IsNativeError(newest.GetError());
         --i) {
        if (VErrorBase::IsNativeError(errors[i - 1]->GetError()))
            reason = errors[i - 1];
    }
    return ErrorTextForUser(newest, reason);
}

VString LogNotWrittenText(const VString& posixPath, int errnum)
{
    VString text =
        Sentence("LogFileNotWritten", "The log file '{path}' could not be written.", {{"path", &posixPath}});
    VRefPtr<VErrorBase> reason = VRefPtr<VErrorBase>::Adopt(new VErrorBase(PosixErrorFromErrno(errnum)));
    return EscapeControls(WithReason(text, *reason));
}

void KeepErrorTexts(VErrorContext* context)
{
    for (ToldError& told : TellErrors(context))
        told.error->SetDescription(told.text);
}
