#pragma once
// The class library's registry of component classes by name, so that a
// reader of form descriptions can make a component of a class it meets
// there only by name.
#include <functional>
#include <string>

#include "platform/vcl/component.h"
#include "platform/vcl/persistent.h"

namespace vcl {

// A component class: its name and how to make one with an owner.
struct TComponentClassInfo {
    std::string Name;
    std::function<TComponent*(TComponent* Owner)> Create;
};
using TComponentClass = const TComponentClassInfo*;

// The class of T (one object per T for the whole program).
template <class T>
TComponentClass ClassOf() {
    static const TComponentClassInfo info{ClassNameOf(typeid(T)),
                                          [](TComponent* Owner) -> TComponent* { return new T(Owner); }};
    return &info;
}

// Registers a class; a class whose name is registered already is left out.
void RegisterClass(TComponentClass Class);
// Takes the class out of the registry, when it is there.
void UnRegisterClass(TComponentClass Class);
// The registered class of that name (case ignored); none when there is none.
TComponentClass GetClass(const std::string& Name);

}  // namespace vcl
