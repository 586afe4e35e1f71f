#include "platform/vcl/persistent.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/rtl/exceptions.h"

namespace vcl {

void TPersistent::Assign(const TPersistent& Source) { Source.AssignTo(*this); }

void TPersistent::AssignTo(TPersistent& Dest) const {
    throw rtl::EConvertError("Cannot assign a " + ClassName() + " to a " + Dest.ClassName());
}

std::string TPersistent::ClassName() const { return ClassNameOf(typeid(*this)); }

std::string ClassNameOf(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> plain(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                 std::free);
    std::string name = status == 0 && plain ? plain.get() : type.name();
    const auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

}  // namespace vcl
