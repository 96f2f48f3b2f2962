#include "base/tree.h"

#include <algorithm>
#include <unordered_set>

#include "base/exceptions.h"
#include "base/language.h"

TTree::TTree(TTree* parent) : parent_(parent) {
    if (parent_) parent_->children_.push_back(this);
}

TTree::~TTree() {
    if (parent_) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    Clear();
}

void TTree::Add(TTree* child) { children_.push_back(child); }

TTree* TTree::Remove(int index) {
    if (index < 0 || index >= Count()) throw Exception("TTree:" + Translate("Delete error"));
    TTree* child = children_[static_cast<std::size_t>(index)];
    children_.erase(children_.begin() + index);
    child->parent_ = nullptr;
    return child;
}

void TTree::Delete(int index) { delete Remove(index); }

void TTree::Clear() {
    // Detach the whole list first so each destruction does not search it
    // again; a child held twice is destroyed once.
    std::vector<TTree*> children;
    children.swap(children_);
    std::unordered_set<TTree*> destroyed;
    destroyed.reserve(children.size());
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        TTree* child = *it;
        if (!destroyed.insert(child).second) continue;
        child->parent_ = nullptr;
        delete child;
    }
}

int TTree::IndexOf(const TTree* child) const {
    auto it = std::find(children_.begin(), children_.end(), child);
    return it == children_.end() ? -1 : static_cast<int>(it - children_.begin());
}
