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

int32_t FindUnit(const WideString& text, char16_t unit) {
    for (int32_t i = 0; i < text.length(); ++i) {
        if (text.data()[i] == unit) return i;
    }
    return -1;
}

// The index of the first occurrence of needle (ASCII) in text, or -1.
int32_t FindText(const char16_t* text, int32_t length, const char* needle, int32_t needleLength) {
    for (int32_t i = 0; i + needleLength <= length; ++i) {
        if (StartsWith(text + i, length - i, needle, needleLength)) return i;
    }
    return -1;
}

bool ExecuteLine(ScriptNode* root, const WideString& statement, ScriptNode*& scope,
                 SearchPaths* paths, ScriptContext& context);

// Runs the elements of an array(...)/object(...) value as line statements with target as
// scope. An empty element answers false and appends nothing.
bool RunLineElements(ScriptNode* root, ScriptNode* target, const WideString& value,
                     SearchPaths* paths, ScriptContext& context) {
    const int32_t open = FindUnit(value, u'(');
    if (open < 0) return true;
    const WideString inner = TrimWide(value.Mid(open + 1, value.length() - 2));
    ScriptNode* scope = target;
    return ForEachElement(inner.Text(), inner.length(), context,
                          [&](const char16_t* element, int32_t n) {
                              return ExecuteLine(root, WideSlice(element, n), scope, paths,
                                                 context);
                          });
}

bool ExecuteLine(ScriptNode* root, const WideString& statement, ScriptNode*& scope,
                 SearchPaths* paths, ScriptContext& context) {
    const WideString s = TrimWide(statement);
    const char16_t* text = s.Text();
    const int32_t length = s.length();
    if (length == 0) return false;
    if (StartsWith(text, length, "using", 5)) {
        const WideString path = TrimWide(s.Mid(5, -1));
        if (path.length() == 0) {
            scope = nullptr;
        } else {
            scope = FindOrCreateNodeWide(root, path, nullptr);
            scope->kind = ScriptNode::kObject;
        }
        return true;
    }
    if (StartsWith(text, length, "include", 7)) {
        const WideString inner = TrimWide(s.Mid(FindUnit(s, u'(') + 1, FindUnit(s, u')') - 1));
        const String fileName(UnquoteWide(ExtractGroupWide(inner, u'"', u'"'), u'"', u'"'));
        // The included file is written in the free-form dialect.
        if (Stream* stream = OpenIncludeStream(fileName, paths)) {
            return ParseIncluded(stream, root, paths, context);
        }
    }

    int32_t op = FindText(text, length, "=>", 2);
    int32_t opLength = 2;
    if (op < 0 || TokenLength(text, length, "=>", 2) != op) {
        op = FindUnit(s, u'=');
        opLength = 1;
        if (op >= 0 && TokenLength(text, length, "=", 1) != op) op = -1;
    }
    WideString key;
    WideString value;
    if (op >= 0) {
        key = WideSlice(text, op);
        value = WideSlice(text + op + opLength, length - op - opLength);
    } else {
        if (scope == nullptr) return true;
        key = WideString(NextAutoKey(scope));
        value = s;
    }
    ScriptNode* target = FindOrCreateNodeWide(root, key, scope);
    context.ResetChildren(target);
    const WideString v = TrimWide(value);
    const char16_t* vText = v.Text();
    const int32_t vLength = v.length();
    const bool isArray = StartsWith(vText, vLength, "array", 5);
    if (isArray || StartsWith(vText, vLength, "object", 6)) {
        // The value text is left as it was.
        target->kind = isArray ? ScriptNode::kArray : ScriptNode::kObject;
        return RunLineElements(root, target, v, paths, context);
    }
    if (vLength > 0 && (vText[0] == u'"' || vText[0] == u'\'')) {
        target->value = String(UnquoteWide(v, vText[0], vText[0]));
    } else {
        target->value = String(v);
    }
    target->kind = ScriptNode::kText;
    return true;
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
