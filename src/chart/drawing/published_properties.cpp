#include "chart/drawing/published_properties.h"

#include <algorithm>
#include <cstdint>


namespace chart {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
               return up(x) == up(y);
           });
}

std::vector<std::unique_ptr<TPersistentClass>>& Registry() {
    static std::vector<std::unique_ptr<TPersistentClass>> classes;
    return classes;
}

}  // namespace

bool TPropInfo::IsStored(const vcl::TPersistent& Instance) const {
    if (Kind == TPropKind::Object || !Get) return true;
    return !Default || Get(Instance) != *Default;
}

TPropertyTable::TPropertyTable(const TPropertyTable* Parent, std::initializer_list<TPropInfo> Own)
    : parent_(Parent), own_(Own) {}

const TPropInfo* TPropertyTable::Find(std::string_view Name) const {
    for (const TPropInfo& p : own_)
        if (SameName(p.Name, Name)) return &p;
    return parent_ ? parent_->Find(Name) : nullptr;
}

const TPropInfo& TPropertyTable::Get(std::string_view Name) const {
    if (const TPropInfo* p = Find(Name)) return *p;
    throw EPropertyError("Property " + std::string(Name) + " does not exist");
}

std::vector<const TPropInfo*> TPropertyTable::All() const {
    std::vector<const TPropInfo*> all = parent_ ? parent_->All() : std::vector<const TPropInfo*>{};
    for (const TPropInfo& p : own_) all.push_back(&p);
    return all;
}

TPropValue GetPropValue(const vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name) {
    const TPropInfo& p = Table.Get(Name);
    if (!p.Get) throw EPropertyError("Property " + p.Name + " holds an object");
    return p.Get(Instance);
}

void SetPropValue(vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name,
                  const TPropValue& Value) {
    const TPropInfo& p = Table.Get(Name);
    if (!p.Set) throw EPropertyError("Property " + p.Name + " holds an object");
    // Each kind takes its own alternative; numbers convert between them.
    auto asNumber = [&]() -> long long {
        if (const auto* i = std::get_if<long long>(&Value)) return *i;
        if (const auto* b = std::get_if<bool>(&Value)) return *b ? 1 : 0;
        if (const auto* d = std::get_if<double>(&Value)) {
            if (!(*d == *d)) return 0;
            return static_cast<long long>(std::clamp(*d, -9.2e18, 9.2e18));
        }
        throw EPropertyError("Invalid property value for " + p.Name);
    };
    switch (p.Kind) {
        case TPropKind::Integer:
        case TPropKind::Color:
            p.Set(Instance, std::clamp<long long>(asNumber(), INT32_MIN, INT32_MAX));
            return;
        case TPropKind::Enumeration: {
            long long v;
            if (const auto* s = std::get_if<std::string>(&Value)) {
                const auto it = std::find_if(p.EnumNames.begin(), p.EnumNames.end(),
                                             [&](const std::string& n) { return SameName(n, *s); });
                if (it == p.EnumNames.end()) throw EPropertyError("Invalid property value " + *s + " for " + p.Name);
                v = it - p.EnumNames.begin();
            } else {
                v = asNumber();
            }
            if (p.EnumNames.empty()) return;
            p.Set(Instance, std::clamp<long long>(v, 0, static_cast<long long>(p.EnumNames.size()) - 1));
            return;
        }
        case TPropKind::Boolean:
            p.Set(Instance, std::holds_alternative<bool>(Value) ? Value : TPropValue(asNumber() != 0));
            return;
        case TPropKind::Float:
            if (const auto* d = std::get_if<double>(&Value)) p.Set(Instance, *d);
            else p.Set(Instance, static_cast<double>(asNumber()));
            return;
        case TPropKind::String:
            if (!std::holds_alternative<std::string>(Value)) throw EPropertyError("Invalid property value for " + p.Name);
            p.Set(Instance, Value);
            return;
        case TPropKind::Object: return;
    }
}

long long GetOrdProp(const vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name) {
    const TPropValue v = GetPropValue(Instance, Table, Name);
    if (const auto* i = std::get_if<long long>(&v)) return *i;
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    throw EPropertyError("Property " + std::string(Name) + " is not ordinal");
}

void SetOrdProp(vcl::TPersistent& Instance, const TPropertyTable& Table, std::string_view Name, long long Value) {
    SetPropValue(Instance, Table, Name, TPropValue(Value));
}

void RegisterClass(const TPersistentClass& Class) {
    if (!GetClass(Class.Name)) Registry().push_back(std::make_unique<TPersistentClass>(Class));
}

void UnregisterClass(std::string_view Name) {
    auto& classes = Registry();
    classes.erase(std::remove_if(classes.begin(), classes.end(),
                                 [&](const auto& c) { return SameName(c->Name, Name); }),
                  classes.end());
}

const TPersistentClass* GetClass(std::string_view Name) {
    for (const auto& c : Registry())
        if (SameName(c->Name, Name)) return c.get();
    return nullptr;
}

const TPersistentClass& FindClass(std::string_view Name) {
    if (const TPersistentClass* c = GetClass(Name)) return *c;
    throw EClassNotFound("Class " + std::string(Name) + " not found");
}

}  // namespace chart
