#include "core/script/line_script.h"

#include "core/files/stream.h"
#include "core/script/script_local.h"
#include "core/text/string.h"

using namespace script_detail;

namespace {

WideString WideSlice(const char16_t* text, int32_t length) {
    return WideString(text, length, true);
}

String NarrowSlice(const char16_t* text, int32_t length) {
    return String(WideString(text, length, true));
}

// Wide text, stored narrow with encoding 1; no references, and an empty statement fails.
struct LineDialect {
    using Unit = char16_t;
    static constexpr bool kEmptyFails = true;
    static constexpr bool kReferences = false;
    static String Narrow(const char16_t* text, int32_t length) { return NarrowSlice(text, length); }
};

bool ExecuteLine(ScriptNode* root, const WideString& statement, ScriptNode*& scope,
                 SearchPaths* paths, ScriptContext& context) {
    return ExecuteUnits<LineDialect>(root, statement.Text(), statement.length(), scope, paths,
                                     context);
}

}  // namespace

bool ParseLineScript(Stream* stream, ScriptNode* root, SearchPaths* paths) {
    const int32_t size = stream->Size();
    if (size <= 0) return false;
    char* bytes = new char[size]();
    const bool read = stream->Read(bytes, size) != 0;
    WideString text;
    if (read) text.DecodeFrom(bytes, size, 1);
    delete[] bytes;
    if (!read) return false;

    ScriptContext context;
    ScriptNode* scope = nullptr;
    bool ok = true;
    int32_t position = 0;
    for (;;) {
        const WideString statement = ReadScriptLine(text.Text(), text.length(), position);
        if (statement.length() == 0) break;
        ok = ExecuteLine(root, statement, scope, paths, context) && ok;
    }
    return ok;
}

WideString ReadScriptLine(const char16_t* text, int32_t length, int32_t& position) {
    while (position < length) {
        if (IsLineBreak(text[position])) {
            ++position;
        } else if (text[position] == u';') {
            position = SkipLineFrom(text, length, position);
        } else {
            break;
        }
    }
    const int32_t start = position;
    while (position < length && !IsLineBreak(text[position]) && text[position] != u';') {
        ++position;
    }
    return WideSlice(text + start, position - start);
}

bool ExecuteLineStatement(ScriptNode* root, const WideString& statement, ScriptNode*& scope,
                          SearchPaths* paths) {
    ScriptContext context;
    const bool ok = ExecuteLine(root, statement, scope, paths, context);
    FreeNodes(context.buried, &scope);
    return ok;
}

WideString TrimWide(const WideString& text) {
    int32_t first = 0;
    int32_t last = text.length();
    TrimRange(text.Text(), first, last);
    return WideSlice(text.Text() + first, last - first);
}

void SkipLineWide(const char16_t* text, int32_t length, int32_t& position) {
    position = SkipLineFrom(text, length, position);
}

WideString ExtractGroupWide(const WideString& text, char16_t open, char16_t close) {
    return WideSlice(text.Text(), GroupLength(text.Text(), text.length(), open, close));
}

WideString TakeTokenWide(const WideString& text, const WideString& separator) {
    return WideSlice(text.Text(), TokenLength(text.Text(), text.length(), separator.Text(),
                                              separator.length()));
}

WideString UnquoteWide(const WideString& text, char16_t open, char16_t close) {
    int32_t count = 0;
    if (!UnquotedLength(text.Text(), text.length(), open, close, count)) return text;
    return WideSlice(text.Text() + 1, count);
}

ScriptNode* FindOrCreateNodeWide(ScriptNode* root, const WideString& path, ScriptNode* scope) {
    return FindOrCreatePath(root, path.Text(), path.length(), scope, NarrowSlice);
}
