// VJSONClassTest.cpp - classes and inheritance, the store, native functions
// with apply, call and super, the blob class, and "$ref" across documents.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "basekit/files/IFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONMemberFunction.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPointerResolver.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "json/JSONClassTestSupport.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

// Calls function on thisObject with parameters inside a silent level; the
// codes raised go to *raised.
EJSONStatus Call(VJSONObject* function, VJSONObject* thisObject, std::vector<VJSONValue> parameters,
                 VJSONValue& result, std::vector<VError>* raised = nullptr)
{
    StErrorContextInstaller silent(false, true);
    EJSONStatus status = function->CallAsFunction(thisObject, nullptr, &parameters, result);
    if (raised)
        for (VErrorBase* e : silent.GetContext()->GetErrors())
            raised->push_back(e->GetError());
    return status;
}

EJSONStatus ReturnThis(const VJSONObject*, IJSONFunctionContext* context)
{
    context->SetResult(VJSONValue(context->GetThisObject()));
    return eJSON_done;
}

EJSONStatus SumParams(const VJSONObject*, IJSONFunctionContext* context)
{
    double sum = 0;
    for (size_t i = 1; i <= context->GetParamCount(); ++i)
        sum += context->GetNumberParam(static_cast<int>(i));
    context->SetResult(VJSONValue(sum));
    return eJSON_done;
}

EJSONStatus GetSize(const VJSONObject*, IJSONFunctionContext* context)
{
    context->SetResult(VJSONValue(42.0));
    return eJSON_done;
}

EJSONStatus BaseConstructor(const VJSONObject*, IJSONFunctionContext* context)
{
    context->GetThisObject()->SetOwnProperty(VString("base"), VJSONValue(JSON_true));
    return eJSON_done;
}

EJSONStatus DerivedConstructor(const VJSONObject*, IJSONFunctionContext* context)
{
    EJSONStatus status = VJSONClass::CallSuperConstructor(context);
    context->GetThisObject()->SetOwnProperty(VString("derived"), VJSONValue(JSON_true));
    return status == eJSON_failed ? status : eJSON_done;
}

EJSONStatus LazyConstructor(const VJSONObject*, IJSONFunctionContext*) { return eJSON_done; }

EJSONStatus Greet(const VJSONObject*, IJSONFunctionContext* context)
{
    context->SetResult(VJSONValue(VString("base")));
    return eJSON_done;
}

EJSONStatus GreetViaSuper(const VJSONObject*, IJSONFunctionContext* context)
{
    VJSONObject* member = VJSONSuperMember::CreateObject(VString("greet"));
    EJSONStatus status = member->GetImplementation()->IJSON_CallAsFunction(member, context);
    member->Release();
    return status;
}

class VJSONClassTest : public test::ClassStoreTest {};

TEST_F(VJSONClassTest, RootClassesAndLookups)
{
    VJSONObject* object = Store()->GetClassObject(VString("object"), true);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object, Store()->GetObjectClassObject());
    EXPECT_EQ(Store()->GetClassObject(VString("object"), false), nullptr);
    object->Release();

    // "new" on a root class has no instantiator.
    VJSONObject* newFunction = Store()->GetFunctionClassObject()->GetProperty(VString("new")).GetObject();
    ASSERT_NE(newFunction, nullptr);
    VJSONValue result;
    std::vector<VError> raised;
    Call(newFunction, Store()->GetFunctionClassObject(), {}, result, &raised);
    EXPECT_EQ(raised, std::vector<VError>{VE_JSON_NO_INSTANTIATOR});

    // A hidden class is found but not listed; writing the store fails.
    VJSONObject* hidden = VJSONClass::Create(VString("Hidden"), nullptr, nullptr, VString("zanth"), 0);
    Store()->AddClass(hidden, VJSONClassStore::kFlag_Hidden);
    VJSONObject* found = Store()->GetClassObject(VString("Hidden"), false);
    EXPECT_EQ(found, hidden);
    EXPECT_EQ(Store()->GetVisibleClassObject(VString("Hidden"), false), nullptr);
    ReleaseRefCountable(&found);
    hidden->Release();
    VJSONObject* storeObject = new VJSONObject(nullptr, Store(), nullptr, false);
    std::vector<VString> names;
    Store()->IJSON_GetPropertyNames(storeObject, names);
    EXPECT_EQ(std::count(names.begin(), names.end(), VString("Hidden")), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), VString("Object")), 1);
    {
        StErrorContextInstaller silent(false, true);
        EXPECT_FALSE(storeObject->SetProperty(VString("x"), VJSONValue(1.0)));
        EXPECT_EQ(silent.GetLastError(), VE_JSON_CANNOT_SET_PROPERTY);
    }
    storeObject->Release();
    // An identifier naming an unattached component gives nothing.
    EXPECT_EQ(Store()->GetClassObjectFromIdentifier(VString("other.Object")), nullptr);
}

TEST_F(VJSONClassTest, ConstructionRunsTheChainAndChecksSuperCalls)
{
    VJSONObject* base = Store()->AddClass(VString("Base"), {{VString("get size"), &GetSize, 0}}, nullptr,
                                          &BaseConstructor, &VJSONClass::GenericInstantiator, 0);
    VJSONObject* derived = Store()->AddClass(VString("Derived"), {}, base, &DerivedConstructor,
                                             &VJSONClass::GenericInstantiator, 0);
    VJSONObject* lazy = Store()->AddClass(VString("Lazy"), {}, base, &LazyConstructor,
                                          &VJSONClass::GenericInstantiator, 0);
    VJSONClass* derivedClass = VJSONClass::FromClassObject(derived);
    ASSERT_NE(derivedClass, nullptr);
    EXPECT_EQ(derivedClass->GetLevel(), 2u);

    VJSONObject* instance = derivedClass->CreateInstance(derived, nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_TRUE(instance->GetProperty(VString("base")).IsTrue());
    EXPECT_TRUE(instance->GetProperty(VString("derived")).IsTrue());
    EXPECT_TRUE(instance->IsInstanceOf(base));
    EXPECT_TRUE(instance->IsInstanceOf(Store()->GetObjectClassObject()));
    EXPECT_FALSE(instance->IsGenericObject());
    // The inherited getter answers; it has no setter, so the attribute is read-only.
    EXPECT_EQ(instance->GetProperty(VString("size")).GetNumber(), 42.0);
    // Walks list the getter's attribute before the stored properties, unless told not to.
    std::string names;
    for (VJSONPropertyConstOrderedIterator i(instance); i.IsValid(); ++i)
        names += to_string(i.GetName()) + ",";
    EXPECT_EQ(names, "size,base,derived,");
    names.clear();
    for (VJSONPropertyConstOrderedIterator i(instance, 2); i.IsValid(); ++i)
        names += to_string(i.GetName()) + ",";
    EXPECT_EQ(names, "base,derived,");
    {
        StErrorContextInstaller silent(false, true);
        EXPECT_FALSE(instance->SetProperty(VString("size"), VJSONValue(1.0)));
        EXPECT_EQ(silent.GetLastError(), VE_JSON_READ_ONLY_PROPERTY);
    }
    instance->Release();

    // A constructor that forgets its super constructor fails.
    {
        StErrorContextInstaller silent(false, true);
        VJSONObject* bad = VJSONClass::FromClassObject(lazy)->CreateInstance(lazy, nullptr);
        EXPECT_EQ(silent.GetLastError(), VE_JSON_SUPER_CONSTRUCTOR_NOT_CALLED);
        ReleaseRefCountable(&bad);
    }
    // Class object properties pass through the class.
    EXPECT_EQ(to_string([&] {
                  VString s;
                  derived->GetProperty(VString("name")).GetString(s);
                  return s;
              }()),
              "Derived");
    EXPECT_EQ(derived->GetProperty(VString("superclass")).GetObject(), base);
    {
        StErrorContextInstaller silent(false, true);
        EXPECT_FALSE(derived->SetProperty(VString("isSessionSingleton"), VJSONValue(JSON_true)));
        EXPECT_TRUE(derived->RemoveProperty(VString("isSessionSingleton")));
    }
    for (VJSONObject* o : {base, derived, lazy})
        o->Release();
}

TEST_F(VJSONClassTest, ClassNamesAndClassObjectsOfEveryKindOfObject)
{
    VJSONObject* pt = Store()->AddClass(VString("Pt"), {}, nullptr, nullptr, &VJSONClass::GenericInstantiator, 0);
    VJSONObject* sharedPt = Store()->AddClass(VString("SharedPt"), {}, nullptr, nullptr,
                                              &VJSONClass::SharedObjectInstantiator, VJSONClass::kFlag_Shared);
    VRefPtr<VJSONObject> instance = VRefPtr<VJSONObject>::Adopt(VJSONClass::FromClassObject(pt)->CreateInstance(pt, nullptr));
    VRefPtr<VJSONObject> sharedInstance =
        VRefPtr<VJSONObject>::Adopt(VJSONClass::FromClassObject(sharedPt)->CreateInstance(sharedPt, nullptr));
    VRefPtr<VJSONObject> blob = VRefPtr<VJSONObject>::Adopt(VJSONBlob::Create(nullptr, 0));
    VJSONObject* newFunction = pt->GetProperty(VString("new")).GetObject();
    VRefPtr<VJSONObject> plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    VRefPtr<VJSONObject> sharedPlain = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    VRefPtr<VJSONObject> ofRoot =
        VRefPtr<VJSONObject>::Adopt(new VJSONObject(Store()->GetObjectClassObject(), nullptr, true));
    struct Case {
        const char* what;
        const VJSONObject* object;
        const char* name;
        const VJSONObject* classObject;
    };
    const Case cases[] = {
        {"instance", instance.Get(), "Pt", pt},
        {"shared instance", sharedInstance.Get(), "SharedPt", sharedPt},
        {"blob", blob.Get(), "Blob", VJSONBlob::GetClass()},
        {"class object", pt, "Class", Store()->GetClassClassObject()},
        {"root class object", Store()->GetObjectClassObject(), "Class", Store()->GetClassClassObject()},
        {"native function", newFunction, "Function", Store()->GetFunctionClassObject()},
        {"plain object", plain.Get(), "Object", Store()->GetObjectClassObject()},
        {"plain shared object", sharedPlain.Get(), "Shared Object", Store()->GetObjectClassObject()},
        {"shared instance of the root class", ofRoot.Get(), "Shared Object", Store()->GetObjectClassObject()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(c.object, nullptr);
        VString name;
        c.object->GetClassName(name);
        EXPECT_EQ(to_string(name), c.name);
        EXPECT_EQ(c.object->GetClassObject(), c.classObject);
    }
    for (VJSONObject* o : {pt, sharedPt})
        o->Release();
}

TEST_F(VJSONClassTest, GetterValuesAreWrittenAndMakeInstancesNonEmpty)
{
    VJSONObject* sized = Store()->AddClass(VString("Sized"), {{VString("get size"), &GetSize, 0}}, nullptr, nullptr,
                                           &VJSONClass::GenericInstantiator, 0);
    VJSONObject* sharedSized =
        Store()->AddClass(VString("SharedSized"), {{VString("get size"), &GetSize, 0}}, nullptr, nullptr,
                          &VJSONClass::SharedObjectInstantiator, VJSONClass::kFlag_Shared);
    struct Case {
        const char* what;
        VJSONObject* classObject;
        bool stored;  // with a stored property x = 1
        const char* text;
    };
    // Getters come first, then the stored properties; on a shared object the
    // stored names come first.
    const Case cases[] = {
        {"getter only", sized, false, "{\"size\":42}"},
        {"getter and stored", sized, true, "{\"size\":42,\"x\":1}"},
        {"shared, getter only", sharedSized, false, "{\"size\":42}"},
        {"shared, getter and stored", sharedSized, true, "{\"x\":1,\"size\":42}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VRefPtr<VJSONObject> instance = VRefPtr<VJSONObject>::Adopt(
            VJSONClass::FromClassObject(c.classObject)->CreateInstance(c.classObject, nullptr));
        ASSERT_NE(instance.Get(), nullptr);
        if (c.stored) {
            ASSERT_TRUE(instance->SetProperty(VString("x"), VJSONValue(1.0)));
        }
        EXPECT_FALSE(instance->IsEmpty());
        VString text;
        ASSERT_EQ(VJSONValue(instance.Get()).Stringify(text, VJSONWriter::kFlag_Quoted), 0u);
        EXPECT_EQ(to_string(text), c.text);
        ASSERT_EQ(instance->GetDescription(text, false), 0u);
        EXPECT_EQ(to_string(text), c.text);
    }
    for (VJSONObject* o : {sized, sharedSized})
        o->Release();
}

TEST_F(VJSONClassTest, DefinitionKeysSpellTheirTexts)
{
    struct Case {
        const VString* key;
        const char* text;
    };
    const Case cases[] = {
        {&VJSONClass::sFunctionProperty_local, "local"},
        {&VJSONClass::sFunctionProperty_exposed, "exposed"},
        {&VJSONClass::sFunctionProperty_onHTTPGet, "onHTTPGet"},
        {&VJSONClass::sFunctionProperty_eventName, "eventName"},
        {&VJSONClass::sFunctionProperty_resultType, "resultType"},
        {&VJSONClass::sFunctionProperty_resultTypeCode, "resultTypeCode"},
        {&VJSONClass::sFunctionProperty_resultClass, "resultClass"},
        {&VJSONClass::sFunctionProperty_shared, "shared"},
        {&VJSONClass::sClassProperty_singleton, "singleton"},
        {&VJSONClass::sClassProperty_session, "session"},
        {&VJSONClass::sClassProperty_aliases, "aliases"},
        {&VJSONClass::sAliasProperty_name, "name"},
        {&VJSONClass::sAliasProperty_path, "path"},
        {&VJSONClass::sClassProperty_properties, "properties"},
        {&VJSONClass::sClassProperty_property_value, "value"},
        {&VJSONClass::sClassProperty_property_type, "type"},
        {&VJSONClass::sClassProperty_property_content, "content"},
        {&VJSONClass::sFunctionType_init, "init"},
        {&VJSONClass::sFunctionType_init_withSpace, "init "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(to_string(*c.key), c.text);
}

TEST_F(VJSONClassTest, SetFunctionsTwiceChangesNothingAndSingletonsAreShared)
{
    VJSONObject* single = Store()->AddClass(VString("Single"), {}, nullptr, nullptr, &VJSONClass::SharedObjectInstantiator,
                                            VJSONClass::kFlag_Shared | VJSONClass::kFlag_Singleton);
    VJSONClass* cls = VJSONClass::FromClassObject(single);
    cls->SetFunctions({{VString("late"), &ReturnThis, 0}}, nullptr, nullptr);
    EXPECT_EQ(cls->GetMemberFunction(VString("late")), nullptr);
    VJSONValue me1 = single->GetProperty(VString("me"));
    VJSONValue me2 = single->GetProperty(VString("me"));
    ASSERT_TRUE(me1.IsObject());
    EXPECT_EQ(me1.GetObject(), me2.GetObject());
    EXPECT_TRUE(single->GetProperty(VString("isSingleton")).IsTrue());
    single->Release();
}

TEST_F(VJSONClassTest, InternalSingletonIsMadeOnceAcrossTasks)
{
    VJSONObject* single = Store()->AddClass(VString("Racer"), {}, nullptr, nullptr, &VJSONClass::SharedObjectInstantiator,
                                            VJSONClass::kFlag_Shared | VJSONClass::kFlag_Singleton);
    constexpr int kTasks = 4;
    VJSONObject* seen[kTasks] = {};
    std::atomic<int> ready{0};
    std::vector<VTask*> tasks;
    for (int t = 0; t < kTasks; ++t) {
        VTask* task = new VTask(0, eTaskStylePreemptive, [&, t] {
            ++ready;
            while (ready.load() < kTasks)
                VTask::Sleep(0);
            seen[t] = VJSONClass::FromClassObject(single)->GetSingleton(nullptr, nullptr);
        });
        ASSERT_TRUE(task->Run());
        tasks.push_back(task);
    }
    for (VTask* task : tasks) {
        EXPECT_TRUE(task->WaitForDeath(30000));
        task->Release();
    }
    ASSERT_NE(seen[0], nullptr);
    for (VJSONObject*& o : seen) {
        EXPECT_EQ(o, seen[0]);
    }
    for (VJSONObject*& o : seen)
        ReleaseRefCountable(&o);
    single->Release();
}

TEST_F(VJSONClassTest, ApplyCallAndSuper)
{
    VJSONObject* base = Store()->AddClass(VString("Greeter"), {{VString("greet"), &Greet, 0}}, nullptr, nullptr,
                                          &VJSONClass::GenericInstantiator, 0);
    VJSONObject* derived =
        Store()->AddClass(VString("LoudGreeter"), {{VString("greet"), &GreetViaSuper, 0}, {VString("sum"), &SumParams, 0},
                                                   {VString("me"), &ReturnThis, 0}},
                          base, nullptr, &VJSONClass::GenericInstantiator, 0);
    VJSONObject* instance = VJSONClass::FromClassObject(derived)->CreateInstance(derived, nullptr);
    VJSONObject* greet = instance->GetProperty(VString("greet")).GetObject();
    VJSONObject* sum = instance->GetProperty(VString("sum")).GetObject();
    VJSONObject* me = instance->GetProperty(VString("me")).GetObject();
    ASSERT_TRUE(greet && sum && me);

    VJSONValue result;
    EXPECT_EQ(Call(greet, instance, {}, result), eJSON_done);
    EXPECT_TRUE(result.IsString());  // "base", through the super member

    VJSONObject* apply = sum->GetProperty(VString("apply")).GetObject();
    VJSONObject* call = sum->GetProperty(VString("call")).GetObject();
    ASSERT_TRUE(apply && call);
    VJSONArray* args = new VJSONArray();
    args->Push(VJSONValue(2.0));
    args->Push(VJSONValue(3.0));
    EXPECT_EQ(Call(apply, sum, {VJSONValue(instance), VJSONValue(args)}, result), eJSON_done);
    EXPECT_EQ(result.GetNumber(), 5.0);
    EXPECT_EQ(Call(apply, sum, {VJSONValue(instance), VJSONValue(7.0)}, result), eJSON_done);
    EXPECT_EQ(result.GetNumber(), 0.0);
    args->Release();
    EXPECT_EQ(Call(call, sum, {VJSONValue(instance), VJSONValue(4.0)}, result), eJSON_done);
    EXPECT_EQ(result.GetNumber(), 4.0);
    // "call" without arguments: no this object.
    EXPECT_EQ(Call(call, me, {}, result), eJSON_done);
    EXPECT_FALSE(result.IsObject());

    std::vector<VError> raised;
    VJSONObject* plain = new VJSONObject();
    EXPECT_EQ(Call(apply, plain, {}, result, &raised), eJSON_failed);
    EXPECT_EQ(raised, std::vector<VError>{VE_JSON_NOT_CALLABLE});
    plain->Release();
    {
        StErrorContextInstaller silent(false, true);
        EXPECT_FALSE(sum->SetProperty(VString("x"), VJSONValue(1.0)));
        EXPECT_EQ(silent.GetLastError(), VE_JSON_READ_ONLY_PROPERTY);
    }
    // A super call with no superclass member of that name.
    raised.clear();
    VJSONObject* loneClass = Store()->AddClass(VString("Lone"), {{VString("greet"), &GreetViaSuper, 0}}, nullptr,
                                               nullptr, &VJSONClass::GenericInstantiator, 0);
    VJSONObject* lone = VJSONClass::FromClassObject(loneClass)->CreateInstance(loneClass, nullptr);
    Call(lone->GetProperty(VString("greet")).GetObject(), lone, {}, result, &raised);
    EXPECT_EQ(raised, std::vector<VError>{VE_JSON_NOT_CALLABLE});
    for (VJSONObject* o : {lone, loneClass, instance, base, derived})
        o->Release();
}

TEST_F(VJSONClassTest, TypedParameterReaders)
{
    std::vector<VJSONValue> params{VJSONValue(VString("s")), VJSONValue(std::nan(""))};
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    StErrorContextInstaller silent(false, true);
    EXPECT_TRUE(context.GetParam(0).IsUndefined());
    EXPECT_TRUE(context.GetParam(3).IsUndefined());
    EXPECT_EQ(context.GetLongParam(2), 0);  // NaN is 0, not undefined behaviour
    EXPECT_TRUE(context.AreParametersValid());
    double d = 0;
    EXPECT_FALSE(context.GetNumberOptParam(3, &d));
    EXPECT_TRUE(silent.GetContext()->IsEmpty());
    EXPECT_FALSE(context.AreParametersValid());
    EXPECT_FALSE(context.GetBlobParam(1, true).found);
    EXPECT_TRUE(silent.GetContext()->IsEmpty());
    context.GetNumberParam(1);
    EXPECT_EQ(silent.GetLastError(), VE_JSON_PARAM_NOT_A_NUMBER);
    EXPECT_EQ(IJSONFunctionContext::ToLong(1e300), INT32_MAX);
    EXPECT_EQ(IJSONFunctionContext::ToLong8(-INFINITY), INT64_MIN);
}

TEST_F(VJSONClassTest, BlobSlicesAndErrors)
{
    const uint8_t bytes[] = {10, 20, 30, 40, 50};
    VJSONObject* blob = VJSONBlob::Create(bytes, 5);
    VJSONObject* slice = blob->GetProperty(VString("slice")).GetObject();
    ASSERT_NE(slice, nullptr);
    struct Case {
        std::vector<VJSONValue> params;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {{VJSONValue(-2.0)}, {40, 50}},
        {{VJSONValue(3.0), VJSONValue(1.0)}, {}},
        {{VJSONValue(0.0), VJSONValue(100.0)}, {10, 20, 30, 40, 50}},
        {{VJSONValue(std::nan("")), VJSONValue(INFINITY)}, {10, 20, 30, 40, 50}},
    };
    for (const Case& c : cases) {
        VJSONValue result;
        ASSERT_EQ(Call(slice, blob, c.params, result), eJSON_done);
        VJSONBlob* part = VJSONBlob::CastJSONObject(result.GetObject());
        ASSERT_NE(part, nullptr);
        const uint8_t* data = static_cast<const uint8_t*>(part->GetData());
        EXPECT_EQ(std::vector<uint8_t>(data, data + part->GetSize()), c.expected);
    }
    EXPECT_EQ(blob->GetProperty(VString("size")).GetNumber(), 5.0);

    VJSONObject* empty = VJSONBlob::Create(nullptr, 0);
    EJSONStatus status = eJSON_done;
    {
        StErrorContextInstaller silent(false, true);
        empty->GetPropertyByIndex(0, &status);
        EXPECT_EQ(silent.GetLastError(), VE_JSON_INDEX_OUT_OF_RANGE);
    }
    EXPECT_EQ(status, eJSON_failed);

    // "new" with two arguments is refused; the payload of 3 bytes is 11 bytes.
    VJSONObject* blobClass = VJSONBlob::GetClass();
    std::vector<VJSONValue> two{VJSONValue(1.0), VJSONValue(2.0)};
    {
        StErrorContextInstaller silent(false, true);
        VJSONObject* made = VJSONClass::CreateInstanceFromClassObject(blobClass, nullptr, &two);
        EXPECT_EQ(made, nullptr);
        EXPECT_EQ(silent.GetLastError(), VE_JSON_TOO_MANY_PARAMETERS);
    }
    VJSONObject* three = VJSONBlob::Create(bytes, 3);
    VMemoryBuffer<> payload;
    VError err = 0;
    three->GetImplementation()->IJSON_WriteToBuffer(three, &payload, &err);
    EXPECT_EQ(payload.GetDataSize(), 11u);  // size 3 as 8 bytes, then the 3 bytes
    // Cloning keeps the same blob object.
    VJSONValue cloned(three);
    VJSONCloner cloner;
    cloner.CloneValue(cloned);
    EXPECT_EQ(cloned.GetObject(), three);
    for (VJSONObject* o : {three, empty, blob})
        o->Release();
}

TEST_F(VJSONClassTest, ReferencesAcrossTwoDocumentsOnDisk)
{
    test::TempFolder temp;
    ASSERT_TRUE(temp.WriteFile("defs.json", "{\"shape\":{\"b\":1,\"c\":3},\"list\":[5,6],\"a/b\":[7]}"));
    ASSERT_TRUE(temp.WriteFile("main.json",
                               "{\"x\":{\"$ref\":\"defs.json#/shape\",\"b\":2},\"y\":{\"$ref\":\"defs.json#/a~1b/0\"},"
                               "\"z\":{\"$ref\":\"defs.json#/list/01\"},\"w\":{\"$ref\":\"defs.json#/list/-\"},"
                               "\"v\":{\"$ref\":\"defs.json#/list/99999999999999999999999\"},"
                               "\"u\":{\"$ref\":\"http://example/doc#/\"},\"t\":{\"$ref\":\"#/t/x\"},"
                               "\"s\":{\"$ref\":\"missing.json#/\"}}"));
    VFolder folder(temp.FolderPath());
    VJSONValue root;
    VString text;
    text.FromCString(temp.ReadFile("main.json").c_str());
    ASSERT_EQ(root.ParseFromString(text), 0);
    VJSONFileCache* cache = new VJSONFileCache();
    VJSONPointerResolver* resolver = new VJSONPointerResolver(root, &folder, cache);
    std::vector<IFile*> files;
    resolver->ResolveRecursively(root, true, &files);

    VJSONObject* x = root.GetProperty(VString("x")).GetObject();
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->GetProperty(VString("b")).GetNumber(), 2.0);
    EXPECT_EQ(x->GetProperty(VString("c")).GetNumber(), 3.0);
    EXPECT_EQ(root.GetProperty(VString("y")).GetNumber(), 7.0);
    EXPECT_EQ(cache->GetCount(), 1u);  // defs.json read once

    std::vector<double> codes;
    VJSONArray* errors = resolver->GetErrors().GetArray();
    ASSERT_NE(errors, nullptr);
    for (size_t i = 0; i < errors->GetCount(); ++i)
        codes.push_back(errors->GetAt(i).GetProperty(VString("code")).GetNumber());
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<double>{906, 907, 908, 909, 909, 913}));
    // Failed references stay as they were in their object.
    EXPECT_TRUE(root.GetProperty(VString("z")).IsObject());

    for (IFile*& f : files)
        ReleaseRefCountable(&f);
    resolver->Release();
    cache->Release();
}

}  // namespace
}  // namespace bkit
