#include "tools/zwfwrite/zwf_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <limits>
#include <unordered_map>
#include <utility>

namespace rh::zwf {

namespace {

// Types nested deeper than this are taken for a type that contains itself.
constexpr int kMaxTypeDepth = 64;
constexpr int64_t kMaxFileSize = std::numeric_limits<int32_t>::max();

uint64_t NextId() {
    static std::atomic<uint64_t> next{1};
    return next++;
}

void PutInt(Bytes* b, int32_t v) {
    uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i) b->push_back(uint8_t(u >> (8 * i)));
}

void PutString(Bytes* b, std::string_view s) {
    PutInt(b, int32_t(s.size()));
    b->insert(b->end(), s.begin(), s.end());
}

int64_t BasicSize(std::string_view type) { return zwf_format::BasicTypeSize(type.data(), type.size()); }

}  // namespace

// ---- Packer ----

Packer& Packer::Int(int32_t v) {
    PutInt(&bytes_, v);
    return *this;
}

Packer& Packer::Real(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    PutInt(&bytes_, int32_t(u));
    return *this;
}

Packer& Packer::Byte(uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

Packer& Packer::Chars(std::string_view text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
}

Bytes PackTrackKey(float time, float x, float y, float z, float w, float continuity, float tension, float bias) {
    return Packer().Real(time).Real(x).Real(y).Real(z).Real(w).Real(continuity).Real(tension).Real(bias).Take();
}

// ---- TypeTable ----

TypeTable& TypeTable::Add(std::string name, std::vector<Member> members) {
    types_.push_back({std::move(name), std::move(members)});
    return *this;
}

int64_t TypeTable::SizeOf(std::string_view typeName) const { return std::max<int64_t>(SizeOf(typeName, 0), 0); }

// -1 for a type nested too deep (one that contains itself), which poisons every enclosing type.
int64_t TypeTable::SizeOf(std::string_view typeName, int depth) const {
    if (int64_t basic = BasicSize(typeName)) return basic;
    if (depth >= kMaxTypeDepth) return -1;
    // Readers keep the last record of a name.
    for (auto t = types_.rbegin(); t != types_.rend(); ++t) {
        if (t->name != typeName) continue;
        int64_t total = 0;
        for (const Member& m : t->members) {
            int64_t size = SizeOf(m.typeName, depth + 1);
            if (size < 0) return -1;
            total += m.isArray ? size * m.count : size;
            if (total > kMaxFileSize || total < 0) return 0;
        }
        return total;
    }
    return 0;
}

// ---- Node ----

Node Node::Compound(std::string name, std::string typeName) {
    Node n;
    n.name_ = std::move(name);
    n.typeName_ = std::move(typeName);
    n.flags_ = kFlagCompound;
    n.id_ = NextId();
    return n;
}

Node Node::Leaf(std::string name, std::string typeName, rh::zwf::Bytes bytes) {
    Node n;
    n.name_ = std::move(name);
    n.typeName_ = std::move(typeName);
    n.data_ = std::move(bytes);
    n.id_ = NextId();
    return n;
}

Node Node::Int(std::string name, int32_t value) {
    return Leaf(std::move(name), "int", Packer().Int(value).Take());
}

Node Node::Ints(std::string name, const std::vector<int32_t>& values) {
    Packer p;
    for (int32_t v : values) p.Int(v);
    return Leaf(std::move(name), "int", p.Take()).SetArray(int32_t(values.size()));
}

Node Node::Real(std::string name, float value) {
    return Leaf(std::move(name), "real", Packer().Real(value).Take());
}

Node Node::Reals(std::string name, const std::vector<float>& values) {
    Packer p;
    for (float v : values) p.Real(v);
    return Leaf(std::move(name), "real", p.Take()).SetArray(int32_t(values.size()));
}

Node Node::Bytes(std::string name, rh::zwf::Bytes values) {
    int32_t count = int32_t(values.size());
    return Leaf(std::move(name), "byte", std::move(values)).SetArray(count);
}

Node Node::Text(std::string name, std::string_view text) {
    return Leaf(std::move(name), "char", rh::zwf::Bytes(text.begin(), text.end())).SetArray(int32_t(text.size()));
}

Node Node::Structs(std::string name, std::string typeName, int32_t count, rh::zwf::Bytes bytes) {
    return Leaf(std::move(name), std::move(typeName), std::move(bytes)).SetArray(count);
}

Node Node::Link(std::string name, const Node& target) {
    Node n;
    n.name_ = std::move(name);
    n.id_ = NextId();
    n.linkTarget_ = target.isLink() ? target.linkTarget_ : target.id_;
    return n;
}

Node Node::Link(const Node& target) { return Link(target.name_, target); }

Node::Node(const Node& other)
    : name_(other.name_),
      typeName_(other.typeName_),
      flags_(other.flags_),
      arrayCount_(other.arrayCount_),
      data_(other.data_),
      children_(other.children_),
      id_(other.id_),
      linkTarget_(other.linkTarget_) {}

Node& Node::operator=(const Node& other) {
    if (this != &other) *this = Node(other);
    return *this;
}

Node& Node::operator=(Node&& other) noexcept {
    if (this == &other) return *this;
    // Hand the old subtree to a temporary so that it goes through the iterative destructor.
    Node old;
    old.children_ = std::move(children_);
    name_ = std::move(other.name_);
    typeName_ = std::move(other.typeName_);
    flags_ = other.flags_;
    arrayCount_ = other.arrayCount_;
    data_ = std::move(other.data_);
    children_ = std::move(other.children_);
    id_ = other.id_;
    linkTarget_ = other.linkTarget_;
    return *this;
}

Node::~Node() {
    if (children_.empty()) return;
    // Detach every descendant onto a work list before it is destroyed, so that destroying a
    // node never recurses into a subtree.
    std::vector<Node> work = std::move(children_);
    children_.clear();
    while (!work.empty()) {
        Node n = std::move(work.back());
        work.pop_back();
        for (Node& c : n.children_) work.push_back(std::move(c));
        n.children_.clear();
    }
}

Node& Node::AddChild(Node child) {
    if (!isCompound() || isLink()) throw WriteError("\"" + name_ + "\" is not a compound: it cannot take children");
    children_.push_back(std::move(child));
    return children_.back();
}

Node& Node::With(Node child) {
    AddChild(std::move(child));
    return *this;
}

Node& Node::SetArray(int32_t count) {
    flags_ |= kFlagArray;
    arrayCount_ = count;
    return *this;
}

Node* Node::Find(std::string_view childName) {
    for (Node& c : children_)
        if (c.name_ == childName) return &c;
    return nullptr;
}

const Node* Node::Find(std::string_view childName) const { return const_cast<Node*>(this)->Find(childName); }

// ---- Write ----

namespace {

constexpr size_t kNone = size_t(-1);

struct Item {
    const Node* node = nullptr;
    size_t parent = kNone;
    size_t target = kNone;  // for a link: the item it shares
    std::vector<size_t> kids;
    int64_t size = 0;
    int64_t dirSize = 0;
};

class Layout {
public:
    Layout(const Node& root, const TypeTable& types, const WriteOptions& options)
        : types_(types), options_(options) {
        if (!root.isCompound() || root.isLink()) throw WriteError("the root must be a compound");
        Flatten(root);
        ResolveLinks();
        Check();
        MeasureBlocks();
    }

    Bytes Emit() const {
        Bytes out;
        PutInt(&out, 0);  // file size, filled in at the end
        PutString(&out, kMagic);
        PutInt(&out, int32_t(types_.types().size()));
        for (const StructType& t : types_.types()) {
            PutString(&out, t.name);
            PutInt(&out, int32_t(t.members.size()));
            for (const Member& m : t.members) {
                PutString(&out, m.name);
                PutString(&out, m.typeName);
                out.push_back(m.isArray ? 1 : 0);
                if (m.isArray) PutInt(&out, m.count);
            }
        }
        int64_t rootOffset = int64_t(out.size()) + 4;
        int64_t total = rootOffset + items_[0].size;
        if (total > kMaxFileSize) throw WriteError("the file would reach 2 GB");
        PutInt(&out, int32_t(items_[0].size + options_.rootSizeSlack));
        out.reserve(size_t(total));
        uint32_t fileSize = uint32_t(total);
        for (int i = 0; i < 4; ++i) out[size_t(i)] = uint8_t(fileSize >> (8 * i));

        // Offsets: forward over the items, parents come before their children.
        std::vector<int64_t> offsets(items_.size());
        offsets[0] = rootOffset;
        for (size_t i = 0; i < items_.size(); ++i) {
            const Item& it = items_[i];
            if (!it.node->isCompound() || it.node->isLink()) continue;
            int64_t cursor = offsets[i] + it.dirSize;
            for (size_t k : it.kids) {
                const Item& kid = items_[k];
                if (kid.node->isLink()) continue;
                if (kid.size == 0) {
                    offsets[k] = offsets[i] + zwf_format::kChildCountAt;
                } else {
                    offsets[k] = cursor;
                    cursor += kid.size;
                }
            }
        }

        // Blocks lie in the file in item order (depth-first pre-order), so they are appended.
        for (size_t i = 0; i < items_.size(); ++i) {
            const Item& it = items_[i];
            const Node& n = *it.node;
            if (n.isLink() || it.size == 0) continue;
            if (int64_t(out.size()) != offsets[i]) throw std::logic_error("zwf layout: a block is out of place");
            if (!n.isCompound()) {
                out.insert(out.end(), n.data().begin(), n.data().end());
                continue;
            }
            PutInt(&out, int32_t(it.dirSize));
            PutInt(&out, int32_t(it.kids.size()));
            for (size_t k : it.kids) {
                const Item& kid = items_[k];
                size_t shown = kid.node->isLink() ? kid.target : k;
                const Node& s = *items_[shown].node;
                PutString(&out, kid.node->name());
                PutString(&out, s.typeName());
                out.push_back(uint8_t(s.flags() | (kid.node->isLink() ? kFlagLink : 0)));
                if (s.isArray()) PutInt(&out, s.arrayCount());
                PutInt(&out, int32_t(offsets[shown]));
                PutInt(&out, int32_t(items_[shown].size));
            }
        }
        if (int64_t(out.size()) != total) throw std::logic_error("zwf layout: the file size is off");
        return out;
    }

private:
    // Depth-first pre-order, children in entry order, without recursion.
    void Flatten(const Node& root) {
        std::vector<std::pair<const Node*, size_t>> stack{{&root, kNone}};
        while (!stack.empty()) {
            auto [node, parent] = stack.back();
            stack.pop_back();
            size_t index = items_.size();
            items_.push_back({});
            items_.back().node = node;
            items_.back().parent = parent;
            if (parent != kNone) items_[parent].kids.push_back(index);
            if (node->isLink()) continue;
            const auto& kids = node->children();
            for (auto c = kids.rbegin(); c != kids.rend(); ++c) stack.push_back({&*c, index});
        }
    }

    void ResolveLinks() {
        std::unordered_map<uint64_t, size_t> first;
        for (size_t i = 0; i < items_.size(); ++i)
            if (!items_[i].node->isLink()) first.emplace(items_[i].node->id(), i);
        for (size_t i = 0; i < items_.size(); ++i) {
            if (!items_[i].node->isLink()) continue;
            auto found = first.find(items_[i].node->linkTarget());
            if (found == first.end()) throw WriteError("link " + PathOf(i) + ": its target is not in the tree");
            items_[i].target = found->second;
        }
    }

    void Check() const {
        for (size_t i = 0; i < items_.size(); ++i) {
            const Node& n = *items_[i].node;
            if (n.isLink()) continue;
            if (n.isArray() && n.arrayCount() < 0) throw WriteError(PathOf(i) + ": negative array count");
            if (!options_.checkSizes || n.isCompound()) continue;
            int64_t element = types_.SizeOf(n.typeName());
            if (element == 0) continue;
            bool basic = BasicSize(n.typeName()) != 0;
            if (!n.isArray() && basic) continue;
            int64_t expected = n.isArray() ? element * n.arrayCount() : element;
            if (expected != int64_t(n.data().size()))
                throw WriteError(PathOf(i) + ": " + std::to_string(n.data().size()) + " bytes where type \"" +
                                 n.typeName() + "\" needs " + std::to_string(expected));
        }
    }

    // Sizes bottom-up: in reverse pre-order every child comes before its parent.
    void MeasureBlocks() {
        std::vector<int64_t> entries(items_.size(), 0), blocks(items_.size(), 0);
        for (size_t i = items_.size(); i-- > 0;) {
            Item& it = items_[i];
            const Node& n = *it.node;
            if (!n.isLink()) {
                if (n.isCompound()) {
                    it.dirSize = zwf_format::kDirectoryHeaderBytes + entries[i];
                    it.size = it.dirSize + blocks[i];
                } else {
                    it.size = int64_t(n.data().size());
                }
                if (it.size > kMaxFileSize) throw WriteError(PathOf(i) + ": the block would reach 2 GB");
            }
            if (it.parent == kNone) continue;
            const Node& shown = *items_[n.isLink() ? it.target : i].node;
            entries[it.parent] += zwf_format::EntryBytes(int64_t(n.name().size()),
                                                         int64_t(shown.typeName().size()), shown.isArray());
            if (!n.isLink()) blocks[it.parent] += it.size;
        }
    }

    std::string PathOf(size_t i) const {
        std::string path;
        for (; i != kNone && items_[i].parent != kNone; i = items_[i].parent)
            path = "/" + items_[i].node->name() + path;
        return path.empty() ? "/" : path;
    }

    const TypeTable& types_;
    const WriteOptions& options_;
    std::vector<Item> items_;
};

}  // namespace

Bytes Write(const Node& root, const TypeTable& types, const WriteOptions& options) {
    return Layout(root, types, options).Emit();
}

bool WriteFile(const std::string& path, const Node& root, const TypeTable& types, const WriteOptions& options,
               std::string* error) {
    Bytes bytes;
    try {
        bytes = Write(root, types, options);
    } catch (const WriteError& e) {
        *error = e.what();
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        *error = "cannot create " + path;
        return false;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace rh::zwf
