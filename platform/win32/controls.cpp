// The control base shared by every control kind, and the static controls: text and bitmap.

#include "platform/win32/dialogs_local.h"

#include <rimeholt/log.h>

#include <algorithm>
#include <cstring>

namespace rh::win32 {
namespace {

const char kControlKey[] = "rh-control";

}  // namespace

std::string GtkLabelText(const std::u16string& text, bool mnemonics) {
    if (!mnemonics) return Utf8FromWide(text);
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out.push_back(u'&');
                ++i;
            } else if (i + 1 < text.size()) {
                out.push_back(u'_');
            }
        } else if (c == u'_') {
            out += u"__";
        } else {
            out.push_back(c);
        }
    }
    return Utf8FromWide(out);
}

Control::Control(Dialog* dialog, const DialogItemTemplate& item)
    : HWND__(dialog, item.id, item.style, item.exStyle), dialog_(dialog) {
    if (!item.title.isOrdinal) text_ = item.title.text;
    const DialogUnits& u = dialog->units();
    int x = u.X(item.x), y = u.Y(item.y);
    rect_ = RECT{x, y, x + u.X(item.cx), y + u.Y(item.cy)};
}

Control::~Control() {
    if (widget_ != nullptr) {
        g_signal_handlers_disconnect_by_data(widget_, this);
        g_object_set_data(G_OBJECT(widget_), kControlKey, nullptr);
        g_object_remove_weak_pointer(G_OBJECT(widget_), reinterpret_cast<gpointer*>(&widget_));
    }
}

void Control::SetWidget(GtkWidget* w) {
    widget_ = w;
    g_object_add_weak_pointer(G_OBJECT(w), reinterpret_cast<gpointer*>(&widget_));
    g_object_set_data(G_OBJECT(w), kControlKey, this);
    gtk_layout_put(dialog_->layout(), w, rect_.left, rect_.top);
    ApplyRect();
    gtk_widget_set_sensitive(w, enabled());
    if (style() & WS_VISIBLE) gtk_widget_show_all(w);
}

void Control::ApplyRect() {
    if (widget_ == nullptr) return;
    gtk_layout_move(dialog_->layout(), widget_, rect_.left, rect_.top);
    gtk_widget_set_size_request(widget_, std::max<int>(0, rect_.right - rect_.left),
                                std::max<int>(0, rect_.bottom - rect_.top));
}

Control* Control::FromWidget(GtkWidget* widget) {
    for (GtkWidget* w = widget; w != nullptr; w = gtk_widget_get_parent(w)) {
        if (auto* c = static_cast<Control*>(g_object_get_data(G_OBJECT(w), kControlKey))) {
            return LiveWindow(c) != nullptr ? c : nullptr;
        }
    }
    return nullptr;
}

bool Control::CanTakeFocus() const {
    return (style() & WS_TABSTOP) != 0 && enabled() && widget_ != nullptr &&
           gtk_widget_get_visible(widget_) && gtk_widget_get_can_focus(widget_);
}

bool Control::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    return PostToGtkWindow(this, msg, wParam, lParam);
}

bool Control::Place(HWND, int x, int y, int cx, int cy, UINT flags) {
    if ((flags & SWP_NOMOVE) == 0) {
        LONG w = rect_.right - rect_.left, h = rect_.bottom - rect_.top;
        rect_ = RECT{x, y, x + w, y + h};
    }
    if ((flags & SWP_NOSIZE) == 0) {
        rect_.right = rect_.left + std::max(cx, 0);
        rect_.bottom = rect_.top + std::max(cy, 0);
    }
    ApplyRect();
    if (widget_ != nullptr && (flags & SWP_SHOWWINDOW)) gtk_widget_show_all(widget_);
    if (widget_ != nullptr && (flags & SWP_HIDEWINDOW)) gtk_widget_hide(widget_);
    dialog_->FitControls();
    return true;
}

RECT Control::ScreenRect() const {
    RECT client = dialog_->ClientScreenRect();
    return RECT{client.left + rect_.left, client.top + rect_.top, client.left + rect_.right,
                client.top + rect_.bottom};
}

RECT Control::ClientScreenRect() const { return ScreenRect(); }

void Control::NotifyParent(WORD code) {
    if (HWND__* parent = LiveWindow(this->parent())) {
        parent->Handle(WM_COMMAND, MAKEWPARAM(id(), code), reinterpret_cast<LPARAM>(this));
    }
}

void Control::OnEnabledChanged() {
    if (widget_ != nullptr) gtk_widget_set_sensitive(widget_, enabled());
}

GdkPixbuf* LoadBitmapResource(HINSTANCE instance, uint16_t id) {
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(id), RT_BITMAP);
    if (resource == nullptr) return nullptr;
    const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(instance, resource)));
    size_t size = SizeofResource(instance, resource);
    std::vector<uint8_t> file;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        file.assign(data, data + size);
    } else {
        if (size < 16) return nullptr;
        auto u32 = [&](size_t at) {
            return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                   uint32_t(data[at + 3]) << 24;
        };
        uint32_t headerSize = u32(0);
        bool core = headerSize == 12;
        if (!core && (headerSize < 40 || size < 40)) return nullptr;
        uint32_t bits = core ? uint32_t(data[10] | data[11] << 8) : uint32_t(data[14] | data[15] << 8);
        uint32_t compression = core ? 0 : u32(16);
        uint32_t used = core ? 0 : u32(32);
        uint32_t colors = used != 0 ? used : bits <= 8 ? (1u << bits) : 0;
        uint32_t masks = (!core && headerSize == 40 && compression == 3 /*BI_BITFIELDS*/) ? 12 : 0;
        uint64_t offset = 14ull + headerSize + masks + uint64_t(colors) * (core ? 3 : 4);
        if (offset > 14ull + size) return nullptr;
        uint32_t total = static_cast<uint32_t>(14 + size);
        uint32_t off = static_cast<uint32_t>(offset);
        const uint8_t header[14] = {'B', 'M',
                                    uint8_t(total), uint8_t(total >> 8), uint8_t(total >> 16),
                                    uint8_t(total >> 24), 0, 0, 0, 0,
                                    uint8_t(off), uint8_t(off >> 8), uint8_t(off >> 16),
                                    uint8_t(off >> 24)};
        file.assign(header, header + 14);
        file.insert(file.end(), data, data + size);
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("bmp", nullptr);
    if (loader == nullptr) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    bool ok = gdk_pixbuf_loader_write(loader, file.data(), file.size(), nullptr);
    ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
    if (ok && (pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) != nullptr) g_object_ref(pixbuf);
    g_object_unref(loader);
    return pixbuf;
}

namespace {

bool HasSunkenEdge(const DialogItemTemplate& item) {
    return (item.style & (SS_SUNKEN | WS_BORDER)) != 0 ||
           (item.exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0;
}

// A sunken edge is a frame drawn around the content.
GtkWidget* WithEdge(GtkWidget* content, bool sunken) {
    if (!sunken) return content;
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(frame), content);
    return frame;
}

// Text statics: SS_LEFT, SS_CENTER, SS_RIGHT wrap words; SS_LEFTNOWORDWRAP clips. Other
// static kinds (icons, rectangles, ...) show as an empty area.
class StaticText final : public Control {
public:
    StaticText(Dialog* dialog, const DialogItemTemplate& item) : Control(dialog, item) {
        DWORD kind = item.style & SS_TYPEMASK;
        isText_ = kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT ||
                  kind == SS_LEFTNOWORDWRAP || kind == 0xB /*SS_SIMPLE*/;
        label_ = gtk_label_new(nullptr);
        float xalign = kind == SS_CENTER ? 0.5f : kind == SS_RIGHT ? 1.0f : 0.0f;
        gtk_label_set_xalign(GTK_LABEL(label_), xalign);
        gtk_label_set_yalign(GTK_LABEL(label_), 0.0f);
        gtk_label_set_justify(GTK_LABEL(label_), kind == SS_CENTER  ? GTK_JUSTIFY_CENTER
                                                 : kind == SS_RIGHT ? GTK_JUSTIFY_RIGHT
                                                                    : GTK_JUSTIFY_LEFT);
        if (kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT) {
            gtk_label_set_line_wrap(GTK_LABEL(label_), TRUE);
            gtk_label_set_line_wrap_mode(GTK_LABEL(label_), PANGO_WRAP_WORD_CHAR);
            // A wrapping label otherwise asks for a width of its own guessing; Windows wraps at
            // the control's width, which the size request gives it.
            gtk_label_set_width_chars(GTK_LABEL(label_), 1);
            gtk_label_set_max_width_chars(GTK_LABEL(label_), 1);
        } else {
            gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_NONE);
        }
        OnTextChanged();
        SetWidget(WithEdge(label_, HasSunkenEdge(item)));
    }

protected:
    void OnTextChanged() override {
        if (!isText_) return;
        bool mnemonics = (style() & SS_NOPREFIX) == 0;
        std::string text = GtkLabelText(text_, mnemonics);
        if (mnemonics) {
            gtk_label_set_text_with_mnemonic(GTK_LABEL(label_), text.c_str());
        } else {
            gtk_label_set_text(GTK_LABEL(label_), text.c_str());
        }
    }

private:
    GtkWidget* label_;
    bool isText_;
};

constexpr DWORD kRealSizeControl = 0x40;  // SS_REALSIZECONTROL: stretch to the control

// SS_BITMAP: the picture named by the title's ordinal. Windows sizes the control to the
// picture unless SS_CENTERIMAGE or SS_REALSIZECONTROL keeps the template's size.
class StaticBitmap final : public Control {
public:
    StaticBitmap(Dialog* dialog, const DialogItemTemplate& item) : Control(dialog, item) {
        GdkPixbuf* pixbuf = item.title.isOrdinal
                                ? LoadBitmapResource(dialog->instance(), item.title.ordinal)
                                : nullptr;
        if (pixbuf == nullptr) {
            rh::LogWarning("dialog control %d: bitmap %d cannot be loaded", item.id,
                           item.title.isOrdinal ? item.title.ordinal : -1);
        }
        bool sunken = HasSunkenEdge(item);
        int edge = sunken ? ((item.exStyle & WS_EX_CLIENTEDGE) ? 2 : 1) : 0;
        if (pixbuf != nullptr && (item.style & kRealSizeControl) != 0) {
            int w = std::max<int>(1, rect_.right - rect_.left - 2 * edge);
            int h = std::max<int>(1, rect_.bottom - rect_.top - 2 * edge);
            GdkPixbuf* scaled = gdk_pixbuf_scale_simple(pixbuf, w, h, GDK_INTERP_BILINEAR);
            g_object_unref(pixbuf);
            pixbuf = scaled;
        } else if (pixbuf != nullptr && (item.style & SS_CENTERIMAGE) == 0) {
            rect_.right = rect_.left + gdk_pixbuf_get_width(pixbuf) + 2 * edge;
            rect_.bottom = rect_.top + gdk_pixbuf_get_height(pixbuf) + 2 * edge;
        }
        GtkWidget* image = pixbuf != nullptr ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
        if (pixbuf != nullptr) g_object_unref(pixbuf);
        SetWidget(WithEdge(image, sunken));
    }
};

}  // namespace

std::unique_ptr<Control> CreateStatic(Dialog* dialog, const DialogItemTemplate& item) {
    if ((item.style & SS_TYPEMASK) == SS_BITMAP) return std::make_unique<StaticBitmap>(dialog, item);
    return std::make_unique<StaticText>(dialog, item);
}

}  // namespace rh::win32
