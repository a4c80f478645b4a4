// The free-form dialect of the script language: statements end with ';' and may run over
// several lines; "//" starts a comment. Font, charset and texture description files use it.
//
//   Name = "Sylfaen";              text (quotes removed; backslashes kept)
//   Styles[0].Size = 64;           a path: '.' makes objects, '[...]' arrays
//   ColorKey = array(255, 0, 255); elements appended as children "0", "1", "2"
//   using Display; Width = 800;    later statements act below Display ("using ;" ends that)
//   include("common.fs");          parses another file into the same tree
//   a = b;                         any other value is a reference: a becomes a copy of b
#pragma once

#include "core/script/script_node.h"
#include "core/text/string.h"

#include <cstdint>

class SearchPaths;
class Stream;

// Reads the stream's bytes (Size() of them, one Read, from the current position) and runs
// every statement on the tree below root. paths (may be null) resolves included files. False
// when the bytes could not be read (an empty stream counts as unreadable), when an included
// file failed to parse, or when one of the bounds below refused work; the statements before
// and after keep their effect. The stream is not deleted.
// Bounds: includes nest at most 16 deep (a deeper include is not parsed and answers false);
// array(...)/object(...) values nest at most 256 deep (deeper elements are not run, false);
// reference copies may make at most 1 << 20 nodes and take at most 64 MB per parse (the
// copied nodes themselves, their names and their values), includes counted: a copy beyond
// either is not made, its target is left empty, kind 0, and the parse answers false; after
// such a refusal only copies of nodes without children are made.
// An empty statement (";;") is skipped; only the end of the text ends the parse.
bool ParseScript(Stream* stream, ScriptNode* root, SearchPaths* paths);

// The next statement of text[0, length) from `position`, which moves past it: bytes up to a
// ';' outside quotes (consumed, not kept) or the end of the text, without line breaks and
// without "//" comments (which start even inside quotes and run to the end of the line). A
// quote preceded by '\' does not open or close. Empty at the end of the text.
String ReadStatement(const char* text, int32_t length, int32_t& position);

// Runs one statement (see the file comment). scope (in/out, null = the root) is where paths
// start; "using" changes it. Answers the result of an include's parse or of a bound (see
// ParseScript), true otherwise. When the statement frees the node `scope` held, scope comes
// back null.
bool ExecuteStatement(ScriptNode* root, const String& statement, ScriptNode*& scope,
                      SearchPaths* paths);

// The node the path names below scope (the root when null), made with every missing node on
// the way: "a.b" makes a an object, "a[0]" and a["k"] make a an array; every '.' splits,
// also one inside brackets or quotes. The last node's kind is left as it was.
ScriptNode* FindOrCreateNode(ScriptNode* root, const String& path, ScriptNode* scope);

// The leading part of text up to the first separator outside "...", '...', [...] and (...)
// groups (all of it when there is none).
String TakeToken(const String& text, const String& separator);
// The group at the start of text from `open` to its matching `close`, delimiters included;
// the rest of the text when unclosed; empty when text does not begin with `open`.
String ExtractGroup(const String& text, char open, char close);
// The text between a leading `open` and the first `close` not escaped by '\' (backslashes
// are kept); text unchanged when it does not begin with `open` or the closer is missing.
String Unquote(const String& text, char open, char close);
// Moves position to the end of the line and past the line breaks that follow.
void SkipLine(const char* text, int32_t length, int32_t& position);
