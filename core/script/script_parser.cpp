#include "core/script/script_parser.h"

#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "core/files/stream.h"
#include "core/script/script_local.h"

#include <cstring>

using namespace script_detail;

namespace {

// Collects a statement's bytes in a doubling block that the result String adopts.
class ByteBuilder {
public:
    ByteBuilder() = default;
    ByteBuilder(const ByteBuilder&) = delete;
    ByteBuilder& operator=(const ByteBuilder&) = delete;
    ~ByteBuilder() { delete[] block_; }

    void Push(char c) {
        if (count_ + 1 >= capacity_) {  // room for the terminator too
            const int32_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
            char* block = new char[capacity];
            if (count_ > 0) std::memcpy(block, block_, static_cast<size_t>(count_));
            delete[] block_;
            block_ = block;
            capacity_ = capacity;
        }
        block_[count_++] = c;
    }
    void PopBack() {
        if (count_ > 0) --count_;
    }
    String Take() {
        if (count_ == 0) return String();
        block_[count_] = 0;
        String result(block_, count_, false);
        block_ = nullptr;
        count_ = capacity_ = 0;
        return result;
    }

private:
    char* block_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

String Slice(const char* text, int32_t length) { return String(text, length, true); }

// Bytes as they are; values that are neither groups, quoted texts nor numbers are references.
struct FreeFormDialect {
    using Unit = char;
    static constexpr bool kEmptyFails = false;
    static constexpr bool kReferences = true;

    static String Narrow(const char* text, int32_t length) { return Slice(text, length); }
    static bool IsNumber(const char* text, int32_t length) {
        return ::IsNumber(Slice(text, length));
    }

    // Target becomes a copy of the node at path (from the root, made when missing) as it
    // stood before this assignment, within the parse's copy budgets.
    static bool AssignReference(ScriptNode* root, ScriptNode* target, const char* path,
                                int32_t length, ScriptContext& context) {
        const ScriptNode* source = FindOrCreatePath(root, path, length, nullptr, Slice);
        const CopyCost cost = MeasureCopy(source, context.copyBudget, context.copyByteBudget);
        if (cost.nodes > context.copyBudget || cost.bytes > context.copyByteBudget) {
            // With no nodes left, every later copy of a node with children is refused after
            // one step of the walk; copies of a bare value still go on within the bytes left.
            context.copyBudget = 0;
            context.ResetChildren(target);
            target->kind = ScriptNode::kText;
            target->value = String();
            return false;
        }
        context.copyBudget -= cost.nodes;
        context.copyByteBudget -= cost.bytes;
        NodeStack copies;
        CopyChildren(*source, copies);
        const int32_t kind = source->kind;
        const int32_t nextIndex = source->nextIndex;
        const String value = source->value;
        context.ResetChildren(target);
        AdoptChildren(target, copies);
        target->kind = kind;
        target->nextIndex = nextIndex;
        target->value = value;
        return true;
    }
};

bool Execute(ScriptNode* root, const String& statement, ScriptNode*& scope, SearchPaths* paths,
             ScriptContext& context) {
    return ExecuteUnits<FreeFormDialect>(root, statement.Text(), statement.length(), scope, paths,
                                         context);
}

}  // namespace

namespace script_detail {

Stream* OpenIncludeStream(const String& fileName, SearchPaths* paths) {
    if (fileName.length() == 0) return nullptr;
    FileRef ref(fileName);
    if (paths != nullptr) paths->ResolveFile(ref);
    return ref.OpenFile(1);
}

bool ParseIncluded(Stream* stream, ScriptNode* root, SearchPaths* paths, ScriptContext& context) {
    bool ok = false;
    // A file that includes itself (directly or through others) stops here.
    if (context.includeDepth < kMaxIncludeDepth) {
        ++context.includeDepth;
        ok = ParseScriptIn(stream, root, paths, context);
        --context.includeDepth;
    }
    delete stream;
    return ok;
}

String NextAutoKey(ScriptNode* scope) {
    for (;;) {
        String key(scope->nextIndex++, 10);
        if (scope->FindNode(key) == nullptr) return key;
    }
}

bool ParseScriptIn(Stream* stream, ScriptNode* root, SearchPaths* paths, ScriptContext& context) {
    const int32_t size = stream->Size();
    if (size <= 0) return false;
    // Zeroed, so a stream that delivers fewer bytes than it announced leaves no garbage.
    char* bytes = new char[size]();
    if (stream->Read(bytes, size) == 0) {
        delete[] bytes;
        return false;
    }
    ScriptNode* scope = nullptr;
    bool ok = true;
    int32_t position = 0;
    while (position < size) {
        const String statement = ReadStatement(bytes, size, position);
        // An empty statement (";;") is skipped: ending the parse there would silently drop the
        // rest of the file.
        if (statement.length() == 0) continue;
        ok = Execute(root, statement, scope, paths, context) && ok;
    }
    delete[] bytes;
    return ok;
}

}  // namespace script_detail

bool ParseScript(Stream* stream, ScriptNode* root, SearchPaths* paths) {
    ScriptContext context;
    return ParseScriptIn(stream, root, paths, context);
}

String ReadStatement(const char* text, int32_t length, int32_t& position) {
    ByteBuilder statement;
    int previous = -1;  // none
    bool inDouble = false;
    bool inSingle = false;
    while (position < length) {
        const char c = text[position];
        if (c == '/' && previous == '/') {
            // A comment, even inside quotes: the first '/' is taken back.
            statement.PopBack();
            SkipLine(text, length, position);
            previous = -1;
            continue;
        }
        ++position;
        // Line breaks vanish without a trace: a statement may run over several lines.
        if (c == '\n' || c == '\r') continue;
        if (c == ';' && !inDouble && !inSingle) break;
        if (c == '"' && previous != '\\' && !inSingle) inDouble = !inDouble;
        if (c == '\'' && previous != '\\' && !inDouble) inSingle = !inSingle;
        statement.Push(c);
        previous = static_cast<unsigned char>(c);
    }
    return statement.Take();
}

bool ExecuteStatement(ScriptNode* root, const String& statement, ScriptNode*& scope,
                      SearchPaths* paths) {
    ScriptContext context;
    const bool ok = Execute(root, statement, scope, paths, context);
    FreeNodes(context.buried, &scope);
    return ok;
}

ScriptNode* FindOrCreateNode(ScriptNode* root, const String& path, ScriptNode* scope) {
    return FindOrCreatePath(root, path.Text(), path.length(), scope, Slice);
}

String TakeToken(const String& text, const String& separator) {
    return Slice(text.Text(), TokenLength(text.Text(), text.length(), separator.Text(),
                                          separator.length()));
}

String ExtractGroup(const String& text, char open, char close) {
    return Slice(text.Text(), GroupLength(text.Text(), text.length(), open, close));
}

String Unquote(const String& text, char open, char close) {
    int32_t count = 0;
    if (!UnquotedLength(text.Text(), text.length(), open, close, count)) return text;
    return Slice(text.Text() + 1, count);
}

void SkipLine(const char* text, int32_t length, int32_t& position) {
    position = SkipLineFrom(text, length, position);
}
