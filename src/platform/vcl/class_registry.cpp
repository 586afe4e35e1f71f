#include "platform/vcl/class_registry.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/strings.h"

namespace vcl {

namespace {

std::vector<TComponentClass>& Registry() {
    static std::vector<TComponentClass> classes;
    return classes;
}

}  // namespace

void RegisterClass(TComponentClass Class) {
    if (Class && !GetClass(Class->Name)) Registry().push_back(Class);
}

void UnRegisterClass(TComponentClass Class) {
    auto& classes = Registry();
    classes.erase(std::remove(classes.begin(), classes.end(), Class), classes.end());
}

TComponentClass GetClass(const std::string& Name) {
    const std::string wanted = rtl::UpperCase(Name);
    for (TComponentClass c : Registry())
        if (rtl::UpperCase(c->Name) == wanted) return c;
    return nullptr;
}

}  // namespace vcl
