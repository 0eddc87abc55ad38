#pragma once
// Components with an owner: the owner destroys what it owns, and a component destroyed first leaves its
// owner's list, so nothing is destroyed twice.
#include <string>
#include <vector>

namespace zal {

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const noexcept { return FOwner; }
    const std::string& Name() const noexcept { return FName; }
    void SetName(std::string name) { FName = std::move(name); }
    int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(static_cast<size_t>(index)); }

protected:
    // Destroys the owned components, the last created first.
    void DestroyComponents();

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
    std::string FName;
};

} // namespace zal
