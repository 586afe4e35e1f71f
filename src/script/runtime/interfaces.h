#pragma once
// What Class and Interface values refer to. The runtime creates none of
// these: hosts hand them in (a host function returning an object or an
// interface), and the runtime only keeps the references counted and asks
// objects for interfaces.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace script::runtime {

class Variant;
class TPSHostRoutine;

// An interface identity, the 16 bytes that an image writes for an interface
// type.
struct TPSGuid {
    std::array<std::uint8_t, 16> Bytes{};
    friend bool operator==(const TPSGuid&, const TPSGuid&) = default;
};

// An Interface value (base 26) refers to one of these, holding one
// reference of it.
class IPSInterface {
public:
    virtual void AddRef() noexcept = 0;
    virtual void Release() noexcept = 0;
    // The routine at a slot of the interface's method table, as scripts
    // call it (slots 0-2 are the reference counting that every interface
    // has; host_calls.h makes routines of methods); nil when there is no
    // such method.
    virtual const TPSHostRoutine* MethodAt(std::uint32_t /*slot*/) { return nullptr; }

protected:
    ~IPSInterface() = default;
};

// The dispatch interface a Variant can hold: members called by name. A
// script reaches it through IDispatchInvoke.
class IPSDispatch : public IPSInterface {
public:
    // The member's id, or false when the object has no member of that name.
    virtual bool GetMemberId(std::string_view name, std::int32_t& id) = 0;
    // Calls member id (0: the default member) as a method or property get,
    // or as a property put of the last argument. Arguments are the caller's
    // own Variants, which the member may change.
    virtual Variant Invoke(std::int32_t id, bool property_put, std::vector<Variant>& args) = 0;

protected:
    ~IPSDispatch() = default;
};

// A Class value (base 25) refers to one of these, or is nil; class values
// hold no reference.
class IPSObject {
public:
    // A new reference to the object's interface with that identity, or nil
    // when it has none.
    virtual IPSInterface* GetInterface(const TPSGuid& guid) = 0;

protected:
    ~IPSObject() = default;
};

}  // namespace script::runtime
