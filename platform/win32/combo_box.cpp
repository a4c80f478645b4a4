// Combo boxes: the item list, item data and selection live here, the GtkComboBoxText shows
// them. Every kind shows as a drop-down list; the text field of CBS_SIMPLE and CBS_DROPDOWN
// is not editable.

#include "platform/win32/dialogs_local.h"

#include <algorithm>
#include <cstring>

namespace rh::win32 {
namespace {

// Case-insensitive order of the current code page's letters, as CBS_SORT sorts.
bool LessIgnoringCase(const std::u16string& a, const std::u16string& b) {
    auto lower = [](char16_t c) -> char16_t { return c >= u'A' && c <= u'Z' ? c + 32 : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char16_t x, char16_t y) { return lower(x) < lower(y); });
}

class ComboBox final : public Control {
public:
    ComboBox(Dialog* dialog, const DialogItemTemplate& item) : Control(dialog, item) {
        GtkWidget* w = gtk_combo_box_text_new();
        g_signal_connect(w, "changed", G_CALLBACK(OnChanged), this);
        // The template's height includes the open list; the closed box is as tall as its text.
        rect_.bottom = rect_.top;
        SetWidget(w);
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(w, &minimum, &natural);
        rect_.bottom = rect_.top + minimum;
        ApplyRect();
    }

    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
        int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        switch (msg) {
            case CB_ADDSTRING: {
                if (lParam == 0) return CB_ERR;
                std::u16string text = WideFromAnsi(reinterpret_cast<const char*>(lParam));
                int at = Count();
                if (style() & CBS_SORT) {
                    auto pos = std::upper_bound(items_.begin(), items_.end(), text,
                                                [](const std::u16string& t, const Item& i) {
                                                    return LessIgnoringCase(t, i.text);
                                                });
                    at = static_cast<int>(pos - items_.begin());
                }
                Insert(at, std::move(text));
                return at;
            }
            case CB_INSERTSTRING: {
                if (lParam == 0 || index < -1 || index > Count()) return CB_ERR;
                int at = index == -1 ? Count() : index;
                Insert(at, WideFromAnsi(reinterpret_cast<const char*>(lParam)));
                return at;
            }
            case CB_DELETESTRING:
                if (!Valid(index)) return CB_ERR;
                items_.erase(items_.begin() + index);
                if (selected_ == index) selected_ = CB_ERR;
                else if (selected_ > index) --selected_;
                syncing_ = true;
                gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(widget()), index);
                syncing_ = false;
                SyncSelection();
                return Count();
            case CB_RESETCONTENT:
                items_.clear();
                selected_ = CB_ERR;
                syncing_ = true;
                gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(widget()));
                syncing_ = false;
                SyncSelection();
                return CB_OKAY;
            case CB_GETCOUNT:
                return Count();
            case CB_GETCURSEL:
                return selected_;
            case CB_SETCURSEL:
                selected_ = Valid(index) ? index : CB_ERR;
                SyncSelection();
                return selected_;
            case CB_GETLBTEXT: {
                char* out = reinterpret_cast<char*>(lParam);
                if (!Valid(index) || out == nullptr) return CB_ERR;
                std::string text = AnsiFromWide(items_[index].text);
                std::memcpy(out, text.c_str(), text.size() + 1);
                return static_cast<LRESULT>(text.size());
            }
            case CB_GETLBTEXTLEN:
                return Valid(index) ? static_cast<LRESULT>(AnsiFromWide(items_[index].text).size())
                                    : CB_ERR;
            case CB_SETITEMDATA:
                if (!Valid(index)) return CB_ERR;
                items_[index].data = lParam;
                return TRUE;
            case CB_GETITEMDATA:
                return Valid(index) ? items_[index].data : CB_ERR;
            default:
                return Control::Handle(msg, wParam, lParam);
        }
    }

private:
    struct Item {
        std::u16string text;
        LPARAM data = 0;
    };

    int Count() const { return static_cast<int>(items_.size()); }
    bool Valid(int index) const { return index >= 0 && index < Count(); }

    void Insert(int at, std::u16string text) {
        syncing_ = true;
        gtk_combo_box_text_insert_text(GTK_COMBO_BOX_TEXT(widget()), at, Utf8FromWide(text).c_str());
        syncing_ = false;
        items_.insert(items_.begin() + at, Item{std::move(text), 0});
        if (selected_ >= at) ++selected_;
    }

    // The window text of a drop-down list is its selected item.
    void SyncSelection() {
        text_ = Valid(selected_) ? items_[selected_].text : std::u16string();
        syncing_ = true;
        gtk_combo_box_set_active(GTK_COMBO_BOX(widget()), selected_);
        syncing_ = false;
    }

    static void OnChanged(GtkComboBox* box, gpointer self) {
        auto* combo = static_cast<ComboBox*>(self);
        if (combo->syncing_) return;
        int active = gtk_combo_box_get_active(box);
        combo->selected_ = combo->Valid(active) ? active : CB_ERR;
        combo->text_ = combo->Valid(active) ? combo->items_[active].text : std::u16string();
        combo->NotifyParent(CBN_SELCHANGE);
    }

    std::vector<Item> items_;
    int selected_ = CB_ERR;
};

}  // namespace

std::unique_ptr<Control> CreateComboBox(Dialog* dialog, const DialogItemTemplate& item) {
    return std::make_unique<ComboBox>(dialog, item);
}

}  // namespace rh::win32
