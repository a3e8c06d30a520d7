// VJSONObject.h - the reference-counted JSON object.
//
// This file defines VJSONObject, a table of named JSON values that keeps the
// order in which names were first added, with an optional implementation
// object (IJSONObject) that may take over its operations, an optional storage
// locker that makes it shareable between tasks, and membership in a graph for
// cycle collection (VJSONContainer, VJSONGraph).
//
// Contracts:
// - An object starts with one reference for its creator; values that hold it
//   retain it. Get... operations hand out no reference; Retain... ones do.
// - Names compare exactly (UTF-16 units, case-sensitive).
// - Insertion indexes are dense: overwriting a property keeps its place,
//   removing one moves every later property down by one.
// - Setting a property to undefined removes it.
// - Objects holding themselves, directly or through other containers, are
//   collected once nothing outside the cycle refers to them.
// - An object without a storage locker is used by one task at a time. A shared
//   object (with a locker) takes the graph lock, then its locker's critical
//   section, around every operation; a change is refused with 'QNRT' -10719
//   while another task uses the locker.
// - An object made with a class object belongs to that class (VJSONClass):
//   reads that find nothing ask the class's member functions, then its
//   getters; writes go through its setters; HasProperty follows the
//   prototype chain. An object made without one keeps no class pointer and
//   is generic, of the process store's "Object" class (GetClassObject).
//   Getters and setters run outside the object's locks; a getter's attribute
//   counts as a property of every instance (IsEmpty, the text writer).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "basekit/json/IJSONObject.h"
#include "basekit/runtime/SeededHash.h"
#include "basekit/json/VJSONContainer.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"

namespace bkit {

class VCompareOptions;
class VJSONCloner;

class VJSONObject : public VJSONContainer {
public:
    using NameValueList = std::vector<std::pair<VString, VJSONValue>>;

    // An empty object. classObject is the object standing for its class (not
    // used until classes exist); implementation and locker are retained;
    // exempt keeps it out of the monitored task's counter.
    VJSONObject(const VJSONObject* classObject, IJSONObject* implementation, VStorageLocker* locker, bool exempt);
    // With shared, a new private storage locker of its own.
    VJSONObject(const VJSONObject* classObject, IJSONObject* implementation, bool shared);
    // A new empty generic object (no class, implementation or locker).
    VJSONObject();
    ~VJSONObject() override;

    VJSONObject(const VJSONObject&) = delete;
    VJSONObject& operator=(const VJSONObject&) = delete;

    VJSONObject* AsObject() override { return this; }

    // The implementation, without a reference; null for a plain object.
    IJSONObject* GetImplementation() const { return fImplementation; }

    // --- reading ---

    // The implementation's answer when it handles the name, else the own
    // property (a copy), else undefined.
    VJSONValue GetProperty(const VString& name, VDBLanguageContext* languageContext = nullptr) const;
    // The own property (a copy) or undefined; with / without the locks. On a
    // shared object "__LockerID" reads the shared id.
    VJSONValue GetOwnProperty(const VString& name) const;
    VJSONValue _GetOwnProperty(const VString& name) const;
    // The implementation first (status 0 and a defined value: true), then the
    // own properties.
    bool HasProperty(const VString& name, VDBLanguageContext* languageContext = nullptr) const;
    bool HasOwnProperty(const VString& name) const;
    bool _HasOwnProperty(const VString& name) const;

    // True without class or with a root class ("Object").
    bool IsGenericObject() const;
    // The class or one of its superclasses is cls; an object without class
    // is an instance of the root "Object" only.
    bool IsInstanceOf(const VJSONClass* cls) const;
    // classObject must stand for a class, else 'QNRT' -10745 and false.
    bool IsInstanceOf(const VJSONObject* classObject) const;
    // With a locker, or an implementation that declares itself sharable.
    bool IsShared() const;

    // Only the implementation answers; without one the status is 1 and the
    // result undefined or 0.
    VJSONValue GetPropertyByIndex(int64_t index, EJSONStatus* status) const;
    int64_t GetCountPropertiesByIndex(EJSONStatus* status) const;

    // "[object Object]"; returns 0.
    VError GetString(VString& out) const;

    // --- writing ---

    // Sets or replaces a property; undefined removes it. The implementation
    // is asked first. True on success.
    bool SetProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* languageContext = nullptr);
    // Sets the own property, bypassing the implementation; undefined removes it.
    bool SetOwnProperty(const VString& name, const VJSONValue& value);
    // The own property without taking the locks (the caller holds them).
    bool _SetOwnProperty(const VString& name, const VJSONValue& value);
    // A member gathered by a parse: its name, which the parse keeps alive
    // until the object has taken its share of it, the name's HashName, and
    // its value.
    struct ParsedMember {
        // Spelled out so that emplace_back builds one in place on every
        // compiler, not only those with parenthesized aggregate init.
        ParsedMember(const VString* n, uint32_t h, VJSONValue&& v) : name(n), hash(h), value(std::move(v)) {}
        const VString* name;
        uint32_t hash;
        VJSONValue value;
    };
    // Sets members in order on an object being built by a parse, as
    // SetProperty would (a repeated name keeps its place and takes the last
    // value). The object has no locker, stamp nor implementation and the
    // values are owned by the same parse, so no link is recorded: the tree
    // stays out of any graph until a link made later needs one (see
    // VJSONGraph). The values are moved out and members is left empty; out of
    // memory raises 'bkit' 100 and gives false.
    bool _SetParsedMembers(std::vector<ParsedMember>& members);

    // The hash under which the name index files a name of these units, under
    // this process's seed (SeededHash). The index slot comes from the low bits.
    static uint32_t HashName(const UniChar* units, size_t length) { return HashName(units, length, HashSeed()); }
    // The same under a given seed.
    static uint32_t HashName(const UniChar* units, size_t length, uint64_t seed)
    {
        return SeededHash(units, length * sizeof(UniChar), seed);
    }
    // The seed of HashName, drawn once per process at its first use.
    static uint64_t HashSeed() { return ProcessHashSeed(); }

    bool SetPropertyAsString(const VString& name, const VString& text) { return SetProperty(name, VJSONValue(text)); }
    bool SetPropertyAsNumber(const VString& name, double number) { return SetProperty(name, VJSONValue(number)); }
    bool SetPropertyAsBool(const VString& name, bool value);

    // The implementation first, then RemoveOwnProperty. False when refused.
    bool RemoveProperty(const VString& name);
    // Removes the own property (nothing when absent); false when another task
    // uses the locker ('QNRT' -10719).
    bool RemoveOwnProperty(const VString& name);

    // SetProperty for each pair in order until one fails; an implementation is
    // told before and after.
    bool SetProperties(const NameValueList& list, VDBLanguageContext* languageContext = nullptr);
    // SetPropertyWithPath for each pair until one fails.
    bool SetPropertiesWithPaths(const NameValueList& list);

    // --- paths: names separated by dots, each followed by [index] steps ---

    // Splits a path into its parts: a.b[2][0].c gives a, b, 2, 0, c. 'bkit'
    // 901 for a step without its closing bracket, 902 for an empty part.
    static VError ExtractPath(const VString& path, std::vector<VString>& parts);
    // The value at the path (undefined when any step is missing). On an
    // array, "length" (case and accents ignored) is the element count.
    VJSONValue GetPropertyWithPath(const VString& path, VDBLanguageContext* languageContext = nullptr) const;
    VJSONValue GetPropertyWithPath(const std::vector<VString>& parts,
                                   VDBLanguageContext* languageContext = nullptr) const;
    // Stores value at the path, creating missing objects and arrays (an array
    // when the next part is made of digits) and growing arrays with nulls.
    // 'bkit' 903 / 904 when a step leads into a value that is no container;
    // containers made before the failure stay. True on success.
    bool SetPropertyWithPath(const VString& path, const VJSONValue& value,
                             VDBLanguageContext* languageContext = nullptr);
    // True for the empty text and for ASCII digits only.
    static bool isvalidnumber(const VString& text);

    // --- stamps ---

    // The stored value's stamp (0 when absent); the implementation first.
    uint32_t GetPropertyStamp(const VString& name) const;
    // Counts a change on the object's stamp and gives the value a new stamp.
    void TouchPropertyStamp(const VString& name);
    // The same at a path; on an array the last part is an index ("length"
    // reads the size). Anything else gives 0 and touches nothing.
    uint32_t GetPropertyStampWithPath(const VString& path) const;
    void TouchPropertyStampWithPath(const VString& path);
    // Replaces the stamp object, then hands it to the implementation.
    void SetJSONStamp(VJSONStamp* stamp) override;

    // --- object operations ---

    // Stores the empty value of the property's kind (true: false, string: "",
    // number: 0, object or array: null, date: the zero date). An absent
    // property stays absent and gives true.
    bool ClearProperty(const VString& name, VDBLanguageContext* languageContext = nullptr);
    // The implementation's IJSON_Clear, then ClearInternalProperties.
    void Clear();
    // Removes every stored property; refused ('QNRT' -10719, false) while
    // another task uses the locker. A cycle detached here is collected.
    bool ClearInternalProperties();
    // Removes one stored property, counting a change on the stamp.
    bool _RemoveOwnProperty(const VString& name);
    // Removes the stored property at position (insertion order; nothing past
    // the end): later ones move down by one and the removed value's link is
    // dropped, collecting a cycle only it kept reachable. The caller holds
    // the object's locks and has checked the writing task.
    void _RemoveInternalProperty(size_t position);
    // A copy of the stored properties in insertion order.
    NameValueList GetInternalProperties() const;
    // No stored property, an implementation (if any) that says it is empty,
    // and a class without getters (a getter is a property of every instance).
    bool IsEmpty() const;

    // Links to / unlinks from a container that the implementation holds, so
    // that the collector counts it.
    void ConnectImplementationProperty(const VJSONValue& value);
    void DisconnectImplementationProperty(const VJSONValue& value);

    // The class (no reference), null for a plain object.
    VJSONClass* GetClass() const { return fClass; }
    // The object standing for the class (no reference); a plain object is of
    // the process store's "Object" (null without a process store).
    VJSONObject* GetClassObject() const;
    // The class's prototype; null without class.
    VJSONObject* _GetPrototype() const;
    // Registers the object as a user of cls (a null or the same class is
    // ignored) and leaves the old class.
    void _SetClass(VJSONClass* cls);
    // Leaves the class: the object becomes generic (store teardown).
    void _LeaveClass();
    // Replaces the implementation (retained), telling the old and the new.
    void _SetImplementation(IJSONObject* implementation);

    // Instantiation through a class: the level up to which the instance is
    // constructed, the under-construction mark, and a word the class gives.
    uint32_t GetConstructionLevel() const { return fConstructionLevel; }
    void SetConstructionLevel(uint32_t level) { fConstructionLevel = level; }
    bool IsUnderConstruction() const { return fUnderConstruction; }
    void SetUnderConstruction(bool mark) { fUnderConstruction = mark; }
    uint32_t GetClassData() const { return fClassData; }
    void SetClassData(uint32_t data) { fClassData = data; }

    // Calls the object as a function: 1 without implementation; otherwise a
    // function context with these fields goes to IJSON_CallAsFunction and
    // its result is copied to result.
    EJSONStatus CallAsFunction(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* parameters,
                               VJSONValue& result, CDBZanthBaseContext* baseContext = nullptr,
                               VDBLanguageContext* languageContext = nullptr);
    // The implementation's non-empty name, else the name of the class when it
    // is not the root "Object" ("Pt", "Class", "Function", "Blob"), else
    // "Shared Object" with a locker and "Object" without.
    void GetClassName(VString& out) const;

    // The implementation's description when it gives one; else the object as
    // compact JSON text, cut past 512 characters with shortForm. Returns the
    // writer's error (out is then empty).
    VError GetDescription(VString& out, bool shortForm, VDBLanguageContext* languageContext = nullptr) const;

    // Sets each of other's stored properties, in other's order, on this
    // object; with onlyMissing, only names this object lacks. Returns 0.
    VError MergeWith(const VJSONObject* other, bool onlyMissing);

    // A deep copy of this object into out, through the cloner (each reachable
    // container copied once, so shared parts and cycles keep their shape).
    // The copy of an object with a storage locker is put under the cloner's
    // locker. Prefer VJSONCloner::CloneObject, which also records this
    // object's own copy.
    VError Clone(VJSONValue& out, VJSONCloner& cloner) const;
    // Clears target's properties and fills it with clones of this object's,
    // under a use of target's locker.
    VError CloneProperties(VJSONCloner& cloner, VJSONObject* target) const;
    // The first step of Clone: out becomes the copy without its properties,
    // or the whole copy when the implementation makes it; *needsProperties
    // tells whether CloneProperties must fill it.
    VError _CloneWithoutProperties(VJSONValue& out, VJSONCloner& cloner, bool* needsProperties) const;

    // Same own property names with deeply equal values (order aside); cycles
    // end. See VJSONValue::DeepEqualTo.
    bool DeepEqualTo(const VJSONObject* other, const VCompareOptions& options) const;

    // Lowers the link counts of every container the properties refer to,
    // without removing them: only for a caller that drops them next.
    void DisconnectAll();

    // --- unlocked access for one-task objects (tests, error records) ---
    size_t GetPropertyCount() const { return fProperties.size(); }
    const VString& GetNameAt(size_t index) const { return fProperties[index].first; }
    const VJSONValue& GetValueAt(size_t index) const { return fProperties[index].second; }

    // The monitored task (0: off) and the count of its objects alive.
    static std::atomic<int32_t> sTaskToMonitor;
    static std::atomic<int32_t> sTaskCounter;

    // The reserved name that reads a shared object's id.
    static const VString& LockerIDName();

    // The implementation declares the object sharable (IJSON_IsSharable).
    bool _IsSharableByImplementation() const override;

protected:
    void _GetChildContainers(std::vector<VJSONContainer*>& out) const override;
    void _DropAllValuesForCollection() override;
    void _WillBeFreed() override;

private:
    friend class VJSONPropertyConstIterator;
    friend class VJSONPropertyConstOrderedIterator;
    friend class VJSONPropertyIterator;

    using Entry = std::pair<VString, VJSONValue>;

    // One slot of the open-addressed name index: the name's hash and its
    // position in fProperties plus one (0: free). The names stay in the
    // entries, so the index copies none.
    struct IndexSlot {
        uint32_t hash;
        uint32_t position;
    };
    using Index = std::vector<IndexSlot>;

    static std::u16string_view _View(const VString& name);
    // Position of the name in fProperties, or -1.
    ptrdiff_t _Find(const VString& name) const;
    // Takes the entry at position out of the table, moving later ones down.
    VJSONValue _TakeEntry(size_t position);

    // Below this many properties names are searched in place, without index.
    static constexpr size_t kLinearSearchLimit = 12;
    // Records the name of the entry about to be appended at position.
    void _AddToIndex(const VString& name, size_t position);
    // An index with room for entries names, holding those of the entries.
    void _ReserveIndex(size_t entries);
    static uint32_t _Hash(std::u16string_view key) { return HashName(key.data(), key.size()); }
    static void _PutInIndex(Index& index, uint32_t hash, size_t position);
    // Fills index (all slots free, a power of two long) with the names of the
    // first count entries.
    void _FillIndex(Index& index, size_t count) const;
    // The index slot holding name (filed under hash), or the free slot where
    // it would go. The index must not be empty.
    size_t _ProbeIndex(const VString& name, uint32_t hash) const;

    // Entries in insertion order; fIndex maps a name to its position there
    // once the object has kLinearSearchLimit properties.
    std::vector<Entry> fProperties;
    Index fIndex;
    IJSONObject* fImplementation = nullptr;
    VJSONClass* fClass = nullptr;
    uint32_t fConstructionLevel = 0;
    uint32_t fClassData = 0;
    bool fUnderConstruction = false;
    int32_t fCreatorTask = 0;
    bool fExempt = false;
};

}  // namespace bkit

// The property iterators were declared with the object; users keep finding them here.
#include "basekit/json/VJSONPropertyIterator.h"
