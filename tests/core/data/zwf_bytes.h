// Builds small binary data files byte by byte, little-endian, so that each fixture reads as
// the layout it has. Offsets that are known only later (a child's block, a block's size) are
// written as placeholders and patched.
#pragma once

#include <climits>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class ZwfBytes {
public:
    static constexpr int32_t kNotArray = INT32_MIN;
    struct Member {
        std::string name;
        std::string type;
        int32_t arrayCount = kNotArray;
    };
    struct Type {
        std::string name;
        std::vector<Member> members;
    };

    ZwfBytes& Int(int32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(char(uint32_t(v) >> (8 * i)));
        return *this;
    }
    ZwfBytes& Byte(uint8_t v) {
        bytes.push_back(char(v));
        return *this;
    }
    ZwfBytes& Text(const std::string& text) {
        Int(int32_t(text.size()));
        bytes += text;
        return *this;
    }
    ZwfBytes& Raw(const std::string& raw) {
        bytes += raw;
        return *this;
    }
    int32_t Pos() const { return int32_t(bytes.size()); }
    void PatchInt(int32_t at, int32_t v) {
        for (int i = 0; i < 4; ++i) bytes[size_t(at + i)] = char(uint32_t(v) >> (8 * i));
    }
    int32_t IntAt(int32_t at) const {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(bytes[size_t(at + i)])) << (8 * i);
        return int32_t(v);
    }

    // File size (patched by Finish), magic, the type table and a root-size placeholder.
    // Answers the position of the root size; the root block starts 4 bytes later.
    int32_t Header(const std::vector<Type>& types = {},
                   const std::string& magic = "ZWF Binary 1.0") {
        Int(0).Text(magic).Int(int32_t(types.size()));
        for (const Type& type : types) {
            Text(type.name).Int(int32_t(type.members.size()));
            for (const Member& m : type.members) {
                const bool isArray = m.arrayCount != kNotArray;
                Text(m.name).Text(m.type).Byte(isArray ? 1 : 0);
                if (isArray) Int(m.arrayCount);
            }
        }
        const int32_t rootSizeAt = Pos();
        Int(0);
        return rootSizeAt;
    }
    // A directory header: size placeholder (patched by EndDirectory) and child count.
    int32_t Directory(int32_t count) {
        const int32_t start = Pos();
        Int(0).Int(count);
        return start;
    }
    void EndDirectory(int32_t start) { PatchInt(start, Pos() - start); }
    // A directory entry with offset and size placeholders; answers the offset field's position.
    int32_t Entry(const std::string& name, const std::string& type, uint8_t flags,
                  int32_t arrayCount = 0) {
        Text(name).Text(type).Byte(flags);
        if (flags & 1) Int(arrayCount);
        const int32_t at = Pos();
        Int(0).Int(0);
        return at;
    }
    void Place(int32_t entry, int32_t offset, int32_t size) {
        PatchInt(entry, offset);
        PatchInt(entry + 4, size);
    }
    // The entry's block starts here: a leaf's bytes.
    void Leaf(int32_t entry, const std::string& data) {
        Place(entry, Pos(), int32_t(data.size()));
        bytes += data;
    }
    // A compound block starts here; EndBlock patches its size.
    int32_t BeginBlock(int32_t entry) {
        PatchInt(entry, Pos());
        return Pos();
    }
    void EndBlock(int32_t entry, int32_t start) { PatchInt(entry + 4, Pos() - start); }
    void Finish() { PatchInt(0, Pos()); }

    std::string bytes;
};

// Little-endian bytes of ints, as a leaf's data.
inline std::string IntBytes(std::initializer_list<int32_t> values) {
    ZwfBytes b;
    for (int32_t v : values) b.Int(v);
    return b.bytes;
}
