#include "platform/vcl/properties.h"

#include <memory>
#include <unordered_map>

#include "platform/rtl/cp1251.h"

namespace vcl {

namespace {

// The tables of every class that registered one: the class library's
// registry of published properties, filled as units start.
std::unordered_map<std::type_index, std::unique_ptr<TPropertyTable>>& Tables() {
    static std::unordered_map<std::type_index, std::unique_ptr<TPropertyTable>> tables;
    return tables;
}

[[noreturn]] void Misfit(const TPropInfo& prop, const char* wanted) {
    throw EPropertyError("Property " + prop.Name + " is not " + wanted);
}

}  // namespace

const TEnumTypeInfo& BooleanTypeInfo() {
    static const TEnumTypeInfo boolean{"Boolean", {"False", "True"}};
    return boolean;
}

std::vector<const TPropInfo*> TPropertyTable::All() const {
    std::vector<const TPropInfo*> out = parent_ ? parent_->All() : std::vector<const TPropInfo*>{};
    for (const TPropInfo& p : props_) out.push_back(&p);
    return out;
}

const TPropInfo* TPropertyTable::Find(std::string_view name) const {
    for (const TPropertyTable* t = this; t; t = t->parent_)
        for (const TPropInfo& p : t->props_)
            if (rtl::AnsiSameText(p.Name, std::string(name))) return &p;
    return nullptr;
}

void TPropertyTable::Add(TPropInfo prop) {
    for (const TPropInfo& p : props_)
        if (rtl::AnsiSameText(p.Name, prop.Name))
            throw EPropertyError("Property " + prop.Name + " of " + class_name_ + " is registered twice");
    props_.push_back(std::move(prop));
}

namespace detail {

TPropertyTable& AddRootTable(std::type_index type, std::string className) {
    auto& slot = Tables()[type];
    if (!slot) slot = std::make_unique<TPropertyTable>(std::move(className), nullptr);
    return *slot;
}

TPropertyTable& AddTable(std::type_index type, std::string className, std::type_index parent) {
    const TPropertyTable* base = PropertyTableOf(parent);
    if (!base) throw EPropertyError("The properties of the base class of " + className + " are not registered");
    auto& slot = Tables()[type];
    if (!slot) slot = std::make_unique<TPropertyTable>(std::move(className), base);
    return *slot;
}

}  // namespace detail

const TPropertyTable* PropertyTableOf(std::type_index type) {
    const auto it = Tables().find(type);
    return it == Tables().end() ? nullptr : it->second.get();
}

const TPropertyTable* PropertyTableOf(const TPersistent& instance) { return PropertyTableOf(typeid(instance)); }

const TPropInfo* GetPropInfo(const TPersistent& instance, std::string_view name) {
    const TPropertyTable* table = PropertyTableOf(instance);
    return table ? table->Find(name) : nullptr;
}

std::int64_t GetOrdProp(const TPersistent& instance, const TPropInfo& prop) {
    if (!prop.GetOrd) Misfit(prop, "ordinal");
    return prop.GetOrd(instance);
}

void SetOrdProp(TPersistent& instance, const TPropInfo& prop, std::int64_t value) {
    if (!prop.SetOrd) Misfit(prop, "ordinal");
    prop.SetOrd(instance, value);
}

std::string GetStrProp(const TPersistent& instance, const TPropInfo& prop) {
    if (!prop.GetStr) Misfit(prop, "text");
    return prop.GetStr(instance);
}

void SetStrProp(TPersistent& instance, const TPropInfo& prop, const std::string& value) {
    if (!prop.SetStr) Misfit(prop, "text");
    prop.SetStr(instance, value);
}

std::string GetEnumName(const TEnumTypeInfo& type, std::int64_t value) {
    if (value < 0 || value >= static_cast<std::int64_t>(type.Names.size())) return {};
    return type.Names[static_cast<std::size_t>(value)];
}

}  // namespace vcl
