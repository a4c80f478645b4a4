// The line dialect of the script language, for the settings script and the message texts:
// one statement per line, ';' ends it and starts a comment, and values are plain text unless
// quoted ('Title = Some title', 'Key = Software\Vendor' keep their text as written). The file
// is decoded to wide text with encoding 1 (the code page), parsed as wide text, and every key
// and value is stored narrow again in the same ScriptNode tree as the free-form dialect.
// There are no references and no number test; include hands the file to ParseScript.
#pragma once

#include "core/script/script_node.h"
#include "core/text/wide_string.h"

#include <cstdint>

class SearchPaths;
class Stream;

// Reads the stream's bytes (Size() of them, one Read) and runs every statement on root. False
// when the bytes could not be read (an empty stream counts as unreadable) or when any
// statement answered false -- also for harmless lines such as one of only blanks, so callers
// ignore the result. Every statement runs in any case. The stream is not deleted.
bool ParseLineScript(Stream* stream, ScriptNode* root, SearchPaths* paths);

// The next statement from `position`: line breaks and whole ';' comment lines are skipped,
// then the units up to (not including) the next line break or ';' are taken, untrimmed.
// Empty only at the end of the text.
WideString ReadScriptLine(const char16_t* text, int32_t length, int32_t& position);

// Runs one line statement, as ExecuteStatement does in the free-form dialect, with the
// differences above; an empty (or blank) statement answers false. When the statement frees
// the node `scope` held, scope comes back null.
bool ExecuteLineStatement(ScriptNode* root, const WideString& statement, ScriptNode*& scope,
                          SearchPaths* paths);

// The free-form helpers on 16-bit units (see script_parser.h); names of created nodes are
// each component converted to narrow text with encoding 1.
WideString TrimWide(const WideString& text);
void SkipLineWide(const char16_t* text, int32_t length, int32_t& position);
WideString ExtractGroupWide(const WideString& text, char16_t open, char16_t close);
WideString TakeTokenWide(const WideString& text, const WideString& separator);
WideString UnquoteWide(const WideString& text, char16_t open, char16_t close);
ScriptNode* FindOrCreateNodeWide(ScriptNode* root, const WideString& path, ScriptNode* scope);
