#include "core/data/data_node.h"

#include "core/data/data_reader.h"

#include <cstring>

DataNode::~DataNode() {
    if (!dataTaken_ && !dataBorrowed_) delete[] data_;
}

bool DataNode::Load(int32_t loadFlags, int32_t expandFlags) {
    if (reader_ == nullptr) return false;
    return reader_->LoadNode(this, loadFlags, expandFlags);
}

DataNode* DataNode::FindChild(const String& name) const {
    const DataNodeMap::Node* node = children_.FindNode(name);
    return node != nullptr ? node->value : nullptr;
}

bool DataNode::CopyChildData(const String& name, void* buffer, int32_t n) const {
    const DataNode* child = FindChild(name);
    return child != nullptr && child->CopyData(buffer, n);
}

String DataNode::DataAsString() const {
    if (data_ == nullptr || size_ <= 0) return String();
    return String(data_, size_, true);
}

bool DataNode::CopyData(void* buffer, int32_t n) const {
    if (data_ == nullptr) return false;
    const int32_t count = n < size_ ? n : size_;
    if (count > 0) std::memcpy(buffer, data_, static_cast<size_t>(count));
    return true;
}

void DataNode::AddChild(DataNode* child, bool link) {
    nodeFlags_ |= kDataNodeCompound;
    // New names go after the last entry, so the list keeps the order of the calls.
    if (children_.count() > 0) children_.SetCursor(children_.first()->prev);
    children_.Insert(child->nodeName_, child, 1);
    if (linkFlags_.count() > 0) linkFlags_.SetCursor(linkFlags_.first()->prev);
    linkFlags_.Insert(child->nodeName_, link ? 1 : 0, 1);
}

bool DataNode::IsLinkChild(const DataNode* child) const {
    return child != nullptr && linkFlags_.ValueRef(child->nodeName_) != 0;
}
