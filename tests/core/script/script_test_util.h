// Helpers for the script tests: parse a text from memory, and write a tree as one line that a
// table row can compare against.
#pragma once

#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "core/script/line_script.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class SearchPaths;

namespace script_test {

inline bool Parse(const std::string& text, ScriptNode& root, SearchPaths* paths = nullptr) {
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    return ParseScript(&stream, &root, paths);
}

inline bool ParseLines(const std::string& text, ScriptNode& root, SearchPaths* paths = nullptr) {
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    return ParseLineScript(&stream, &root, paths);
}

inline std::string Str(const String& s) { return std::string(s.Text(), s.length()); }

// The children of node, in list order, space-separated; each as
//   name[#o|#a]['=' 'value'][{children}]
// (#o object, #a array; no mark for text). A child whose own name differs from its key
// shows as !key/name! so a broken copy cannot pass.
inline std::string Dump(const ScriptNode& node) {
    std::string out;
    const ScriptNode::Node* entry = node.first();
    for (int32_t i = 0; i < node.count(); ++i, entry = entry->next) {
        const ScriptNode& child = *entry->value;
        if (!out.empty()) out += ' ';
        if (Str(entry->key) != Str(child.name)) {
            out += "!" + Str(entry->key) + "/" + Str(child.name) + "!";
        } else {
            out += Str(child.name);
        }
        if (child.kind == ScriptNode::kObject) out += "#o";
        if (child.kind == ScriptNode::kArray) out += "#a";
        if (child.kind != ScriptNode::kText && child.kind != ScriptNode::kObject &&
            child.kind != ScriptNode::kArray) {
            out += "#?";
        }
        if (child.value.length() > 0) out += "='" + Str(child.value) + "'";
        if (child.count() > 0) out += "{" + Dump(child) + "}";
    }
    return out;
}

// The number of nodes below node and the depth of the deepest one, walked with an explicit
// stack so that trees a hundred thousand levels deep can be measured.
inline void Measure(const ScriptNode& node, int64_t& count, int64_t& depth) {
    count = 0;
    depth = 0;
    std::vector<std::pair<const ScriptNode*, int64_t>> work{{&node, 0}};
    while (!work.empty()) {
        const auto [at, level] = work.back();
        work.pop_back();
        if (level > depth) depth = level;
        const ScriptNode::Node* entry = at->first();
        for (int32_t i = 0; i < at->count(); ++i, entry = entry->next) {
            ++count;
            work.emplace_back(entry->value, level + 1);
        }
    }
}

// Runs work on a thread with a 512 KB stack and answers whether it could be started. Trees tens
// of thousands of levels deep, handled there, leave under twenty bytes of stack per level:
// any walk that recursed once per level would overflow it.
inline bool RunOnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 << 10);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    const bool started =
        pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)) == 0;
    pthread_attr_destroy(&attributes);
    if (started) pthread_join(thread, nullptr);
    return started;
}

// A fresh scratch folder on the search paths, for include statements.
class IncludeDirTest : public testing::Test {
protected:
    void SetUp() override { paths_.Add(FileRef(dir_.c_str())); }
    void Write(const std::string& name, const std::string& text) { scratch_.Write(name, text); }

    rh::testing::ScratchDir scratch_{"rh_script"};
    std::string dir_ = scratch_.path();
    SearchPaths paths_;
};

}  // namespace script_test
