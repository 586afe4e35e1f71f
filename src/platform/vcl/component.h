#pragma once
// Components with owners: an owner frees the components it owns when it is
// destroyed, and components that asked for free notification learn when
// another component goes away. This is the one place where objects are
// created with `new` and owned through raw pointers: ownership follows the
// owner chain, as the forms and their controls expect.
#include <cstdint>
#include <utility>
#include <string>
#include <vector>

namespace vcl {

enum class TOperation { opInsert, opRemove };

enum TComponentStateFlag : std::uint32_t {
    csLoading = 1u << 0,
    csDesigning = 1u << 1,
    csDestroying = 1u << 2,
};

class TComponent {
public:
    explicit TComponent(TComponent* AOwner);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
    TComponent* FindComponent(const std::string& name) const;

    // Frees a component through its owner chain; null is fine.
    static void Free(TComponent* component);
    // Ownership handed on: child joins this owner's components (and is
    // freed with it), or leaves them (and is no longer). A component moved
    // between owners leaves the one and then joins the other.
    void InsertComponent(TComponent* child);
    void RemoveComponent(TComponent* child);

    // Ask to be told (through Notification with opRemove) when AComponent is
    // destroyed; AComponent is told of this one's end as well. Removing the
    // link removes it both ways.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    std::uint32_t ComponentState() const { return state_; }
    bool Designing() const { return (state_ & csDesigning) != 0; }
    bool Destroying() const { return (state_ & csDestroying) != 0; }

    std::string Name;
    std::intptr_t Tag = 0;

protected:
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Called on the whole object just before it is destroyed by Free or by
    // its owner (the object is marked destroying first): overrides of the
    // most derived class still run here, which a destructor cannot offer.
    virtual void BeforeDestruction();
    void SetComponentState(std::uint32_t state) { state_ = state; }

private:
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> notify_;
    std::uint32_t state_ = 0;
};

// Creates a component of type T owned by owner (which frees it).
template <class T, class... Args>
T* Create(TComponent* owner, Args&&... args) {
    return new T(owner, std::forward<Args>(args)...);
}

// For a component held without an owner: frees it as Free does.
struct TComponentDeleter {
    void operator()(TComponent* component) const { TComponent::Free(component); }
};

}  // namespace vcl
