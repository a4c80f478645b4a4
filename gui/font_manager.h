// Bitmap fonts. A font description file (".fs") lists styles by size, each with the charset
// description files (".css") that cover its characters; a charset names a picture holding a
// grid of glyph cells, the cell size and layout, its first and last code, and the widths (and
// optionally explicit rectangles) of its glyphs. The one FontManager loads them and answers,
// for a style and a character code, which charset holds the glyph, how big it is and which
// texture rectangle to draw.
//
// Both files are read with the free-form script dialect (core/script/script_parser.h), so
// non-numeric values are quoted. A font file:
//
//   Styles[0].Size = 14;                     // the style's key; default 14
//   Styles[0].Bold = 1;                      // also "Italic"; present and above 0
//   Styles[0].FontName = "Body";             // optional
//   Styles[0].Charsets = array("body14.css");
//
// A charset file:
//
//   Name = "body14.png";             // the picture, found beside the charset file
//   Format = "D3DFMT_A8R8G8B8";      // default; an unknown name asks for no format
//   CharsPerLine = 16; CharWidth = 16; CharHeight = 14;
//   StartChar = 32; EndChar = 127;   // the end code gets no grid cell
//   ColorKey = array(255, 0, 255);   // or an integer; texels of that colour become clear
//   Sizes = array(4, 5, 6);          // widths from StartChar on (key = offset)
//   Rects.a = array(0, 0, 7, 13);    // explicit rectangle of the key's first character,
//                                    // right and bottom inclusive
//
// Ownership: each style owns its CharsetList and the list its charsets; a charset holds one
// reference to its texture (the texture registry keeps the picture). A charset list that a
// later style of the same size replaces is kept until the manager goes, because text already
// laid out may still point at its charsets.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "core/types/flag_word.h"
#include "core/types/point_rect.h"
#include "gui/font_style.h"
#include "render/texture.h"

#include <cstdint>

// One glyph picture and its grid.
class Charset {
public:
    Charset() = default;
    Charset(const Charset&) = delete;
    Charset& operator=(const Charset&) = delete;
    // Gives back the texture reference (and its parent's, for a sub-texture).
    ~Charset();

    // The picture; null when none loaded.
    Texture* GetTexture() const { return texture_; }
    // Takes over one reference to `texture` (and to its parent, for a sub-texture), giving
    // back the one held before.
    void SetTexture(Texture* texture);

    int32_t start = 0;         // "StartChar"
    int32_t end = 256;         // "EndChar"
    int32_t charsPerLine = 0;  // "CharsPerLine"; 0 until a file gives it
    int32_t cellWidth = 14;    // "CharWidth"; also the width of a code outside the charset
    int32_t cellHeight = 14;   // "CharHeight"; the height of every glyph
    DynArray<uint8_t> widths;  // by code - start
    DynArray<UvRect> rects;    // by code - start; (0, 0, 0, 0) where no glyph was placed

private:
    Texture* texture_ = nullptr;
};

// The charsets of one style, owned, in file order.
using CharsetList = LinkedList<Charset*>;

// Styles are keyed by size alone.
struct FontSizeOrder {
    int operator()(const FontStyle& a, const FontStyle& b) const {
        return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    }
};

class FontManager {
public:
    // The style map: its list runs in insertion order. Values are owned.
    using StyleMap = OrderedMap<FontStyle, CharsetList*, FontSizeOrder>;

    FontManager() = default;
    FontManager(const FontManager&) = delete;
    FontManager& operator=(const FontManager&) = delete;
    // Deletes every style's charsets and lists, the replaced ones too.
    ~FontManager();

    // Folders and archives where font files are looked for, before the extra paths of a load.
    SearchPaths& Paths() { return paths_; }

    // Reads a font description file and every charset it names (found beside the font file
    // first). A file that cannot be found, opened or parsed fails and stores nothing. Each
    // style with "Charsets" is stored (a style of a size already present replaces only that
    // entry's charset list); every charset joins its list whether it loaded or not, and one
    // that failed makes the whole load fail, with the line "Error: Charset '<name>' loading
    // failed" in the debug trace.
    FlagWord LoadFont(const FileRef& locator, SearchPaths* extraPaths = nullptr);

    // The list of the style of nearest size: the exact size when present (whatever its flags
    // and name), else the next larger one, and above every size the largest. Null when no
    // style is loaded.
    CharsetList* FindStyle(const FontStyle& style) const;
    // The first charset of FindStyle(style) whose start <= code <= end, the code taken as an
    // unsigned 16-bit value; null when none. The end code counts as inside, though it has no
    // grid cell.
    Charset* FindCharset(int32_t code, const FontStyle& style) const;
    // The first charset of the first style loaded; null when there is none.
    Charset* DefaultCharset() const;

    const StyleMap& Styles() const { return styles_; }

    // (width, cell height) of the glyph; the cell width for a code outside the charset (or
    // one whose width was never read, as in a charset that failed to load).
    static Point GlyphSize(const Charset& charset, int32_t code);
    // The glyph's texture rectangle (u0, v0, u1, v1); (0, 0, 0, 0) without a texture or for a
    // code without a rectangle.
    static UvRect GlyphRect(const Charset& charset, int32_t code);
    // GlyphRect shrunk by the insets in pixels of the picture; (0, 0, 0, 0) without a texture
    // or a picture of no size.
    static UvRect GlyphUV(const Charset& charset, int32_t code, float insetLeft, float insetTop, float insetRight,
                          float insetBottom);
    // Reads one charset description file into `charset` (see the file comment), resolving it
    // and its picture against `paths` and the file's own folder. Fails when the file is not
    // found or does not parse; when "CharsPerLine" is not above 0 or "Name" is empty (no grid
    // can be laid out); when "StartChar" or "EndChar" lies outside 0..65535 or the end is below
    // the start (these leave the charset as it was); and when the picture does not load or has
    // no size ("Error: font texture loading failed" in the debug trace). "Sizes" and "Rects"
    // entries of codes outside the charset are ignored.
    static FlagWord LoadCharset(Charset& charset, const FileRef& locator, const SearchPaths& paths);

private:
    SearchPaths paths_;
    StyleMap styles_;
    // Charset lists replaced by a later style of the same size; deleted with the manager.
    LinkedList<CharsetList*> replaced_;
};

// The one font manager, from static construction to exit.
extern FontManager g_fontManager;
