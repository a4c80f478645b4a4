// A mounted archive for tests: a fixed set of members, and a log of the names it was asked.
#pragma once

#include "core/files/file_source.h"
#include "core/files/mem_stream.h"

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

class FakeSource : public FileSource {
public:
    using Members = std::initializer_list<std::pair<const std::string, std::string>>;
    explicit FakeSource(Members members) : members_(members) {}
    FakeSource(const FakeSource&) = delete;
    FakeSource& operator=(const FakeSource&) = delete;

    bool Mount(const FileRef&) override { return true; }
    bool Exists(String name) override {
        asked.emplace_back(name.Text());
        return members_.count(name.Text()) != 0;
    }
    Stream* Open(String name, int mode) override {
        auto found = members_.find(name.Text());
        if (found == members_.end()) return nullptr;
        MemStream* stream = new MemStream;
        stream->Open(name, mode);
        stream->ShowData(found->second.data(), static_cast<int32_t>(found->second.size()), false);
        return stream;
    }

    std::vector<std::string> asked;

private:
    std::map<std::string, std::string> members_;
};
