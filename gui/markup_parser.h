// The rich text markup: elements in angle brackets with attributes, plain text runs, and raw
// sections whose content is never interpreted, read into a RichTextNode tree.
//
//   a b <B Size=20>bold <I>and italic</I></B><RAW>shown as <it> is</RAW><IMG Src="x.png"/>
//
// A text run starts at its first word (blanks before it are dropped) and runs up to the next
// "<", "</" or "<RAW>", blanks before that kept; ">", "/>" and "</RAW>" inside a run are text.
// Only the space separates tokens; newlines and tabs are text.
#pragma once

#include "core/text/wide_string.h"
#include "gui/rich_text.h"

#include <cstdint>

// Nodes nest at most this deep below the root (its children are at depth 1). A deeper element
// or text makes the parse false and ends it, so that no markup can exhaust the parser's stack.
constexpr int32_t kMaxMarkupDepth = 256;

// Replaces the root's children by the document of the text (the old ones are deleted once the
// new document stands, so the text may be one of theirs), detaches the root from any parent and
// makes it the element "root". The parse keeps going over bad markup; the result is false when a
// closing tag did not match its element, was not followed by ">", or stood at the top level
// where no element is open, and when the nesting went too deep (which also ends the parse).
// An element whose text ends before its closing tag is kept with what it holds, without
// error; a raw section without its "</RAW>" is dropped.
bool ParseDocument(RichTextNode& root, const WideString& text);
// ParseDocument, then UpdateNode(root, recursive); the parse result.
bool ParseMarkupText(RichTextNode& root, const WideString& text);
// The document of a plain text: the root reset as ParseDocument does, holding one text node
// with every character of the text as it stands (the tree a raw section gives, for any text,
// including one that contains "</RAW>"); then UpdateNode(root, recursive).
void BuildPlainDocument(RichTextNode& root, const WideString& text);

// Reads attribute text (the characters of a tag between its name and its end) into the node,
// with the C-like tokenizer: `name`, `name = value` with a value that is a quoted string
// (stored without its quotes), a number or a word. An existing name gets the new value.
// False at an "=" without a name before it or without a value after it; the attributes read
// until then stay.
bool ParseAttributes(RichTextNode& node, const WideString& text);
