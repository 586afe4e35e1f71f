#pragma once
// Published properties: for each class whose settings are written to form
// streams or edited by name, a table of its properties (name, kind, how to
// read and write it, its default). The stream writer and reader work from
// these tables, and editors bind their controls to properties by name
// through them. A class registry finds the class of a streamed object by
// its name.
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/persistent.h"

namespace chart {

enum class TPropKind { Integer, Boolean, Float, Color, Enumeration, String, Object };

// Integer, Color and Enumeration (the ordinal) hold a long long, Boolean a
// bool, Float a double, String a string.
using TPropValue = std::variant<long long, bool, double, std::string>;

class TPropertyTable;

struct TPropInfo {
    std::string Name;
    TPropKind Kind = TPropKind::Integer;
    // Enumeration: the value names from the lowest ordinal up.
    std::vector<std::string> EnumNames;
    // A value equal to it is not written; none: always written.
    std::optional<TPropValue> Default;
    std::function<TPropValue(const vcl::TPersistent&)> Get;
    std::function<void(vcl::TPersistent&, const TPropValue&)> Set;
    // Object: the sub-object and its properties; with Create false, null
    // when the object was never made.
    std::function<vcl::TPersistent*(vcl::TPersistent&, bool Create)> Object;
    const TPropertyTable* ObjectProperties = nullptr;

    // Whether the value of Instance differs from the default.
    bool IsStored(const vcl::TPersistent& Instance) const;
};

// A property that cannot be found or set ("Property Amount does not exist").
class EPropertyError : public rtl::Exception {
public:
    using Exception::Exception;
};
// A class name not in the registry ("Class TFooFilter not found").
class EClassNotFound : public rtl::Exception {
public:
    using Exception::Exception;
};

class TPropertyTable {
public:
    // The properties of a class: its parent class's first.
    TPropertyTable(const TPropertyTable* Parent, std::initializer_list<TPropInfo> Own);
    TPropertyTable(const TPropertyTable&) = delete;
    TPropertyTable& operator=(const TPropertyTable&) = delete;

    // Case does not matter; null when there is none.
    const TPropInfo* Find(std::string_view Name) const;
    // EPropertyError when there is none.
    const TPropInfo& Get(std::string_view Name) const;
    // In order: the parent's, then the class's own.
    std::vector<const TPropInfo*> All() const;

private:
    const TPropertyTable* parent_;
    std::vector<TPropInfo> own_;
};

// Reading and writing by name. Integers are held to the 32-bit range,
// enumerations to their names, booleans to 0 and 1.
TPropValue GetPropValue(const vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name);
void SetPropValue(vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name,
                  const TPropValue& Value);
long long GetOrdProp(const vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name);
void SetOrdProp(vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name, long long Value);

// ---- Building tables

template <class C>
TPropInfo IntegerProperty(std::string Name, std::function<long long(const C&)> Get,
                          std::function<void(C&, long long)> Set, std::optional<long long> Default,
                          TPropKind Kind = TPropKind::Integer) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = Kind;
    if (Default) p.Default = TPropValue(*Default);
    p.Get = [Get](const vcl::TPersistent& o) { return TPropValue(Get(static_cast<const C&>(o))); };
    p.Set = [Set](vcl::TPersistent& o, const TPropValue& v) { Set(static_cast<C&>(o), std::get<long long>(v)); };
    return p;
}

template <class C>
TPropInfo ColorProperty(std::string Name, std::function<long long(const C&)> Get,
                        std::function<void(C&, long long)> Set, std::optional<long long> Default) {
    return IntegerProperty<C>(std::move(Name), std::move(Get), std::move(Set), Default, TPropKind::Color);
}

template <class C>
TPropInfo BooleanProperty(std::string Name, std::function<bool(const C&)> Get, std::function<void(C&, bool)> Set,
                          std::optional<bool> Default) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = TPropKind::Boolean;
    if (Default) p.Default = TPropValue(*Default);
    p.Get = [Get](const vcl::TPersistent& o) { return TPropValue(Get(static_cast<const C&>(o))); };
    p.Set = [Set](vcl::TPersistent& o, const TPropValue& v) { Set(static_cast<C&>(o), std::get<bool>(v)); };
    return p;
}

template <class C>
TPropInfo FloatProperty(std::string Name, std::function<double(const C&)> Get, std::function<void(C&, double)> Set,
                        std::optional<double> Default) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = TPropKind::Float;
    if (Default) p.Default = TPropValue(*Default);
    p.Get = [Get](const vcl::TPersistent& o) { return TPropValue(Get(static_cast<const C&>(o))); };
    p.Set = [Set](vcl::TPersistent& o, const TPropValue& v) { Set(static_cast<C&>(o), std::get<double>(v)); };
    return p;
}

template <class C>
TPropInfo EnumProperty(std::string Name, std::vector<std::string> Names, std::function<long long(const C&)> Get,
                       std::function<void(C&, long long)> Set, std::optional<long long> Default) {
    TPropInfo p = IntegerProperty<C>(std::move(Name), std::move(Get), std::move(Set), Default,
                                     TPropKind::Enumeration);
    p.EnumNames = std::move(Names);
    return p;
}

template <class C>
TPropInfo ObjectProperty(std::string Name, std::function<vcl::TPersistent*(C&, bool Create)> Object,
                         const TPropertyTable& Properties) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = TPropKind::Object;
    p.Object = [Object](vcl::TPersistent& o, bool create) { return Object(static_cast<C&>(o), create); };
    p.ObjectProperties = &Properties;
    return p;
}

// ---- Class registry

struct TPersistentClass {
    std::string Name;
    std::function<std::unique_ptr<vcl::TPersistent>()> Create;
    const TPropertyTable* Properties = nullptr;
};

// Adds the class unless one of that name is there already.
void RegisterClass(const TPersistentClass& Class);
void UnregisterClass(std::string_view Name);
// Null when the name is not registered / EClassNotFound.
const TPersistentClass* GetClass(std::string_view Name);
const TPersistentClass& FindClass(std::string_view Name);

}  // namespace chart
