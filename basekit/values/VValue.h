// VValue.h - the value base, its single and multiple forms, and the kind registry.
//
// This file defines VValue, the abstract base of every typed, nullable value,
// with its null and dirty flags and the default of each virtual operation;
// VValueSingle, the base of values holding one value, with the conversions
// between kinds; VValueMultiple, the base of lists of values; VValueInfo, the
// descriptor of one value kind, and the process-wide registry that maps a 16-bit
// kind to its descriptor; VValueInfo_default; and VCompareOptions.
//
// Contracts:
// - Comparisons compare the receiver with the argument: CR_BIGGER means the
//   receiver is bigger; CR_UNRELEVANT means the two cannot be compared.
// - Clone, FullyClone, ConvertTo, NewValueFromValueKind and the descriptors'
//   Generate and LoadFromPtr hand a new value to the caller, who deletes it.
// - The registry is filled by static initialisers before any task starts and
//   only read afterwards; it takes no lock. Values themselves are not
//   thread-safe: one task owns a value at a time.
// - A value operation that a kind does not implement reports 'bkit' 2
//   (VE_UNIMPLEMENTED): the VValue defaults push it on the error stack, the
//   VValueSingle defaults only return it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "basekit/BKitTypes.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VString;
class VStream;
class VJSONValue;
class VJSONObject;
class VIntlMgr;
class VDuration;
class VTime;
class VUUID;
class VBlob;
class VValueSingle;
class VValueInfo;
enum JSONType : uint32_t;

// Value kinds. The numbers are stored in files and streams.
using ValueKind = uint16_t;
constexpr ValueKind VK_EMPTY = 0;
constexpr ValueKind VK_BOOLEAN = 1;
constexpr ValueKind VK_BYTE = 2;
constexpr ValueKind VK_WORD = 3;
constexpr ValueKind VK_LONG = 4;
constexpr ValueKind VK_LONG8 = 5;
constexpr ValueKind VK_REAL = 6;
constexpr ValueKind VK_TIME = 8;
constexpr ValueKind VK_DURATION = 9;
constexpr ValueKind VK_STRING = 10;
constexpr ValueKind VK_BLOB = 11;
constexpr ValueKind VK_UUID = 13;
constexpr ValueKind VK_ARRAY_BOOLEAN = 100;
constexpr ValueKind VK_ARRAY_BYTE = 101;
constexpr ValueKind VK_ARRAY_WORD = 102;
constexpr ValueKind VK_ARRAY_LONG = 103;
constexpr ValueKind VK_ARRAY_LONG8 = 104;
constexpr ValueKind VK_ARRAY_REAL = 105;
constexpr ValueKind VK_ARRAY_TIME = 107;
constexpr ValueKind VK_ARRAY_DURATION = 108;
constexpr ValueKind VK_ARRAY_STRING = 109;
constexpr ValueKind VK_ARRAY_BLOB = 110;
constexpr ValueKind VK_ARRAY_IMAGE = 111;
constexpr ValueKind VK_BAG = 200;
constexpr ValueKind VK_VALUE = 65535;

// Options of a comparison. The international manager is not owned.
class VCompareOptions {
public:
    // The calling task's international manager, every flag false, epsilon 1e-6.
    VCompareOptions();
    virtual ~VCompareOptions() = default;

    VIntlMgr* GetIntlManager() const { return fIntlMgr; }
    void SetIntlManager(VIntlMgr* intlMgr) { fIntlMgr = intlMgr; }

    bool IsLike() const { return fLike; }
    void SetLike(bool like) { fLike = like; }

    // With diacritics: case and accents count; without: both are ignored.
    bool IsDiacritical() const { return fDiacritical; }
    void SetDiacritical(bool diacritical) { fDiacritical = diacritical; }

    bool IsBeginOnly() const { return fBeginOnly; }
    void SetBeginOnly(bool beginOnly) { fBeginOnly = beginOnly; }

    double GetEpsilon() const { return fEpsilon; }
    void SetEpsilon(double epsilon) { fEpsilon = epsilon; }

    // Writes the property "diacritical" (a JSON boolean). Answers VE_OK.
    VError ToJSON(VJSONObject* object) const;
    // Reads "diacritical" when it is a JSON boolean; leaves the flag alone
    // otherwise. Answers VE_OK.
    VError FromJSON(VJSONObject* object);

private:
    VIntlMgr* fIntlMgr;
    bool fLike = false;
    bool fDiacritical = false;
    bool fBeginOnly = false;
    double fEpsilon = 1e-6;
};

class VValue : public VObject {
public:
    ~VValue() override = default;

    // --- flags ---
    bool IsNull() const { return (fFlags & kNullFlag) != 0; }
    bool IsDirty() const { return (fFlags & kDirtyFlag) != 0; }

    // Changing the null flag calls DoNullChanged and, when the value was not
    // dirty yet, marks it dirty (calling DoDirtyChanged). No change, no call.
    void SetNull(bool null);
    // Changing the dirty flag calls DoDirtyChanged. No change, no call.
    void SetDirty(bool dirty);

    // The kind of the value's descriptor.
    ValueKind GetValueKind() const;

    // 1 becomes -1, -1 becomes 1, anything else is returned unchanged.
    static CompareResult InvertCompResult(CompareResult result)
    {
        return result == CR_BIGGER ? CR_SMALLER : (result == CR_SMALLER ? CR_BIGGER : result);
    }

    // --- registry ---
    // Registers the descriptor under its key, replacing any descriptor there.
    static void RegisterValueInfo(const VValueInfo* info);
    // Removes the entry of the descriptor's key, whichever descriptor it holds.
    static void UnregisterValueInfo(const VValueInfo* info);
    // The descriptor registered under the kind, or null.
    static const VValueInfo* ValueInfoFromValueKind(ValueKind kind);
    // A new value of the kind (the caller owns it), or null for an unknown kind.
    static VValue* NewValueFromValueKind(ValueKind kind);

    // --- identity ---
    // The kind's descriptor; the base answers the descriptor of kind 65535.
    virtual const VValueInfo* GetValueInfo() const;
    virtual void Clear() {}
    // The value as a single value (a checked cast), or null.
    virtual const VValueSingle* IsVValueSingle() const { return nullptr; }
    virtual VValueSingle* IsVValueSingle() { return nullptr; }

    // --- JSON (defaults push and answer VE_UNIMPLEMENTED) ---
    virtual VError FromJSONString(const VString& json, uint32_t options = 0);
    virtual VError GetJSONString(VString& json, uint32_t options = 0) const;
    virtual VError FromJSONValue(const VJSONValue& json);
    // The default makes json undefined first.
    virtual VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const;

    // --- comparisons with options ---
    virtual CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const;
    virtual bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const;
    virtual CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const;
    virtual bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const;
    virtual CompareResult Swap_CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const;

    // --- comparisons with a value of the same kind ---
    virtual CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind(const VValue* other, bool diacritical = false) const;
    virtual bool EqualToSameKind(const VValue* other, bool diacritical = false) const;
    // Copies a value of the same kind; the base copies nothing and answers false.
    virtual bool FromValueSameKind(const VValue* other);

    // --- comparisons with raw data of the same kind ---
    virtual CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr(const void* data, bool diacritical = false) const;
    // CR_EQUAL means the data is the beginning of this value.
    virtual CompareResult IsTheBeginingToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual bool EqualToSameKindPtr(const void* data, bool diacritical = false) const;

    // --- LIKE-pattern comparisons (only text gives them a pattern meaning) ---
    virtual CompareResult CompareToSameKind_Like(const VValue* other, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind_Like(const VValue* other, bool diacritical = false) const;
    virtual bool EqualToSameKind_Like(const VValue* other, bool diacritical = false) const;
    virtual CompareResult CompareToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual bool EqualToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual bool Swap_EqualToSameKindPtr_Like(const void* data, bool diacritical = false) const;

    // --- raw memory form: each answers the pointer just past its bytes ---
    virtual const void* LoadFromPtr(const void* data, bool swap = false) { (void)swap; return data; }
    virtual void* WriteToPtr(void* data, bool swap = false, VSize max = 0) const { (void)swap; (void)max; return data; }
    // The bytes of the raw form (at most max when max is not 0).
    virtual VSize GetSpace(VSize max = 0) const { (void)max; return 0; }

    // --- byte-stream form ---
    virtual bool CanBeStreamed() const { return false; }
    virtual VSize GetFullSpaceOnDisk() const { return GetSpace(0); }
    // The defaults do nothing and answer the stream's current error.
    virtual VError ReadFromStream(VStream* stream, int32_t param = 0);
    virtual VError WriteToStream(VStream* stream, int32_t param = 0) const;
    virtual VSize GetStreamSpace() const { return GetSpace(0); }

    // --- hooks for external storage of large values (no kind here uses them) ---
    virtual VError Flush(void* field, void* context) const { (void)field; (void)context; return VE_OK; }
    virtual void SetReservedBlobNumber(int32_t number) { (void)number; }
    virtual VValue* FullyClone(bool forAPush = false) const { (void)forAPush; return Clone(); }
    virtual void RestoreFromPop(void* context) { (void)context; }
    virtual void Detach(bool mayEmpty = false) { (void)mayEmpty; }
    virtual bool WillContainBlobData() const { return false; }
    virtual void SetOutsidePath(const VString& path, bool isRelative = false) { (void)path; (void)isRelative; }
    virtual void GetOutsidePath(VString& path, bool* isRelative = nullptr) { (void)path; (void)isRelative; }
    virtual void SetOutsideSuffixe(const VString& suffix) { (void)suffix; }
    virtual bool IsOutsidePath() { return false; }
    virtual bool IsStoredOnDisk() { return false; }
    virtual VError ReloadFromOutsidePath() { return VE_OK; }
    virtual bool ForcePathIfEmpty() const { return false; }
    virtual void SetForcePathIfEmpty(bool force) { (void)force; }
    virtual void ResetOutsidePath() {}
    virtual void SetHintRecNum(int32_t table, int32_t field, int32_t recordNumber, bool unused = false)
    {
        (void)table; (void)field; (void)recordNumber; (void)unused;
    }
    virtual void AssociateRecord(void* record, int32_t field) { (void)record; (void)field; }
    virtual bool HasInternalPropertyChanged() const { return false; }
    virtual void ResetInternalPropertyChanged() {}
    virtual void AddJSONStamp() {}
    virtual VError ReadRawFromStream(VStream* stream, int32_t param = 0) { return ReadFromStream(stream, param); }
    virtual VBlob* GetDataBlob() const { return nullptr; }

    // A new value of the same kind, payload and null flag, marked dirty.
    virtual VValue* Clone() const = 0;
    virtual bool CanBeEvaluated() const { return true; }

protected:
    static constexpr uint8_t kNullFlag = 1;
    static constexpr uint8_t kDirtyFlag = 2;

    // New values are dirty; isNull gives the starting null flag.
    explicit VValue(bool isNull = false) : fFlags(static_cast<uint8_t>(kDirtyFlag | (isNull ? kNullFlag : 0))) {}
    // A copy takes the null flag and is dirty.
    VValue(const VValue& other) : VObject(), fFlags(static_cast<uint8_t>(kDirtyFlag | (other.fFlags & kNullFlag))) {}
    VValue& operator=(const VValue& other)
    {
        fFlags = static_cast<uint8_t>(kDirtyFlag | (other.fFlags & kNullFlag));
        return *this;
    }

    // Called after the null or the dirty flag changed.
    virtual void DoNullChanged() {}
    virtual void DoDirtyChanged() {}

    // The registry map, created on the first registration and never freed.
    static std::map<ValueKind, const VValueInfo*>* sInfos;

private:
    uint8_t fFlags;
};

class VValueSingle : public VValue {
public:
    // --- getters: defaults answer 0, or clear the destination ---
    virtual uint8_t GetBoolean() const { return 0; }
    virtual int8_t GetByte() const { return 0; }
    virtual int16_t GetWord() const { return 0; }
    virtual int32_t GetLong() const { return 0; }
    virtual int64_t GetLong8() const { return 0; }
    // The milliseconds for durations and dates; GetLong8 for the others.
    virtual int64_t GetLong8OrMilliSeconds() const { return GetLong8(); }
    virtual double GetReal() const { return 0.0; }
    virtual void GetDuration(VDuration& duration) const;
    virtual void GetTime(VTime& time) const;
    virtual void GetString(VString& string) const;
    virtual void GetVUUID(VUUID& uuid) const;
    // Fills another value through the destination's setter of this kind.
    virtual void GetValue(VValueSingle& value) const;

    // --- setters: defaults do nothing ---
    virtual void FromBoolean(uint8_t value) { (void)value; }
    virtual void FromByte(int8_t value) { (void)value; }
    virtual void FromWord(int16_t value) { (void)value; }
    virtual void FromLong(int32_t value) { (void)value; }
    virtual void FromLong8(int64_t value) { (void)value; }
    virtual void FromReal(double value) { (void)value; }
    virtual void FromDuration(const VDuration& duration) { (void)duration; }
    virtual void FromTime(const VTime& time) { (void)time; }
    virtual void FromString(const VString& string) { (void)string; }
    virtual void FromVUUID(const VUUID& uuid) { (void)uuid; }
    virtual void FromValue(const VValueSingle& value) { (void)value; }
    virtual void FromRESTValue(const VValueSingle& value) { FromValue(value); }

    // --- text forms ---
    virtual void GetXMLString(VString& string, uint32_t options = 0) const;
    // Answers whether the text was accepted; the default accepts everything.
    virtual bool FromXMLString(const VString& string);

    // --- comparison with any single value ---
    virtual CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const = 0;
    virtual bool EqualTo(const VValueSingle& other, bool diacritical = false) const
    {
        return CompareTo(other, diacritical) == CR_EQUAL;
    }

    // --- overrides of VValue ---
    const VValueSingle* IsVValueSingle() const override { return this; }
    VValueSingle* IsVValueSingle() override { return this; }
    bool CanBeStreamed() const override { return true; }
    // The text of GetString as native UTF-16, cut to length/2 code units;
    // nothing without a process object.
    CharSet DebugDump(char* buffer, int& length) override;
    using VObject::DebugDump;
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // Clears the value and answers VE_UNIMPLEMENTED without pushing it.
    VError FromJSONValue(const VJSONValue& json) override;
    // Makes json null and answers VE_UNIMPLEMENTED without pushing it.
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;

    // A new value of the kind holding this one, with its null flag; null for an
    // unknown kind or one that is not single. The caller owns it.
    VValueSingle* ConvertTo(ValueKind kind) const;

    // A new value that JSON can carry (numbers as reals, UUIDs as text,
    // durations as seconds or milliseconds); the caller owns it.
    static VValueSingle* ConvertVValueToJSONScalar(const VValueSingle& value, bool durationInMilliseconds);

    // The JSON type that stands for a value kind: boolean true, real number,
    // time date, string string, any other kind null.
    static JSONType ValueKindToJsonType(ValueKind kind);

protected:
    explicit VValueSingle(bool isNull = false) : VValue(isNull) {}
    VValueSingle(const VValueSingle&) = default;
    VValueSingle& operator=(const VValueSingle&) = default;
};

class VValueMultiple : public VValue {
public:
    VValue* Clone() const override { return nullptr; }
    bool CanBeEvaluated() const override { return false; }

    // The kind of the list (65535 by default).
    virtual ValueKind GetValueKind() const { return VK_VALUE; }
    virtual int32_t GetCount() const = 0;

    // Setters of one element (index from 1). Booleans, bytes and words go on as
    // longs, longs and long8s as reals; the defaults of the others do nothing.
    virtual void FromBoolean(uint8_t value, int32_t index) { FromWord(value, index); }
    virtual void FromByte(int8_t value, int32_t index) { FromLong(value, index); }
    virtual void FromWord(int16_t value, int32_t index) { FromLong(value, index); }
    virtual void FromLong(int32_t value, int32_t index) { FromReal(static_cast<double>(value), index); }
    virtual void FromLong8(int64_t value, int32_t index) { FromReal(static_cast<double>(value), index); }
    virtual void FromReal(double value, int32_t index) { (void)value; (void)index; }
    virtual void FromString(const VString& value, int32_t index) { (void)value; (void)index; }
    virtual void FromDuration(const VDuration& value, int32_t index) { (void)value; (void)index; }
    virtual void FromTime(const VTime& value, int32_t index) { (void)value; (void)index; }
    virtual CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32_t index) const
    {
        (void)value; (void)diacritical; (void)index;
        return CR_UNRELEVANT;
    }

protected:
    explicit VValueMultiple(bool isNull = false) : VValue(isNull) {}
    VValueMultiple(const VValueMultiple&) = default;
    VValueMultiple& operator=(const VValueMultiple&) = default;
};

// The descriptor of one value kind. Building one registers it under its key
// (the kind unless given); destroying one removes its key from the registry.
class VValueInfo : public VObject {
public:
    explicit VValueInfo(ValueKind kind);
    VValueInfo(ValueKind kind, ValueKind key);
    ~VValueInfo() override;

    ValueKind GetKind() const { return fKind; }
    ValueKind GetKey() const { return fKey; }

    // A new value of the kind; the caller owns it.
    virtual VValue* Generate() const = 0;
    virtual VValue* Generate(VBlob* blob) const = 0;
    // A new value loaded from raw memory; the caller owns it.
    virtual VValue* LoadFromPtr(const void* data, bool swap) const = 0;
    // Reverses the raw value in place; answers the pointer past it.
    virtual void* ByteSwapPtr(void* data, bool fromNative) const = 0;

    virtual CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const;
    virtual CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical) const;
    virtual CompareResult CompareTwoPtrToData_Like(const void* a, const void* b, bool diacritical) const
    {
        return CompareTwoPtrToData(a, b, diacritical);
    }
    virtual CompareResult CompareTwoPtrToDataBegining_Like(const void* a, const void* b, bool diacritical) const
    {
        return CompareTwoPtrToDataBegining(a, b, diacritical);
    }
    virtual CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions& options) const;
    virtual VSize GetSizeOfValueDataPtr(const void* data) const { (void)data; return 0; }
    virtual VSize GetAvgSpace() const { return 0; }

private:
    VValueInfo(const VValueInfo&) = delete;
    VValueInfo& operator=(const VValueInfo&) = delete;

    ValueKind fKind;
    ValueKind fKey;
};

// Descriptor for kinds without a fixed-size raw form: values are generated
// with new and loaded through their own LoadFromPtr.
template <class TValue, ValueKind kKind>
class VValueInfo_default : public VValueInfo {
public:
    VValueInfo_default() : VValueInfo(kKind) {}
    explicit VValueInfo_default(ValueKind key) : VValueInfo(kKind, key) {}

    VValue* Generate() const override { return new TValue(); }
    VValue* Generate(VBlob* blob) const override { (void)blob; return new TValue(); }
    VValue* LoadFromPtr(const void* data, bool swap) const override
    {
        TValue* value = new TValue();
        value->LoadFromPtr(data, swap);
        return value;
    }
    void* ByteSwapPtr(void* data, bool fromNative) const override { (void)fromNative; return data; }
};

}  // namespace bkit
