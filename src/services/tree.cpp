#include "services/tree.h"

#include <algorithm>

#include "services/exceptions.h"
#include "services/language.h"

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
    // Destroying a child removes every occurrence of it from this list, so a
    // child that was added twice is destroyed once.
    while (!children_.empty()) {
        TTree* last = children_.back();
        if (last->parent_ != this) {
            // Held without being owned through the parent link: take every
            // occurrence out first so the destructor cannot miss one.
            children_.erase(std::remove(children_.begin(), children_.end(), last), children_.end());
            last->parent_ = nullptr;
        }
        delete last;
    }
}

int TTree::IndexOf(const TTree* child) const {
    auto it = std::find(children_.begin(), children_.end(), child);
    return it == children_.end() ? -1 : static_cast<int>(it - children_.begin());
}
