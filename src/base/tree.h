#pragma once
// Generic tree node: owned, ordered children and a parent reference.
// Derived classes add their payload.
#include <cstddef>
#include <utility>
#include <vector>

class TTree {
public:
    // A node created with a parent appends itself to the parent's children
    // and is owned by it from then on.
    explicit TTree(TTree* parent = nullptr);
    virtual ~TTree();

    TTree(const TTree&) = delete;
    TTree& operator=(const TTree&) = delete;

    // Creates a node of type T as the last child of parent; the parent owns it.
    template <class T, class... Args>
    static T* Make(TTree* parent, Args&&... args) {
        return new T(parent, std::forward<Args>(args)...);
    }

    int Count() const { return static_cast<int>(children_.size()); }
    TTree* Child(int index) const { return children_.at(static_cast<std::size_t>(index)); }
    const std::vector<TTree*>& Children() const { return children_; }
    TTree* Parent() const { return parent_; }
    void SetParent(TTree* parent) { parent_ = parent; }

    // Appends child without changing its parent reference.
    void Add(TTree* child);
    // Takes the child out of the list without destroying it and clears its
    // parent reference. Raises Exception("TTree:" + Translate("Delete error"))
    // for an index at or beyond Count().
    TTree* Remove(int index);
    // Remove, then destroy the child.
    void Delete(int index);
    // Destroys all children, the last one first.
    void Clear();
    int IndexOf(const TTree* child) const;

private:
    std::vector<TTree*> children_;
    TTree* parent_ = nullptr;
};
