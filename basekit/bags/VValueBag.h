// VValueBag.h - bags: reference-counted trees of named values.
//
// This file defines VValueBag, the toolbox's record of named values (attributes:
// a name mapped to one scalar value, in insertion order; elements: a name mapped
// to an ordered list of child bags), with its binary, XML and JSON forms;
// VBagArray, the list of child bags (positions from 1); IBaggable, the interface
// of objects that save themselves into bags; VBagLoader, which re-maps UUIDs
// while objects are loaded from bags; StBagKeyNoDefault and StBagKeyWithDefault,
// the typed static keys; and the value descriptor of bags (kind 200).
//
// Contracts:
// - A bag starts with one reference, held by its creator. Lists hold one
//   reference to each of their bags and the element store one to each list.
//   Operations named Retain... hand a reference to the caller; Get... do not.
// - Setting an attribute is always SetExistingValue, then Append when the name
//   was absent, so a name appears once and keeps its first position.
// - The text content read from XML is the attribute "<>" (CDataAttributeName).
// - No locks: reading a bag unpacks values into caches, so even two readers of
//   one bag need the caller's lock. Reference counts are atomic, so bags may be
//   handed between tasks.
// - The binary stream reader takes its input as untrusted (see
//   VPackedDictionary.h) and bounds the nesting of child bags.
#pragma once

#include <map>
#include <type_traits>
#include <vector>

#include "basekit/bags/VPackedDictionary.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VUUID.h"
#include "basekit/values/VValue.h"

namespace bkit {

class VBagArray;
class VBagLoader;
class VJSONObject;
class VTime;
class VValueBag;

// Version of the binary form other than 1 ('bkit' 212).
constexpr VError VE_STREAM_BAD_VERSION = MakeBKitError(212);

class VValueBag : public VValue, public IRefCountable {
public:
    using KeyList = std::vector<StPackedDictionaryKey>;
    using AttributeStore = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
    using ElementStore = VPackedDictionary<VPackedValue_VBagArray>;

    // A record of a caller's static table that gives the order of the child
    // element names of bags listed under fElementName. A table ends with a
    // record whose element name is null; fChildren ends at the first null.
    struct StBagElementsOrdering {
        const StPackedDictionaryKey* fElementName;
        const StPackedDictionaryKey* fChildren[10];
    };

    VValueBag();
    // Attributes as packed data (the source is packed first when dirty) and a
    // deep copy of every child bag.
    VValueBag(const VValueBag& other);
    VValueBag& operator=(const VValueBag&) = delete;
    ~VValueBag() override;

    // Kind 200: generates empty bags; a bag has no flat form, so loading from
    // raw memory gives an empty bag too.
    static const VValueInfo_default<VValueBag, VK_BAG> sInfo;

    // --- value operations ---
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    CharSet DebugDump(char* buffer, int& size) override;
    using VObject::DebugDump;
    // Reads a JSON object into the bag (option 0x1000: only "!!YYYY-MM-DD!!"
    // dates); the importer's error.
    VError FromJSONString(const VString& json, uint32_t options = 0) override;
    // The JSON text (option 8: pretty, 32: a single child bag as an object);
    // always 0.
    VError GetJSONString(VString& json, uint32_t options = 0) const override;
    // Through the JSON text: the value written compact and read back.
    VError FromJSONValue(const VJSONValue& json) override;
    // The bag as a JSON object, or undefined (with the parse error) when its
    // text does not parse into one.
    VError GetJSONValue(VJSONValue& json, uint32_t options = 0) const override;
    // The full binary form ('VBAG', version 1); the parameter is not used.
    VError ReadFromStream(VStream* stream, int32_t param = 0) override;
    VError WriteToStream(VStream* stream, int32_t param = 0) const override;

    // --- attributes ---
    // Set-or-append of a value of any kind (the store keeps its own copy).
    void SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value);
    void SetBool(const StPackedDictionaryKey& key, bool value);
    void SetLong(const StPackedDictionaryKey& key, int32_t value);
    void SetLong8(const StPackedDictionaryKey& key, long long value);
    void SetReal(const StPackedDictionaryKey& key, double value);
    void SetTime(const StPackedDictionaryKey& key, const VTime& value);
    void SetString(const StPackedDictionaryKey& key, const VString& value);
    void SetVUUID(const StPackedDictionaryKey& key, const VUUID& value);
    // Fills value from the attribute, converting kinds; false when absent.
    bool GetAttribute(const StPackedDictionaryKey& key, VValueSingle& value) const;
    // Shortcuts of GetAttribute; false (out untouched) when absent.
    bool GetString(const StPackedDictionaryKey& key, VString& out) const { return GetAttribute(key, out); }
    bool GetLong(const StPackedDictionaryKey& key, int32_t& out) const;
    bool GetLong8(const StPackedDictionaryKey& key, int64_t& out) const;
    bool GetBool(const StPackedDictionaryKey& key, bool& out) const;
    // The stored value (unpacked when needed), owned by the bag; null when
    // absent or of a kind without descriptor.
    const VValueSingle* GetAttributeValue(const StPackedDictionaryKey& key) const;
    bool AttributeExists(const StPackedDictionaryKey& key) const;
    void RemoveAttribute(const StPackedDictionaryKey& key);
    VIndex GetAttributesCount() const { return static_cast<VIndex>(fAttributes.GetCount()); }
    // The n-th attribute (from 1), its name written when a string is given;
    // null (name cleared) out of range.
    const VValueSingle* GetNthAttribute(VIndex n, VString* name) const;
    // The store itself, for the dictionary operations.
    const AttributeStore& GetAttributes() const { return fAttributes; }
    AttributeStore& GetAttributes() { return fAttributes; }

    // Appends to the text content ("<>"), making it a string when it was not.
    void AppendToCData(const VString& text);
    // The text content (empty when none).
    void GetCData(VString& out) const;
    static const StPackedDictionaryKey& CDataAttributeName();

    // False when there is any element name. Otherwise true when there are no
    // attributes, or, with ignoreMarkers, when the only attributes are the
    // JSON reader's markers "____objectunic" and "____property_name_in_jsarray".
    bool IsEmpty(bool ignoreMarkers = false) const;

    // --- elements ---
    // The list stored under the name, not retained; null when none.
    VBagArray* GetElements(const StPackedDictionaryKey& name) const;
    // Stores list under the name (retained); null keeps the name with no list.
    void SetElements(const StPackedDictionaryKey& name, VBagArray* list);
    VIndex GetElementNamesCount() const;
    // The list of the n-th element name (from 1), not retained, its name
    // written when a string is given; null (name cleared) out of range.
    VBagArray* GetNthElementName(VIndex n, VString* name) const;
    // Appends bag (retained) to the name's list, creating the list when needed.
    // A null bag is ignored.
    void AddElement(const StPackedDictionaryKey& name, VValueBag* bag);
    // Lets the object fill a new bag and adds it under the kind it names.
    VError AddElement(const class IBaggable* object);
    // Releases the name's list and removes the name.
    void RemoveElements(const StPackedDictionaryKey& name);
    // Makes bag the only one under the name (null removes the name). False when
    // nothing changed (the list held just this bag) or the name was removed.
    bool ReplaceElement(const StPackedDictionaryKey& name, VValueBag* bag);
    // Follows the path through the first bag of each list; not retained; null
    // when a step is missing. An empty path gives this bag.
    const VValueBag* GetUniqueElementByPath(const KeyList& path) const;
    VValueBag* GetUniqueElementByPath(const KeyList& path);
    const VValueBag* GetUniqueElementByPath(const VString& path) const;
    // As GetUniqueElementByPath, creating each missing step; not retained.
    VValueBag* GetElementByPathAndCreateIfDontExists(const KeyList& path);
    // ReplaceElement at the end of the path (creating the parents when a bag is
    // given; removing the last name when bag is null).
    bool ReplaceElementByPath(const KeyList& path, VValueBag* bag);
    // The one bag under the name whose attribute equals value (no case or
    // accent distinction), retained; null for none or several.
    VValueBag* RetainUniqueElementWithAttribute(const StPackedDictionaryKey& name, const StPackedDictionaryKey& attribute,
                                                const VValueSingle& value) const;
    // The single child when the bag has one element name holding one bag; not
    // retained; otherwise null with the name cleared.
    VValueBag* GetUniqueElementAnyKind(VString& name) const;
    // Splits at "/" into keys owning their bytes; a piece is cut to the whole
    // characters that fit in 255 bytes. A trailing slash adds nothing.
    static void GetKeysFromPath(const VString& path, KeyList& keys);
    // The same over UTF-8, with keys pointing into path (kept alive by the caller).
    static void GetKeysFromUTF8PathNoCopy(const char* path, KeyList& keys);

    // Sets other's attributes on this bag and appends clones of its child bags
    // after this bag's own. False when a clone fails.
    bool UnionClone(const VValueBag* other);
    // As UnionClone, but a single child on both sides under one name is
    // overridden recursively instead of appended.
    bool Override(const VValueBag* other);
    // Orders element names by the table's record for name, recursively.
    void SortElements(const StPackedDictionaryKey& name, const StBagElementsOrdering* orderings);
    // Deletes every attribute and the element store.
    void Destroy();

    // --- binary form (see VValueBagStream.cpp) ---
    // Flags, attribute block, element block; child bags always carry their index.
    VError WriteToStreamMinimal(VStream* stream, bool withIndex) const;
    VError ReadFromStreamMinimal(VStream* stream);
    // An older layout of the same bag, read into this (emptied) bag.
    void _ReadFromStream_v1(VStream* stream);
    // Nesting deeper than this is refused when reading.
    static constexpr int kMaxStreamDepth = 256;
    // ReadFromStreamMinimal for a bag at the given nesting depth.
    VError _ReadFromStreamMinimal(VStream* stream, int depth);

    // --- XML form (see VValueBagXML.cpp) ---
    // Appends the bag as an element of that name; indented starts at level 0,
    // otherwise no tabs and no line ends around the closing tag. Names are
    // written as they are: check them first with CheckXMLNames.
    void DumpXML(VString& out, const VString& elementName, bool indented) const;
    // 0 when DumpXML under elementName writes only XML names (the element
    // names and every written attribute name, all the way down); else pushes
    // and answers 'bkit' 3 with the first offending name as "name".
    VError CheckXMLNames(const VString& elementName) const;
    void _DumpXML(VString& out, const VString& elementName, int level) const;
    void DumpXMLAttributes(VString& out, const VString& elementName, VIndex cdataPosition) const;
    // Writes the text content; true when a line end is needed before the
    // closing tag.
    bool DumpXMLCData(VString& out, VIndex cdataPosition) const;
    static void DumpXMLIndentation(VString& out, int level);
    // True when text holds one of [begin, end); with an empty set, when it
    // mixes a tab, LF or CR with a character that is none of these nor a space.
    static bool NeedsEscapeSequence(const VString& text, const UniChar* begin, const UniChar* end);

    // --- JSON form (see VValueBagJSON.cpp) ---
    VError _GetJSONString(VString& out, int& level, bool pretty, uint32_t options) const;
    // A new JSON object holding the bag (retained for the caller), or null with
    // the error of the text or its parse (0 when the text is no object).
    VJSONObject* BuildJSONObject(VError& error) const;
    static void AppendJSONNewline(VString& out, bool pretty);
    static void AjustJSONTab(VString& out, int level, bool pretty);
    static void AppendBeginJSONObject(VString& out, int& level, bool pretty);
    static void AppendEndJSONObject(VString& out, int& level, bool pretty);
    static void AppendBeginJSONArray(VString& out, int& level, bool pretty);
    static void AppendEndJSONArray(VString& out, int& level, bool pretty);
    static void AppendJSONPropertyName(VString& out, int& level, bool pretty, const VString& name);

private:
    // The list under the name, creating the element store and an empty list
    // when absent.
    ElementStore* _Elements();
    // True when the attribute's name is one the XML and JSON writers skip.
    static bool _IsHiddenMarker(const char* bytes, size_t length);
    bool _UnionAttributes(const VValueBag& other);
    bool _AppendClones(const StPackedDictionaryKey& name, const VBagArray& list);
    void _SortElements(const StBagElementsOrdering* orderings, const StBagElementsOrdering& record);

    AttributeStore fAttributes;
    ElementStore* fElements = nullptr;
};

// An ordered list of bags, positions from 1. Each entry holds one reference.
class VBagArray : public VObject, public IRefCountable {
public:
    VBagArray() = default;
    // A deep copy: every bag copied with the bag's copy constructor.
    VBagArray(const VBagArray& other);
    VBagArray& operator=(const VBagArray&) = delete;
    ~VBagArray() override;

    // False for a null bag or when memory runs out; retains the bag.
    bool AddTail(VValueBag* bag);
    // Inserts at n (below 1 means 1, beyond the end means the end); retains.
    bool AddNth(VValueBag* bag, VIndex n);
    // Replaces the bag at n (1..count) with a non-null bag not already there.
    void SetNth(VValueBag* bag, VIndex n);
    // Releases and removes the bag at n (1..count).
    void DeleteNth(VIndex n);
    // Removes the first occurrence without releasing: the caller takes over
    // the list's reference.
    void Delete(VValueBag* bag);
    // Position of the first occurrence, 0 when absent.
    VIndex Find(const VValueBag* bag) const;
    // The bag at n, retained; out of range a new empty bag (never null).
    VValueBag* RetainNth(VIndex n) const;
    // The bag at n, not retained; null out of range.
    VValueBag* GetNth(VIndex n) const;
    VIndex GetCount() const { return static_cast<VIndex>(fBags.size()); }
    void Destroy();

    VError WriteToStreamMinimal(VStream* stream) const;
    VError ReadFromStreamMinimal(VStream* stream);
    VError _ReadFromStreamMinimal(VStream* stream, int depth);
    VError _GetJSONString(VString& out, int& level, bool pretty, uint32_t options) const;

private:
    std::vector<VValueBag*> fBags;
};

// Objects that save themselves into bags and load themselves back.
class IBaggable {
public:
    virtual ~IBaggable() = default;
    virtual VError LoadFromBagWithLoader(const VValueBag& bag, VBagLoader* loader, void* context = nullptr);
    // The default loads nothing and answers 0.
    virtual VError LoadFromBag(const VValueBag& bag);
    // Fills bag and names the element kind it is to be stored under.
    virtual VError SaveToBag(VValueBag& bag, VString& kind) const = 0;
};

// Re-maps the UUIDs read from bags while objects are loaded, so that the same
// stored UUID always gives the same new one within one loader.
class VBagLoader : public VObject {
public:
    VBagLoader(bool regenerateUUIDs, bool second);

    // Reads the bag's "uuid" into uuid (see the file comment of VValueBag.cpp
    // for the regenerating rules); false when the bag has none.
    bool GetUUID(const VValueBag& bag, VUUID& uuid);
    // Replaces uuid by its mapped one; false when regenerating and unmapped.
    bool ResolveUUID(VUUID& uuid) const;

    bool IsRegeneratingUUIDs() const { return fRegenerateUUIDs; }

private:
    bool fRegenerateUUIDs;
    bool fSecond;
    bool fThird = true;
    bool fFourth = true;
    std::map<VUUID, VUUID> fUUIDs;
};

// A static key typed by the value class T that stores it and the plain type V
// that callers read and write.
template <class T, class V>
class StBagKeyNoDefault : public StPackedDictionaryKey {
public:
    explicit StBagKeyNoDefault(const char* name) : StPackedDictionaryKey(name) {}

    // False (out untouched) when the bag lacks the attribute or is null.
    bool Get(const VValueBag* bag, V& out) const
    {
        T value;
        if (bag == nullptr || !bag->GetAttribute(*this, value))
            return false;
        _Extract(value, out);
        return true;
    }
    void Set(VValueBag* bag, const V& in) const
    {
        if (bag == nullptr)
            return;
        if constexpr (std::is_same_v<T, V>) {
            bag->SetAttribute(*this, in);
        } else {
            T value;
            if constexpr (std::is_same_v<V, bool>)
                value.FromBoolean(in ? 1 : 0);
            else if constexpr (std::is_floating_point_v<V>)
                value.FromReal(static_cast<double>(in));
            else
                value.FromLong8(static_cast<int64_t>(in));
            bag->SetAttribute(*this, value);
        }
    }
    bool HasAttribute(const VValueBag* bag) const { return bag != nullptr && bag->AttributeExists(*this); }

protected:
    static void _Extract(const T& value, V& out)
    {
        if constexpr (std::is_same_v<T, V>)
            out = value;
        else if constexpr (std::is_same_v<V, bool>)
            out = value.GetBoolean() != 0;
        else if constexpr (std::is_floating_point_v<V>)
            out = static_cast<V>(value.GetReal());
        else
            out = static_cast<V>(value.GetLong8());
    }
};

// The same with a default that a missing attribute reads as.
template <class T, class V>
class StBagKeyWithDefault : public StBagKeyNoDefault<T, V> {
public:
    StBagKeyWithDefault(const char* name, const V& defaultValue)
        : StBagKeyNoDefault<T, V>(name), fDefault(defaultValue) {}

    using StBagKeyNoDefault<T, V>::Get;
    // The attribute's value, or the default when absent.
    V Get(const VValueBag* bag) const
    {
        V out = fDefault;
        StBagKeyNoDefault<T, V>::Get(bag, out);
        return out;
    }
    const V& GetDefault() const { return fDefault; }

private:
    V fDefault;
};

// The static keys bags share.
namespace VValueBagKeys {
const StPackedDictionaryKey& ObjectUnic();           // "____objectunic"
const StPackedDictionaryKey& PropertyNameInJSArray();  // "____property_name_in_jsarray"
const StPackedDictionaryKey& FakeArrayElement();     // "____FakeArrayElement"
const StBagKeyWithDefault<VUUID, VUUID>& UUID();     // "uuid", null by default
}  // namespace VValueBagKeys

}  // namespace bkit
