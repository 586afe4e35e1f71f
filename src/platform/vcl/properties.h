#pragma once
// Published properties by name: each class that publishes properties
// registers one table of them (with the table of the class it derives
// from), and code that knows an object only by its properties' names
// (editor controls bound to a property, builders of property editors, the
// property stream) reads and writes them through these tables.
//
// Properties are ordinal (integers, colours, Booleans and enumerations,
// read and written as 64-bit numbers) or text.
//
//   RegisterProperties<TMyFilter, TPlotFilter>()
//       .Integer("Amount", &TMyFilter::Amount, &TMyFilter::SetAmount, 1)
//       .Color("Color", &TMyFilter::Color, &TMyFilter::SetColor)
//       .Boolean("Smooth", &TMyFilter::Smooth, &TMyFilter::Smooth);  // a field
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/vcl/persistent.h"

namespace vcl {

// A property that is not there or does not fit ("Unknown property: Amuont").
class EPropertyError : public rtl::Exception {
public:
    using Exception::Exception;
};

enum class TTypeKind { tkInteger, tkEnumeration, tkString };

// An enumerated type: its name and the names of its values from the
// lowest (0) up. Boolean is one ("False", "True").
struct TEnumTypeInfo {
    std::string Name;
    std::vector<std::string> Names;
};
const TEnumTypeInfo& BooleanTypeInfo();

struct TPropInfo {
    std::string Name;
    std::string TypeName;  // "Integer", "TColor", "Boolean", "String" or the enumeration's name
    TTypeKind Kind = TTypeKind::tkInteger;
    const TEnumTypeInfo* EnumType = nullptr;  // enumerations and Boolean
    std::optional<std::int64_t> Default;      // ordinal properties: not stored when equal
    std::function<std::int64_t(const TPersistent&)> GetOrd;
    std::function<void(TPersistent&, std::int64_t)> SetOrd;
    std::function<std::string(const TPersistent&)> GetStr;
    std::function<void(TPersistent&, const std::string&)> SetStr;
};

class TPropertyTable {
public:
    TPropertyTable(std::string className, const TPropertyTable* parent)
        : class_name_(std::move(className)), parent_(parent) {}
    const std::string& ClassName() const { return class_name_; }
    const TPropertyTable* Parent() const { return parent_; }
    // The class's own properties, in the order registered.
    const std::vector<TPropInfo>& Own() const { return props_; }
    // Every property, those of the base classes first.
    std::vector<const TPropInfo*> All() const;
    // By name, case ignored, this class first; null when none.
    const TPropInfo* Find(std::string_view name) const;
    void Add(TPropInfo prop);

private:
    std::string class_name_;
    const TPropertyTable* parent_;
    std::vector<TPropInfo> props_;
};

// The table registered for the object's own class; null when none is.
const TPropertyTable* PropertyTableOf(const TPersistent& instance);
const TPropertyTable* PropertyTableOf(std::type_index type);
// The property of that name of the object's class; null when none.
const TPropInfo* GetPropInfo(const TPersistent& instance, std::string_view name);

// Reading and writing; the kind must fit (EPropertyError otherwise).
std::int64_t GetOrdProp(const TPersistent& instance, const TPropInfo& prop);
void SetOrdProp(TPersistent& instance, const TPropInfo& prop, std::int64_t value);
std::string GetStrProp(const TPersistent& instance, const TPropInfo& prop);
void SetStrProp(TPersistent& instance, const TPropInfo& prop, const std::string& value);
// The name of an enumeration's value ("" outside the type).
std::string GetEnumName(const TEnumTypeInfo& type, std::int64_t value);

namespace detail {
TPropertyTable& AddTable(std::type_index type, std::string className, std::type_index parent);
TPropertyTable& AddRootTable(std::type_index type, std::string className);

// Reads through a member function or a data member of the class.
template <class C, class Get>
auto Read(const TPersistent& p, Get get) {
    return std::invoke(get, static_cast<const C&>(p));
}
// Writes through a setter member function or a data member.
template <class C, class T>
    requires(!std::is_function_v<T>)
void Write(TPersistent& p, T C::*member, std::int64_t v) {
    static_cast<C&>(p).*member = static_cast<T>(v);
}
template <class C, class Arg>
void Write(TPersistent& p, void (C::*setter)(Arg), std::int64_t v) {
    (static_cast<C&>(p).*setter)(static_cast<std::remove_cvref_t<Arg>>(v));
}
template <class C, class T>
    requires(!std::is_function_v<T>)
void WriteText(TPersistent& p, T C::*member, const std::string& v) {
    static_cast<C&>(p).*member = v;
}
template <class C, class Arg>
void WriteText(TPersistent& p, void (C::*setter)(Arg), const std::string& v) {
    (static_cast<C&>(p).*setter)(v);
}
}  // namespace detail

// Adds the properties of class C to its table.
template <class C>
class TPropertyTableBuilder {
public:
    explicit TPropertyTableBuilder(TPropertyTable& table) : table_(table) {}

    template <class Get, class Set>
    TPropertyTableBuilder& Integer(std::string name, Get get, Set set, std::optional<std::int64_t> def = {}) {
        return Ordinal(std::move(name), "Integer", TTypeKind::tkInteger, nullptr, get, set, def);
    }
    template <class Get, class Set>
    TPropertyTableBuilder& Color(std::string name, Get get, Set set, std::optional<std::int64_t> def = {}) {
        return Ordinal(std::move(name), "TColor", TTypeKind::tkInteger, nullptr, get, set, def);
    }
    template <class Get, class Set>
    TPropertyTableBuilder& Boolean(std::string name, Get get, Set set, std::optional<bool> def = {}) {
        return Ordinal(std::move(name), "Boolean", TTypeKind::tkEnumeration, &BooleanTypeInfo(), get, set,
                       def ? std::optional<std::int64_t>(*def) : std::nullopt);
    }
    template <class Get, class Set>
    TPropertyTableBuilder& Enum(std::string name, const TEnumTypeInfo& type, Get get, Set set,
                                std::optional<std::int64_t> def = {}) {
        return Ordinal(std::move(name), type.Name, TTypeKind::tkEnumeration, &type, get, set, def);
    }
    template <class Get, class Set>
    TPropertyTableBuilder& String(std::string name, Get get, Set set) {
        TPropInfo p;
        p.Name = std::move(name);
        p.TypeName = "String";
        p.Kind = TTypeKind::tkString;
        p.GetStr = [get](const TPersistent& o) { return std::string(detail::Read<C>(o, get)); };
        p.SetStr = [set](TPersistent& o, const std::string& v) { detail::WriteText<C>(o, set, v); };
        table_.Add(std::move(p));
        return *this;
    }

private:
    template <class Get, class Set>
    TPropertyTableBuilder& Ordinal(std::string name, std::string typeName, TTypeKind kind,
                                   const TEnumTypeInfo* type, Get get, Set set,
                                   std::optional<std::int64_t> def) {
        TPropInfo p;
        p.Name = std::move(name);
        p.TypeName = std::move(typeName);
        p.Kind = kind;
        p.EnumType = type;
        p.Default = def;
        p.GetOrd = [get](const TPersistent& o) { return static_cast<std::int64_t>(detail::Read<C>(o, get)); };
        p.SetOrd = [set](TPersistent& o, std::int64_t v) { detail::Write<C>(o, set, v); };
        table_.Add(std::move(p));
        return *this;
    }
    TPropertyTable& table_;
};

// Registers the table of class C (once; later calls add to it). Base is
// the class it derives from, whose table must be registered first; without
// one, C's table has no parent.
template <class C, class Base = void>
TPropertyTableBuilder<C> RegisterProperties() {
    static_assert(std::is_base_of_v<TPersistent, C>);
    if constexpr (std::is_void_v<Base>) {
        return TPropertyTableBuilder<C>(detail::AddRootTable(typeid(C), ClassNameOf(typeid(C))));
    } else {
        static_assert(std::is_base_of_v<Base, C>);
        return TPropertyTableBuilder<C>(
            detail::AddTable(typeid(C), ClassNameOf(typeid(C)), typeid(Base)));
    }
}

}  // namespace vcl
