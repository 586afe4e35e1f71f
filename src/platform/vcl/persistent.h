#pragma once
// The base of objects whose settings can be copied into another of their
// kind (pens, fonts, pictures, the chart's settings objects).
#include <string>
#include <typeinfo>

namespace vcl {

class TPersistent {
public:
    virtual ~TPersistent() = default;
    // Copies the settings of Source. The base asks Source to copy itself
    // into this object (AssignTo); a pair that does not fit raises
    // EConvertError "Cannot assign a <source class> to a <this class>".
    virtual void Assign(const TPersistent& Source);
    // The class name without namespaces ("TPen").
    std::string ClassName() const;

protected:
    TPersistent() = default;
    TPersistent(const TPersistent&) = default;
    TPersistent& operator=(const TPersistent&) = default;
    virtual void AssignTo(TPersistent& Dest) const;
};

// The name of a class without namespaces ("TPen").
std::string ClassNameOf(const std::type_info& type);

}  // namespace vcl
